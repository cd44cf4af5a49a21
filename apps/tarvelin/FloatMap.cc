#include "apps/tarvelin/FloatMap.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace tarvelin {

bool SaveFloatMap(const img::UniImage<float>& image, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const bool little = std::endian::native == std::endian::little;
  out << "Pf\n" << image.width << ' ' << image.height << '\n' << (little ? "-1.0" : "1.0") << '\n';
  for (std::uint32_t y = image.height; y-- > 0;) {
    out.write(reinterpret_cast<const char*>(image.Row(y)), std::streamsize(image.width * sizeof(float)));
  }
  return static_cast<bool>(out);
}

bool LoadFloatMap(const std::filesystem::path& path, img::UniImage<float>& image, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open";
    return false;
  }
  std::string magic;
  long long w = 0, h = 0;
  double scale = 0;
  if (!(in >> magic >> w >> h >> scale) || magic != "Pf" || w <= 0 || h <= 0 || w > 65535 || h > 65535 ||
      scale == 0 || !std::isfinite(scale)) {
    error = "not a one-channel PFM file";
    return false;
  }
  in.get();  // the single whitespace after the scale
  const bool little = scale < 0;
  const bool swap = little != (std::endian::native == std::endian::little);
  img::UniImage<float> result(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h));
  for (std::uint32_t y = result.height; y-- > 0;) {
    if (!in.read(reinterpret_cast<char*>(result.Row(y)), std::streamsize(result.width * sizeof(float)))) {
      error = "truncated pixel data";
      return false;
    }
    if (swap) {
      for (std::uint32_t x = 0; x < result.width; ++x) {
        std::uint32_t bits;
        std::memcpy(&bits, &result(x, y), 4);
        bits = __builtin_bswap32(bits);
        std::memcpy(&result(x, y), &bits, 4);
      }
    }
  }
  image = std::move(result);
  return true;
}

img::UniImage<img::RGB8> FalseColour(const img::UniImage<float>& image, float lo, float hi,
                                     const img::UniImage<float>* mask) {
  img::UniImage<img::RGB8> out(image.width, image.height);
  for (std::int32_t j = 0; j < image.size; ++j) {
    const float v = image.data[j];
    if (!(v >= lo && v <= hi) || (mask && !(mask->data[j] > 0.0f))) {
      out.data[j] = img::RGB8{};
      continue;
    }
    // Four linear segments through blue, cyan, green, yellow, red.
    const float t = hi > lo ? (v - lo) / (hi - lo) * 4.0f : 0.0f;
    const int segment = std::min(3, static_cast<int>(t));
    const auto up = static_cast<img::uint8>(255.0f * (t - segment));
    const auto down = static_cast<img::uint8>(255 - up);
    switch (segment) {
      case 0: out.data[j] = img::RGB8::FromRGB(0, up, 255); break;
      case 1: out.data[j] = img::RGB8::FromRGB(0, 255, down); break;
      case 2: out.data[j] = img::RGB8::FromRGB(up, 255, 0); break;
      default: out.data[j] = img::RGB8::FromRGB(255, down, 0); break;
    }
  }
  return out;
}

img::UniImage<img::uint8> GreyPreview(const img::UniImage<float>& image) {
  img::UniImage<img::uint8> out(image.width, image.height);
  for (std::int32_t j = 0; j < image.size; ++j) {
    const float v = image.data[j];
    out.data[j] = v > 0.0f ? static_cast<img::uint8>(std::min(1.0f, v) * 255.0f) : 0;
  }
  return out;
}

}  // namespace tarvelin
