#include "apps/tarvelin-studio/LiveOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace studio {

std::vector<std::uint8_t> MakeLiveOverlay(const img::UniImage<std::uint8_t>& frame,
                                          const LiveOverlayOptions& options, ExposureStats& stats) {
  stats = {};
  const std::size_t n = std::size_t(frame.width) * frame.height;
  std::vector<std::uint8_t> rgba(n * 4);
  std::size_t saturated = 0, dark = 0;
  std::size_t histogram[256] = {};
  double sum = 0.0;
  const std::uint8_t* grey = frame.GetImagePtr();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t v = grey[i];
    sum += v;
    ++histogram[v];
    std::uint8_t* p = &rgba[i * 4];
    p[0] = p[1] = p[2] = v;
    p[3] = 255;
    if (v >= options.saturatedLevel) {
      ++saturated;
      if (options.saturation) p[1] = p[2] = 0;
    } else if (v <= options.darkLevel) {
      ++dark;
      if (options.underexposure) {
        p[0] = p[1] = 0;
        p[2] = 200;
      }
    }
  }
  if (n > 0) {
    stats.saturated = double(saturated) / double(n);
    stats.dark = double(dark) / double(n);
    stats.mean = sum / double(n);
    std::size_t below = 0;
    while (stats.p99 < 255 && (below += histogram[stats.p99]) < n - n / 100) ++stats.p99;
  }
  return rgba;
}

double AddQualityOverlay(std::vector<std::uint8_t>& rgba, std::uint32_t width, std::uint32_t height,
                         const img::UniImage<float>& quality) {
  if (quality.width != width || quality.height != height ||
      rgba.size() < std::size_t(width) * height * 4)
    return 0.0;
  std::size_t decoded = 0;
  const float* q = quality.GetImagePtr();
  for (std::uint32_t y = 0; y < height; ++y) {
    const float* row = q + std::size_t(y) * width;
    // Rejected pixels are marked only between the row's first and last
    // decoded pixel: the background beyond the object stays as it is.
    std::uint32_t first = width, last = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
      if (!(row[x] > 0.f)) continue;
      first = std::min(first, x);
      last = x;
    }
    for (std::uint32_t x = first; x <= last && first < width; ++x) {
      std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
      const auto blend = [p](int channel, float towards, float weight) {
        p[channel] = std::uint8_t(std::lround(p[channel] * (1.f - weight) + towards * weight));
      };
      if (row[x] > 0.f) {
        ++decoded;
        const float weight = 0.25f + 0.35f * std::min(row[x], 1.f);
        blend(0, 0.f, weight);
        blend(1, 255.f, weight);
        blend(2, 0.f, weight);
      } else {
        blend(0, 255.f, 0.5f);
        blend(1, 0.f, 0.5f);
        blend(2, 0.f, 0.5f);
      }
    }
  }
  return double(decoded) / double(std::max<std::size_t>(std::size_t(width) * height, 1));
}

std::string ExposureAdvice(const ExposureStats& stats, const Texts& texts) {
  if (stats.saturated > 0.02)
    return texts.Format("Studio_Exposure_Saturated", {Texts::Number(stats.saturated * 100.0, 1)});
  if (stats.p99 < 64) return texts.Format("Studio_Exposure_Dark", {std::to_string(stats.p99)});
  return {};
}

}  // namespace studio
