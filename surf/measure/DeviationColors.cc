#include "surf/measure/DeviationColors.h"

#include <algorithm>
#include <cmath>

namespace surf {

v3d::Color4ub DeviationColor(float deviation, float tolerance) {
  if (std::isnan(deviation) || !(tolerance > 0)) return {128, 128, 128, 255};
  // Position on the ramp, 0 at −t … 4 at +t, between the five stops.
  static constexpr float kStops[5][3] = {
      {0, 0, 255}, {0, 255, 255}, {0, 255, 0}, {255, 255, 0}, {255, 0, 0}};
  const float s = std::clamp((deviation / tolerance + 1.f) * 2.f, 0.f, 4.f);
  const int k = std::min(3, int(s));
  const float f = s - float(k);
  std::uint8_t c[3];
  for (int i = 0; i < 3; ++i)
    c[i] = std::uint8_t(std::lround(kStops[k][i] + f * (kStops[k + 1][i] - kStops[k][i])));
  return {c[0], c[1], c[2], 255};
}

img::RGBImage DeviationHistogram(const std::vector<float>& deviations, float tolerance, int width,
                                 int height, int bins) {
  width = std::max(width, 16);
  height = std::max(height, 16);
  bins = std::clamp(bins, 1, width);
  std::vector<std::size_t> counts(std::size_t(bins), 0);
  for (const float d : deviations) {
    if (std::isnan(d) || !(tolerance > 0)) continue;
    const float s = std::clamp((d / tolerance + 1.f) / 2.f, 0.f, 1.f);
    ++counts[std::min(std::size_t(bins) - 1, std::size_t(s * float(bins)))];
  }
  const std::size_t fullest =
      std::max<std::size_t>(1, *std::max_element(counts.begin(), counts.end()));
  img::RGBImage image{std::uint32_t(width), std::uint32_t(height)};
  const auto pixel = [&](int x, int y) -> img::RGB8& {
    return image(std::uint32_t(x), std::uint32_t(y));
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixel(x, y) = img::RGB8::FromRGB(255, 255, 255);
  for (int x = 0; x < width; ++x) {
    const int bin = std::min(bins - 1, x * bins / width);
    const float centre = ((float(bin) + 0.5f) / float(bins) * 2.f - 1.f) * tolerance;
    const v3d::Color4ub colour = DeviationColor(centre, tolerance);
    const int bar =
        int(std::lround(double(counts[std::size_t(bin)]) / double(fullest) * (height - 1)));
    for (int y = height - bar; y < height; ++y)
      pixel(x, y) = img::RGB8::FromRGB(colour.r, colour.g, colour.b);
  }
  for (int y = 0; y < height; ++y) {
    pixel(width / 2, y) = img::RGB8::FromRGB(0, 0, 0);
    if (y % 4 < 2) {
      pixel(width / 4, y) = img::RGB8::FromRGB(160, 160, 160);
      pixel(3 * width / 4, y) = img::RGB8::FromRGB(160, 160, 160);
    }
  }
  return image;
}

}  // namespace surf
