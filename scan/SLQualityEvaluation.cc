#include "scan/SLQualityEvaluation.h"

#include <algorithm>
#include <stdexcept>

#include "scan/QualityWindow.h"

namespace scan {

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
  // Rows outer, sources inner: each result row is written once.
  QualityWindow window(m_sources.size(), w, h);
  std::vector<const float*> values(m_sources.size());
  std::uint32_t rowsDone = 0;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (; rowsDone <= std::min(h - 1, y + 2); ++rowsDone) {
      for (std::size_t s = 0; s < m_sources.size(); ++s) window.AddRow(s, rowsDone, m_sources[s]->Row(rowsDone));
    }
    for (std::size_t s = 0; s < m_sources.size(); ++s) values[s] = m_sources[s]->Row(y);
    window.ScoreRow(y, values.data(), m_minContrast, result->Row(y));
  }
  m_result = std::move(result);
  return m_result;
}

}  // namespace scan
