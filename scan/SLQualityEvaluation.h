#pragma once

#include <vector>

#include "foundation/img/UniImage.h"

namespace scan {

// Rates every camera pixel 0 … 1 from the modulation (amplitude) images of
// the orientations: a pixel below minContrast (or NaN) in any source gets 0;
// otherwise each source contributes 1.2·m/M (capped at 1, floored at 0) over
// its 5 × 5 window clipped to the image, m and M the window's minimum and
// maximum, and the pixel keeps the smallest contribution. A window maximum
// ≤ 0 (possible only with minContrast ≤ 0) gives 0. NaN neighbours are
// ignored in the window. Runs on the calling thread.
class SLQualityEvaluation {
 public:
  // Every source must have the size of the first (else std::invalid_argument).
  SLQualityEvaluation(std::vector<img::UniImagePtr<float>> sources, float minContrast);

  // Null when there is no source.
  img::UniImagePtr<float> Evaluate();
  img::UniImagePtr<float> GetResult() const { return m_result; }

 private:
  std::vector<img::UniImagePtr<float>> m_sources;
  float m_minContrast;
  img::UniImagePtr<float> m_result;
};

}  // namespace scan
