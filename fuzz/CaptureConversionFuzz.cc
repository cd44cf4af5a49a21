// Feeds arbitrary frames (subtype, size, stride, palette and bytes chosen by
// the input) to the capture conversions and the change test: they must
// convert or refuse, never read outside the frame's bytes.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "vid/ContentChangeDetection.h"
#include "vid/ImageConversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  static const utils::Guid kSubtypes[] = {
      vid::subtype::Y800, vid::subtype::BY8,   vid::subtype::YUY2,  vid::subtype::UYVY,
      vid::subtype::RGB8, vid::subtype::RGB24, vid::subtype::RGB32, utils::Guid()};
  vid::Image frame;
  frame.format.mediaSubtype = kSubtypes[data[0] % 8];
  frame.format.width = 1 + data[1] % 64;
  frame.format.height = 1 + data[2] % 64;
  const int stride = frame.format.width + data[3] % 200;
  const int scale = data[4] % 2;
  static const std::uint32_t kRotations[] = {vid::kRotationNone, vid::kRotationRight,
                                             vid::kRotation180, vid::kRotationLeft};
  const std::uint32_t rotation = kRotations[data[5] % 4];
  const int rows = 1 + data[6] % 64;  // may be fewer than the format says
  if (data[7] & 1) {
    auto meta = std::make_shared<vid::ImageMetadata>();
    meta->palette.resize(data[7] >> 1, img::RGB8{1, 2, 3});
    frame.info.metadata = meta;
  }
  std::vector<std::uint8_t> bytes(std::size_t(stride) * rows);
  const std::size_t n = std::min(bytes.size(), size - 8);
  if (n > 0) std::memcpy(bytes.data(), data + 8, n);
  vid::Format rowsFormat = frame.format;
  rowsFormat.height = rows;
  frame.data = vid::MakeRawByteImage(rowsFormat, stride, bytes.data(), false);

  img::UniImage<std::uint8_t> grey;
  img::UniImage<img::RGB8> colour;
  try {
    vid::ConvertToGray(frame, grey, scale, rotation);
  } catch (const std::logic_error&) {
  }
  try {
    vid::ConvertToColor(frame, colour, scale, rotation);
  } catch (const std::logic_error&) {
  }
  vid::ViewAsGray(frame, grey);
  vid::ImagesDiffer(frame, frame, 90);
  return 0;
}
