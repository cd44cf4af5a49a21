#include "apps/tarvelin-studio/LiveOverlay.h"

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

std::string ExposureAdvice(const ExposureStats& stats) {
  char text[160];
  if (stats.saturated > 0.02) {
    std::snprintf(text, sizeof text,
                  "%.1f %% of the pixels are saturated: lower the exposure or the gain.",
                  stats.saturated * 100.0);
    return text;
  }
  if (stats.p99 < 64) {
    std::snprintf(
        text, sizeof text,
        "The image is dark (its brightest part reaches grey %d of 255): raise the exposure.",
        stats.p99);
    return text;
  }
  return {};
}

}  // namespace studio
