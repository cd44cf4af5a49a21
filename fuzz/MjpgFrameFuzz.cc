// Decodes arbitrary bytes as a MJPG camera frame: the decoder must decode or
// refuse, never write outside the frame buffer it was given.

#include <cstdint>
#include <vector>

#include "vid/JpegDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static vid::JpegDecoder decoder;
  int width = 0, height = 0;
  if (!decoder.ReadSize(data, size, width, height)) return 0;
  if (width <= 0 || height <= 0 || std::int64_t(width) * height > (1 << 22)) return 0;
  for (auto output : {vid::JpegDecoder::Output::kBgr24, vid::JpegDecoder::Output::kGray8}) {
    const std::size_t stride =
        (std::size_t(width) * (output == vid::JpegDecoder::Output::kBgr24 ? 3 : 1) + 3) / 4 * 4;
    std::vector<std::uint8_t> frame(stride * std::size_t(height));
    decoder.Decode(data, size, width, height, output, frame.data(), stride);
  }
  return 0;
}
