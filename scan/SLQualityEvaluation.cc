#include "scan/SLQualityEvaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace scan {
namespace {

constexpr int kRadius = 2;  // the 5 × 5 window

// Minimum and maximum of each pixel's clipped window of one row: NaN is
// skipped because a comparison with it is false.
void RowMinMax(const float* in, std::uint32_t w, float* minOut, float* maxOut) {
  for (std::uint32_t x = 0; x < w; ++x) {
    const std::uint32_t x0 = x >= kRadius ? x - kRadius : 0;
    const std::uint32_t x1 = std::min(w - 1, x + kRadius);
    float lo = std::numeric_limits<float>::infinity();
    float hi = -std::numeric_limits<float>::infinity();
    for (std::uint32_t i = x0; i <= x1; ++i) {
      lo = in[i] < lo ? in[i] : lo;
      hi = in[i] > hi ? in[i] : hi;
    }
    minOut[x] = lo;
    maxOut[x] = hi;
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
  // Row minima and maxima first, then the column pass over 5 of them.
  img::UniImage<float> rowMin(w, h);
  img::UniImage<float> rowMax(w, h);
  for (const auto& source : m_sources) {
    for (std::uint32_t y = 0; y < h; ++y) RowMinMax(source->Row(y), w, rowMin.Row(y), rowMax.Row(y));
    for (std::uint32_t y = 0; y < h; ++y) {
      const std::uint32_t y0 = y >= kRadius ? y - kRadius : 0;
      const std::uint32_t y1 = std::min(h - 1, y + kRadius);
      const float* value = source->Row(y);
      float* q = result->Row(y);
      for (std::uint32_t x = 0; x < w; ++x) {
        if (!(value[x] >= m_minContrast)) {
          q[x] = 0.0f;
          continue;
        }
        float lo = rowMin(x, y0);
        float hi = rowMax(x, y0);
        for (std::uint32_t r = y0 + 1; r <= y1; ++r) {
          lo = std::min(lo, rowMin(x, r));
          hi = std::max(hi, rowMax(x, r));
        }
        const float score = hi > 0.0f ? std::max(0.0f, 1.2f * lo / hi) : 0.0f;
        q[x] = std::min(q[x], score);
      }
    }
  }
  m_result = std::move(result);
  return m_result;
}

}  // namespace scan
