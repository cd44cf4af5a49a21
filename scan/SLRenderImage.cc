#include "scan/SLRenderImage.h"

namespace scan {

SLRenderImage::SLRenderImage(std::uint32_t w, std::uint32_t h) : width(w), height(h) {
  const std::size_t bytes = std::size_t(w) * h * bytesPerPixel;
  data = bytes > 0 ? new std::uint8_t[bytes] : nullptr;  // uninitialised on purpose
}

SLRenderImage::~SLRenderImage() {
  if (ownsData) delete[] data;
}

void SLRenderImage::SetColorChannelMaskToColorChannels(std::uint32_t mask) {
  channelMask[2] = (mask & 1) ? 255 : 0;  // red
  channelMask[1] = (mask & 2) ? 255 : 0;  // green
  channelMask[0] = (mask & 4) ? 255 : 0;  // blue
  channelMask[3] = (mask & 8) ? 255 : 0;  // alpha
}

img::UniImage<img::RGB8> SLRenderImage::ToRGBImage() const {
  img::UniImage<img::RGB8> out(width, height);
  for (std::int32_t i = 0; i < out.size; ++i) {
    const std::uint8_t* p = data + std::size_t(i) * bytesPerPixel;
    out.data[i] = img::RGB8{p[0], p[1], p[2]};
  }
  return out;
}

}  // namespace scan
