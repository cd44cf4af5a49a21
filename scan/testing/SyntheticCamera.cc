#include "scan/testing/SyntheticCamera.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace scan::testing {
namespace {

// One channel (or the grey mean) of the rendered pattern as doubles.
std::vector<double> Channel(const SLRenderImage& image, int channel) {
  std::vector<double> out(std::size_t(image.width) * image.height);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::uint8_t* p = image.data + 4 * i;
    out[i] = channel < 0 ? (p[0] + p[1] + p[2]) / 3.0 : p[channel];
  }
  return out;
}

double Bilinear(const std::vector<double>& plane, std::uint32_t w, std::uint32_t h, double u, double v) {
  u = std::clamp(u, 0.0, double(w - 1));
  v = std::clamp(v, 0.0, double(h - 1));
  const auto x0 = std::min(static_cast<std::uint32_t>(u), w - 1);
  const auto y0 = std::min(static_cast<std::uint32_t>(v), h - 1);
  const std::uint32_t x1 = std::min(x0 + 1, w - 1);
  const std::uint32_t y1 = std::min(y0 + 1, h - 1);
  const double fx = u - x0;
  const double fy = v - y0;
  auto at = [&](std::uint32_t x, std::uint32_t y) { return plane[std::size_t(y) * w + x]; };
  return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) + fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1));
}

}  // namespace

std::array<double, 2> SyntheticCamera::ProjectorPosition(double x, double y) const {
  const auto& a = m_options.mapX;
  const auto& b = m_options.mapY;
  return {a[0] * x + a[1] * y + a[2], b[0] * x + b[1] * y + b[2]};
}

std::shared_ptr<SLScannedImagesStore> SyntheticCamera::Capture(const SLScan& scan, std::uint32_t projectorWidth,
                                                               std::uint32_t projectorHeight) const {
  auto store = std::make_shared<SLScannedImagesStore>();
  std::mt19937 random(m_options.seed);
  std::normal_distribution<double> noise(0.0, m_options.noiseSigma > 0 ? m_options.noiseSigma : 1.0);
  const std::uint32_t w = m_options.width;
  const std::uint32_t h = m_options.height;
  SLRenderImage render(projectorWidth, projectorHeight);

  auto expose = [&](const std::vector<double>& plane, double x, double y) {
    const auto [u, v] = ProjectorPosition(x, y);
    const double level = 255.0 * std::pow(Bilinear(plane, projectorWidth, projectorHeight, u, v) / 255.0,
                                          m_options.displayGamma);
    double value = m_options.offset + m_options.gain * level;
    if (m_options.noiseSigma > 0) value += noise(random);
    return static_cast<img::uint8>(std::clamp(std::lround(value), 0L, 255L));
  };

  for (const SLPatternPtr& pattern : scan.AllPatterns()) {
    pattern->Render(render);
    if (pattern->GetCaptureType() == 1) {
      const std::array<std::vector<double>, 3> planes{Channel(render, 0), Channel(render, 1), Channel(render, 2)};
      auto frame = std::make_shared<img::UniImage<img::RGB8>>(w, h);
      for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
          (*frame)(x, y) = img::RGB8{expose(planes[0], x, y), expose(planes[1], x, y), expose(planes[2], x, y)};
        }
      }
      store->AddColorImage(pattern, frame);
    } else {
      const std::vector<double> plane = Channel(render, -1);
      auto frame = std::make_shared<img::UniImage<img::uint8>>(w, h);
      for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) (*frame)(x, y) = expose(plane, x, y);
      }
      store->AddGrayImage(pattern, frame);
    }
  }
  return store;
}

}  // namespace scan::testing
