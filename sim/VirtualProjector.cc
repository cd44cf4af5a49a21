#include "sim/VirtualProjector.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "scan/SLRenderImage.h"
#include "sim/ParallelFor.h"

namespace sim {

VirtualProjector::VirtualProjector(const Options& options, vid::SecondsClock clock)
    : m_options(options), m_clock(std::move(clock)) {
  const std::string prefix = "sim::VirtualProjector::VirtualProjector - ";
  if (options.width == 0 || options.height == 0)
    throw std::invalid_argument(prefix + "the projector size must not be zero.");
  if (!(options.displayGamma > 0.0) || !std::isfinite(options.displayGamma))
    throw std::invalid_argument(prefix + "the display gamma must be a positive number.");
  if (!(options.defocusSigma >= 0.0) || !std::isfinite(options.defocusSigma))
    throw std::invalid_argument(prefix + "the defocus must be a number >= 0.");
  for (int i = 0; i < 256; ++i)
    m_gammaTable[i] = static_cast<float>(std::pow(i / 255.0, options.displayGamma));
  auto dark = std::make_shared<LightImage>(options.width, options.height);
  *dark = math::Vec3f{0.0f, 0.0f, 0.0f};
  m_history.push_back({0, -1e300, std::move(dark)});
}

double VirtualProjector::Now() const { return m_clock ? m_clock() : vid::SteadySeconds(); }

std::shared_ptr<LightImage> VirtualProjector::Render(const scan::SLPattern& pattern) const {
  scan::SLRenderImage frame(m_options.width, m_options.height);
  std::fill(frame.data, frame.data + std::size_t(frame.width) * frame.height * frame.bytesPerPixel, 0);
  pattern.Render(frame);
  auto light = std::make_shared<LightImage>(m_options.width, m_options.height);
  for (std::uint32_t y = 0; y < frame.height; ++y) {
    const std::uint8_t* p = frame.Pixel(0, y);
    math::Vec3f* out = light->Row(y);
    for (std::uint32_t x = 0; x < frame.width; ++x, p += 4)
      out[x] = math::Vec3f{m_gammaTable[p[2]], m_gammaTable[p[1]], m_gammaTable[p[0]]};
  }
  Blur(*light);
  return light;
}

void VirtualProjector::Blur(LightImage& light) const {
  const double sigma = m_options.defocusSigma;
  if (sigma <= 0.0) return;
  const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
  std::vector<float> kernel(2 * radius + 1);
  float sum = 0.0f;
  for (int k = -radius; k <= radius; ++k) sum += kernel[k + radius] = float(std::exp(-0.5 * k * k / (sigma * sigma)));
  for (float& k : kernel) k /= sum;
  const int w = int(light.width), h = int(light.height);
  LightImage tmp(light.width, light.height);
  // Rows, then columns; the border pixel repeats.
  ParallelFor(h, [&](std::ptrdiff_t y) {
    const math::Vec3f* in = light.Row(std::uint32_t(y));
    math::Vec3f* out = tmp.Row(std::uint32_t(y));
    for (int x = 0; x < w; ++x) {
      math::Vec3f s{0.0f, 0.0f, 0.0f};
      for (int k = -radius; k <= radius; ++k) s = s + in[std::clamp(x + k, 0, w - 1)] * kernel[k + radius];
      out[x] = s;
    }
  });
  ParallelFor(h, [&](std::ptrdiff_t y) {
    math::Vec3f* out = light.Row(std::uint32_t(y));
    for (int x = 0; x < w; ++x) {
      math::Vec3f s{0.0f, 0.0f, 0.0f};
      for (int k = -radius; k <= radius; ++k)
        s = s + tmp(std::uint32_t(x), std::uint32_t(std::clamp(int(y) + k, 0, h - 1))) * kernel[k + radius];
      out[x] = s;
    }
  });
}

void VirtualProjector::Show(std::shared_ptr<const LightImage> light) {
  if (!light || light->width != m_options.width || light->height != m_options.height)
    throw std::invalid_argument("sim::VirtualProjector::Show - the image must have the projector's size.");
  std::lock_guard lock(m_mutex);
  m_history.push_back({m_nextSerial++, Now(), std::move(light)});
  while (m_history.size() > kHistory) m_history.pop_front();
}

std::vector<double> VirtualProjector::DisplayPatterns(const utils::ProgressCallback& progress,
                                                      const std::vector<scan::SLPatternPtr>& patterns) {
  std::vector<double> shownAt;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (progress && progress(double(i) / double(patterns.size()))) break;
    if (!patterns[i]) continue;
    Show(Render(*patterns[i]));
    shownAt.push_back(GetCurrent().since);
  }
  return shownAt;
}

bool VirtualProjector::DisplaySetupPattern() {
  auto grey = std::make_shared<LightImage>(m_options.width, m_options.height);
  *grey = math::Vec3f{0.5f, 0.5f, 0.5f};
  Show(std::move(grey));
  return true;
}

ShownImage VirtualProjector::GetCurrent() const {
  std::lock_guard lock(m_mutex);
  return m_history.back();
}

std::uint64_t VirtualProjector::GetShownCount() const {
  std::lock_guard lock(m_mutex);
  return m_history.back().serial;
}

std::vector<ShownWeight> VirtualProjector::GetShownDuring(double from, double to) const {
  std::lock_guard lock(m_mutex);
  std::vector<ShownWeight> result;
  if (!(to > from)) {
    auto it = std::find_if(m_history.rbegin(), m_history.rend(), [&](const ShownImage& s) { return s.since <= to; });
    result.push_back({it == m_history.rend() ? m_history.front() : *it, 1.0});
    return result;
  }
  for (std::size_t i = 0; i < m_history.size(); ++i) {
    const double start = i == 0 ? -1e300 : m_history[i].since;
    const double end = i + 1 < m_history.size() ? m_history[i + 1].since : 1e300;
    const double overlap = std::min(end, to) - std::max(start, from);
    if (overlap > 0.0) result.push_back({m_history[i], overlap / (to - from)});
  }
  return result;
}

math::Vec3f VirtualProjector::SampleLight(const LightImage& light, double u, double v) {
  if (!(u >= 0.0 && v >= 0.0 && u <= light.width - 1.0 && v <= light.height - 1.0)) return {0.0f, 0.0f, 0.0f};
  const auto x0 = std::min(static_cast<std::uint32_t>(u), light.width > 1 ? light.width - 2 : 0u);
  const auto y0 = std::min(static_cast<std::uint32_t>(v), light.height > 1 ? light.height - 2 : 0u);
  const float fx = float(u - x0), fy = float(v - y0);
  const std::uint32_t x1 = std::min(x0 + 1, light.width - 1), y1 = std::min(y0 + 1, light.height - 1);
  const math::Vec3f top = light(x0, y0) * (1.0f - fx) + light(x1, y0) * fx;
  const math::Vec3f bottom = light(x0, y1) * (1.0f - fx) + light(x1, y1) * fx;
  return top * (1.0f - fy) + bottom * fy;
}

}  // namespace sim
