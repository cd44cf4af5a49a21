#include "scan/SLQualityEvaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace scan {
namespace {

constexpr std::uint32_t kRadius = 2;  // the 5 × 5 window
constexpr std::uint32_t kWindow = 2 * kRadius + 1;

// Smaller and larger of two values where a NaN never wins (comparisons with
// NaN are false), in the form that compiles to min/max instructions.
inline float Lower(float v, float m) { return v < m ? v : m; }
inline float Upper(float v, float m) { return v > m ? v : m; }

// Minimum and maximum of each pixel's window of one row, clipped to the row.
void RowMinMax(const float* in, std::uint32_t w, float* minOut, float* maxOut) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  auto clipped = [&](std::uint32_t x) {
    const std::uint32_t x0 = x >= kRadius ? x - kRadius : 0;
    const std::uint32_t x1 = std::min(w - 1, x + kRadius);
    float lo = kInf;
    float hi = -kInf;
    for (std::uint32_t i = x0; i <= x1; ++i) {
      lo = Lower(in[i], lo);
      hi = Upper(in[i], hi);
    }
    minOut[x] = lo;
    maxOut[x] = hi;
  };
  if (w < kWindow) {
    for (std::uint32_t x = 0; x < w; ++x) clipped(x);
    return;
  }
  for (std::uint32_t x = 0; x < kRadius; ++x) clipped(x);
  const float* __restrict a = in;
  float* __restrict lows = minOut;
  float* __restrict highs = maxOut;
  for (std::uint32_t x = kRadius; x < w - kRadius; ++x) {
    const float v0 = a[x - 2], v1 = a[x - 1], v2 = a[x], v3 = a[x + 1], v4 = a[x + 2];
    lows[x] = Lower(v4, Lower(v3, Lower(v2, Lower(v1, Lower(v0, kInf)))));
    highs[x] = Upper(v4, Upper(v3, Upper(v2, Upper(v1, Upper(v0, -kInf)))));
  }
  for (std::uint32_t x = w - kRadius; x < w; ++x) clipped(x);
}

// q = min(q, score) with score 0 below the threshold (or NaN) and
// max(0, 1.2·lo/hi) otherwise (0 when hi ≤ 0).
void ScoreRow(const float* __restrict value, const float* __restrict lo, const float* __restrict hi,
              std::uint32_t w, float minContrast, float* __restrict q) {
  for (std::uint32_t x = 0; x < w; ++x) {
    const float ratio = 1.2f * lo[x] / hi[x];
    float score = ratio > 0.0f ? ratio : 0.0f;
    score = hi[x] > 0.0f ? score : 0.0f;
    score = value[x] >= minContrast ? score : 0.0f;
    q[x] = score < q[x] ? score : q[x];
  }
}

}  // namespace

SLQualityEvaluation::SLQualityEvaluation(std::vector<img::UniImagePtr<float>> sources, float minContrast)
    : m_sources(std::move(sources)), m_minContrast(minContrast) {
  for (const auto& source : m_sources) {
    if (!source) throw std::invalid_argument("SLQualityEvaluation::SLQualityEvaluation - source is nullptr.");
    if (!source->SameSize(*m_sources.front())) {
      throw std::invalid_argument("SLQualityEvaluation::SLQualityEvaluation - sources differ in size.");
    }
  }
}

img::UniImagePtr<float> SLQualityEvaluation::Evaluate() {
  m_result.reset();
  if (m_sources.empty()) return nullptr;
  const std::uint32_t w = m_sources.front()->width;
  const std::uint32_t h = m_sources.front()->height;
  auto result = std::make_shared<img::UniImage<float>>(w, h);
  *result = 1.0f;
  // Row minima and maxima of the last 5 rows in a ring, then the column
  // pass over the rows of the clipped window.
  std::vector<float> ring(2 * kWindow * std::size_t(w));
  auto ringMin = [&](std::uint32_t row) { return ring.data() + (row % kWindow) * std::size_t(w); };
  auto ringMax = [&](std::uint32_t row) { return ring.data() + (kWindow + row % kWindow) * std::size_t(w); };
  std::vector<float> lo(w);
  std::vector<float> hi(w);
  for (const auto& source : m_sources) {
    std::uint32_t rowsDone = 0;
    for (std::uint32_t y = 0; y < h; ++y) {
      const std::uint32_t y0 = y >= kRadius ? y - kRadius : 0;
      const std::uint32_t y1 = std::min(h - 1, y + kRadius);
      for (; rowsDone <= y1; ++rowsDone) RowMinMax(source->Row(rowsDone), w, ringMin(rowsDone), ringMax(rowsDone));
      std::copy(ringMin(y0), ringMin(y0) + w, lo.begin());
      std::copy(ringMax(y0), ringMax(y0) + w, hi.begin());
      for (std::uint32_t r = y0 + 1; r <= y1; ++r) {
        const float* __restrict rowLo = ringMin(r);
        const float* __restrict rowHi = ringMax(r);
        for (std::uint32_t x = 0; x < w; ++x) {
          lo[x] = Lower(rowLo[x], lo[x]);
          hi[x] = Upper(rowHi[x], hi[x]);
        }
      }
      ScoreRow(source->Row(y), lo.data(), hi.data(), w, m_minContrast, result->Row(y));
    }
  }
  m_result = std::move(result);
  return m_result;
}

}  // namespace scan
