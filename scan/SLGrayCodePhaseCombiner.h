#pragma once

#include <memory>

#include "scan/SLGrayCodeScanEvaluation.h"
#include "scan/SLPhaseShiftScanEvaluation.h"

namespace scan {

// Joins the half-period index c of the Gray code with the wrapped phase φ
// into the projector coordinate divided by the projector extent:
// k = ⌊c/2 + 0.75 − φ⌋, result = (k + φ)·period/extent. The phase corrects an
// index that is off by one at a period boundary (φ may deviate by a quarter
// period from the half the index names).
class SLGrayCodePhaseCombiner {
 public:
  SLGrayCodePhaseCombiner(SLGrayCodeScanEvaluationPtr codeEvaluation, SLPhaseShiftScanEvaluationPtr phaseEvaluation);

  // No result when the code or phase image is missing or their pixel counts differ.
  void Evaluate();
  img::UniImagePtr<float> GetResult() const { return m_result; }
  void SetWorkerCount(unsigned count) { m_workerCount = count; }

 private:
  SLGrayCodeScanEvaluationPtr m_codeEvaluation;
  SLPhaseShiftScanEvaluationPtr m_phaseEvaluation;
  img::UniImagePtr<float> m_result;
  unsigned m_workerCount = 0;
};

}  // namespace scan
