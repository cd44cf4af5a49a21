#include "devices/felvar/ImageTextureFilter.h"

#include <cstdlib>
#include <iostream>

namespace felvar {

std::uint32_t ImageTextureFilter::Brightness(const vid::Image& image) {
  const auto& raw = *image.data;
  const std::int32_t width = image.format.width, height = std::abs(image.format.height);
  std::uint64_t sum = 0, count = 0;
  for (std::int32_t y = 0; y < height; y += 4) {
    const std::uint8_t* row = raw.Row(std::uint32_t(y));
    for (std::int32_t x = 0; x < width; x += 4) {
      const std::uint8_t* p = row + 3 * x;
      sum += (std::uint32_t(p[0]) + p[1] + p[2]) / 3;
      ++count;
    }
  }
  return count ? std::uint32_t(sum / count) : 0;
}

vid::FilterResult ImageTextureFilter::Filter(const vid::Image& image) {
  vid::FilterResult result;
  if (image.IsEmpty() || image.format.mediaSubtype != vid::subtype::RGB24) {
    result.drop = true;
    return result;
  }
  const std::uint32_t y = Brightness(image);
  std::cout << "ImageTextureFilter, Y=" << y;
  if (y > m_threshold) {
    std::cout << ", Pass.\n";
    result.replacement = vid::CopyImage(image);
  } else {
    std::cout << ", Fail.\n";
    result.drop = true;
  }
  return result;
}

}  // namespace felvar
