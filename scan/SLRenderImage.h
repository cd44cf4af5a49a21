#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "foundation/img/UniImage.h"

namespace scan {

// The 32-bit frame buffer that patterns render into: row-major, row 0 first,
// pixel bytes blue, green, red, alpha. Every pixel a pattern writes is ANDed
// with channelMask (one byte per channel, same order). Not copyable.
class SLRenderImage {
 public:
  // Allocates an uninitialised buffer of width·height·4 bytes; all channels enabled.
  SLRenderImage(std::uint32_t width, std::uint32_t height);
  ~SLRenderImage();
  SLRenderImage(const SLRenderImage&) = delete;
  SLRenderImage& operator=(const SLRenderImage&) = delete;

  // mask bit 0 red, bit 1 green, bit 2 blue, bit 3 alpha; set bits enable a
  // channel (mask byte 255), clear bits disable it (0).
  void SetColorChannelMaskToColorChannels(std::uint32_t mask);

  std::uint8_t* Pixel(std::uint32_t x, std::uint32_t y) {
    return data + (std::size_t(y) * width + x) * bytesPerPixel;
  }
  const std::uint8_t* Pixel(std::uint32_t x, std::uint32_t y) const {
    return data + (std::size_t(y) * width + x) * bytesPerPixel;
  }
  // Writes the four bytes b, g, r, a at (x, y), masked.
  void Put(std::uint32_t x, std::uint32_t y, const std::array<std::uint8_t, 4>& bgra) {
    std::uint8_t* p = Pixel(x, y);
    for (int c = 0; c < 4; ++c) p[c] = bgra[c] & channelMask[c];
  }

  // The colour channels as an image (alpha dropped).
  img::UniImage<img::RGB8> ToRGBImage() const;

  std::uint8_t* data = nullptr;
  bool ownsData = true;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t bytesPerPixel = 4;
  std::array<std::uint8_t, 4> channelMask{255, 255, 255, 255};
};

using SLRenderImagePtr = std::shared_ptr<SLRenderImage>;

}  // namespace scan
