#include "scan/SLPattern.h"

#include <algorithm>
#include <cstring>

namespace scan {

std::array<std::uint8_t, 4> SineIntensity(double c) {
  return {static_cast<std::uint8_t>(static_cast<int>(c)), static_cast<std::uint8_t>(static_cast<int>(c + 1.0 / 3.0)),
          static_cast<std::uint8_t>(static_cast<int>(c + 2.0 / 3.0)), 255};
}

void SLAxisAlignedStripedPattern::Render(SLRenderImage& image) const {
  const std::uint32_t w = image.width;
  const std::uint32_t h = image.height;
  if (w == 0 || h == 0) return;
  const std::size_t rowBytes = std::size_t(w) * image.bytesPerPixel;
  if (m_alongX) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const auto rgba = IntensityAt(x);
      image.Put(x, 0, {rgba[2], rgba[1], rgba[0], rgba[3]});
    }
    // Copy row 0 in doubling blocks: 1 row, then 2, 4, … and the remainder.
    std::uint32_t filled = 1;
    while (filled < h) {
      const std::uint32_t n = std::min(filled, h - filled);
      std::memcpy(image.data + filled * rowBytes, image.data, n * rowBytes);
      filled += n;
    }
  } else {
    for (std::uint32_t y = 0; y < h; ++y) {
      const auto rgba = IntensityAt(y);
      image.Put(0, y, {rgba[2], rgba[1], rgba[0], rgba[3]});
      const std::uint8_t* first = image.Pixel(0, y);
      for (std::uint32_t x = 1; x < w; ++x) std::memcpy(image.Pixel(x, y), first, image.bytesPerPixel);
    }
  }
}

}  // namespace scan
