#include "CamCalib/CurveExtractor.h"

#include <algorithm>
#include <cmath>

namespace CamCalib {
namespace {

constexpr const char* kInit = "__CamCalib::CurveExtractor::Init__";
constexpr const char* kProcess = "__CamCalib::CurveExtractor::Process__";

// One horizontal then one vertical pass of (1 2 1)/4, borders replicated.
void BinomialPass(img::FloatImage& image, img::FloatImage& work) {
  const std::uint32_t w = image.width, h = image.height;
  for (std::uint32_t y = 0; y < h; ++y) {
    const float* in = image.Row(y);
    float* out = work.Row(y);
    if (w == 1) {
      out[0] = in[0];
      continue;
    }
    out[0] = 0.75f * in[0] + 0.25f * in[1];
    for (std::uint32_t x = 1; x + 1 < w; ++x)
      out[x] = 0.25f * (in[x - 1] + in[x + 1]) + 0.5f * in[x];
    out[w - 1] = 0.75f * in[w - 1] + 0.25f * in[w - 2];
  }
  for (std::uint32_t y = 0; y < h; ++y) {
    const float* up = work.Row(y > 0 ? y - 1 : y);
    const float* mid = work.Row(y);
    const float* down = work.Row(y + 1 < h ? y + 1 : y);
    float* out = image.Row(y);
    for (std::uint32_t x = 0; x < w; ++x) out[x] = 0.25f * (up[x] + down[x]) + 0.5f * mid[x];
  }
}

void GaussianBlur(img::FloatImage& image, img::FloatImage& work, double sigma) {
  const int radius = std::max(1, int(std::ceil(3.0 * sigma)));
  std::vector<float> kernel(std::size_t(2 * radius + 1));
  double sum = 0.0;
  for (int i = -radius; i <= radius; ++i)
    sum += kernel[std::size_t(i + radius)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& k : kernel) k = float(k / sum);
  const int w = int(image.width), h = int(image.height);
  for (int y = 0; y < h; ++y) {
    const float* in = image.Row(std::uint32_t(y));
    float* out = work.Row(std::uint32_t(y));
    for (int x = 0; x < w; ++x) {
      float s = 0.0f;
      for (int i = -radius; i <= radius; ++i)
        s += kernel[std::size_t(i + radius)] * in[std::clamp(x + i, 0, w - 1)];
      out[x] = s;
    }
  }
  for (int y = 0; y < h; ++y) {
    float* out = image.Row(std::uint32_t(y));
    for (int x = 0; x < w; ++x) out[x] = 0.0f;
    for (int i = -radius; i <= radius; ++i) {
      const float* in = work.Row(std::uint32_t(std::clamp(y + i, 0, h - 1)));
      const float k = kernel[std::size_t(i + radius)];
      for (int x = 0; x < w; ++x) out[x] += k * in[x];
    }
  }
}

// Bilinear value at (x, y) for 0 ≤ x ≤ w − 1, 0 ≤ y ≤ h − 1.
inline float Bilinear(const img::FloatImage& image, double x, double y) {
  const auto x0 = std::uint32_t(x), y0 = std::uint32_t(y);
  const std::uint32_t x1 = std::min(x0 + 1, image.width - 1),
                      y1 = std::min(y0 + 1, image.height - 1);
  const float fx = float(x - x0), fy = float(y - y0);
  const float top = image(x0, y0) + fx * (image(x1, y0) - image(x0, y0));
  const float bottom = image(x0, y1) + fx * (image(x1, y1) - image(x0, y1));
  return top + fy * (bottom - top);
}

}  // namespace

bool CurveExtractor::Init(const Parameters& p) {
  m_state = STATE_NONE;
  if (p.width <= 0 || p.height <= 0) {
    Report(m_messages, kInit, "Invalid width or height.");
    return false;
  }
  m_width = p.width;
  m_height = p.height;
  m_presmoothSigma = std::isfinite(p.presmoothSigma) ? std::max(0.0, p.presmoothSigma) : 0.0;
  m_passes = std::max(0, p.smoothingPasses);
  m_threshold = std::isfinite(p.edgeThreshold) ? std::max(0.0, p.edgeThreshold) : 0.9;
  m_minLength = std::max(2, p.minCurveLength);
  m_state = STATE_INIT;
  return true;
}

bool CurveExtractor::Process(const img::UniImage<std::uint8_t>& image) {
  m_curves.clear();
  if (m_state < STATE_INIT) {
    Report(m_messages, kProcess, "Minimum required state: STATE_INIT");
    return false;
  }
  if (image.IsEmpty() || image.data == nullptr || int(image.width) > m_width ||
      int(image.height) > m_height) {
    Report(m_messages, kProcess, "Source image has invalid size.");
    return false;
  }
  Smooth(image);
  Gradient();
  FindEdgePoints();
  LinkCurves();
  return true;
}

void CurveExtractor::Smooth(const img::UniImage<std::uint8_t>& image) {
  m_smooth.ResetSize(image.width, image.height);
  m_work.ResetSize(image.width, image.height);
  for (std::int32_t i = 0; i < image.size; ++i) m_smooth.data[i] = float(image.data[i]);
  if (m_presmoothSigma > 0.0) GaussianBlur(m_smooth, m_work, m_presmoothSigma);
  for (int pass = 0; pass < m_passes; ++pass) BinomialPass(m_smooth, m_work);
}

void CurveExtractor::Gradient() {
  const std::uint32_t w = m_smooth.width, h = m_smooth.height;
  m_gx.ResetSize(w, h);
  m_gy.ResetSize(w, h);
  m_magnitude.ResetSize(w, h);
  for (std::uint32_t y = 0; y < h; ++y) {
    const float* row = m_smooth.Row(y);
    const float* up = m_smooth.Row(y > 0 ? y - 1 : y);
    const float* down = m_smooth.Row(y + 1 < h ? y + 1 : y);
    float* gx = m_gx.Row(y);
    float* gy = m_gy.Row(y);
    float* mag = m_magnitude.Row(y);
    const bool rowInside = y > 0 && y + 1 < h;
    for (std::uint32_t x = 0; x < w; ++x) {
      if (x == 0 || x + 1 >= w || !rowInside) {
        gx[x] = gy[x] = mag[x] = 0.0f;
        continue;
      }
      gx[x] = 0.5f * (row[x + 1] - row[x - 1]);
      gy[x] = 0.5f * (down[x] - up[x]);
      mag[x] = std::sqrt(gx[x] * gx[x] + gy[x] * gy[x]);
    }
  }
}

void CurveExtractor::FindEdgePoints() {
  const std::uint32_t w = m_magnitude.width, h = m_magnitude.height;
  m_edgeIndex.ResetSize(w, h);
  m_edgeIndex = -1;
  m_edges.clear();
  const float threshold = float(m_threshold);
  for (std::uint32_t y = 2; y + 2 < h; ++y) {
    const float* mag = m_magnitude.Row(y);
    for (std::uint32_t x = 2; x + 2 < w; ++x) {
      const float m0 = mag[x];
      if (!(m0 > threshold)) continue;
      const double nx = m_gx(x, y) / m0, ny = m_gy(x, y) / m0;
      const float plus = Bilinear(m_magnitude, x + nx, y + ny);
      const float minus = Bilinear(m_magnitude, x - nx, y - ny);
      if (!(m0 > minus && m0 >= plus)) continue;
      const double curvature = double(minus) - 2.0 * m0 + plus;  // < 0 at a peak
      double offset = curvature < 0.0 ? 0.5 * (double(minus) - plus) / curvature : 0.0;
      offset = std::clamp(offset, -0.5, 0.5);
      m_edgeIndex(x, y) = std::int32_t(m_edges.size());
      m_edges.push_back({{x + offset * nx, y + offset * ny}, {nx, ny}, x, y});
    }
  }
}

void CurveExtractor::LinkCurves() {
  std::vector<char> visited(m_edges.size(), 0);
  const int w = int(m_edgeIndex.width), h = int(m_edgeIndex.height);
  // Follows the edge from `start` along sign·(−ny, nx), appending to chain.
  auto trace = [&](std::int32_t start, double sign, std::vector<std::int32_t>& chain) {
    std::int32_t current = start;
    for (;;) {
      const EdgePoint& c = m_edges[std::size_t(current)];
      const math::Vec2d tangent{-sign * c.normal[1], sign * c.normal[0]};
      std::int32_t best = -1;
      double bestScore = 0.3;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const int x = int(c.x) + dx, y = int(c.y) + dy;
          if (x < 0 || y < 0 || x >= w || y >= h) continue;
          const std::int32_t q = m_edgeIndex(std::uint32_t(x), std::uint32_t(y));
          if (q < 0 || visited[std::size_t(q)]) continue;
          const EdgePoint& e = m_edges[std::size_t(q)];
          if (math::Dot(e.normal, c.normal) < 0.7) continue;  // about 45°
          const double along =
              (dx * tangent[0] + dy * tangent[1]) / std::sqrt(double(dx * dx + dy * dy));
          if (along > bestScore) bestScore = along, best = q;
        }
      }
      if (best < 0) return;
      visited[std::size_t(best)] = 1;
      chain.push_back(best);
      current = best;
    }
  };
  std::vector<std::int32_t> forward, backward;
  for (std::size_t i = 0; i < m_edges.size(); ++i) {
    if (visited[i]) continue;
    visited[i] = 1;
    forward.clear();
    backward.clear();
    trace(std::int32_t(i), 1.0, forward);
    trace(std::int32_t(i), -1.0, backward);
    if (int(forward.size() + backward.size() + 1) < m_minLength) continue;
    Curve curve;
    curve.reserve(forward.size() + backward.size() + 1);
    for (auto it = backward.rbegin(); it != backward.rend(); ++it)
      curve.push_back(m_edges[std::size_t(*it)].point);
    curve.push_back(m_edges[i].point);
    for (std::int32_t k : forward) curve.push_back(m_edges[std::size_t(k)].point);
    m_curves.push_back(std::move(curve));
  }
}

}  // namespace CamCalib
