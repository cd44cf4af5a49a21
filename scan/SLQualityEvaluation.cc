#include "scan/SLQualityEvaluation.h"

#include <algorithm>
#include <stdexcept>

#include "scan/DecodeKernels.h"

namespace scan {
namespace {

constexpr std::uint32_t kRadius = 2;  // the 5 × 5 window
constexpr std::uint32_t kWindow = 2 * kRadius + 1;

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
      for (; rowsDone <= y1; ++rowsDone) {
        kernels::WindowRowMinMax(source->Row(rowsDone), w, ringMin(rowsDone), ringMax(rowsDone));
      }
      const float* rowLo[kWindow];
      const float* rowHi[kWindow];
      for (std::uint32_t r = y0; r <= y1; ++r) {
        rowLo[r - y0] = ringMin(r);
        rowHi[r - y0] = ringMax(r);
      }
      kernels::ColumnMinMax(rowLo, rowHi, y1 - y0 + 1, w, lo.data(), hi.data());
      kernels::ScoreQualityRow(source->Row(y), lo.data(), hi.data(), w, m_minContrast, result->Row(y));
    }
  }
  m_result = std::move(result);
  return m_result;
}

}  // namespace scan
