#pragma once

#include <cstdint>

#include <vector>

#include "foundation/utils/Progress.h"
#include "scan/SLGrayCodeScanEvaluation.h"
#include "scan/SLPhaseShiftScanEvaluation.h"
#include "scan/SLScan.h"

namespace scan {

// Progress of a scan evaluation counted in whole steps: after each step the
// callback (if any) receives steps done / step count and may cancel.
class EvaluationSteps {
 public:
  EvaluationSteps(const utils::ProgressCallback& progress, std::uint32_t stepCount)
      : m_progress(progress), m_stepCount(stepCount) {}

  // Marks one step done; true when the callback asks to cancel.
  bool StepDone() {
    ++m_done;
    return m_progress && m_stepCount > 0 && m_progress(double(m_done) / double(m_stepCount));
  }
  // The final report: 1.0, whose answer is ignored.
  void Finish() {
    if (m_progress) m_progress(1.0);
  }

 private:
  const utils::ProgressCallback& m_progress;
  std::uint32_t m_stepCount;
  std::uint32_t m_done = 0;
};

// Combines the code and phase of one orientation into the result's
// correspondences (orientation 1: x, 0: y) and adds the phase amplitude to
// the quality sources.
void CombineOrientation(const SLGrayCodeScanEvaluationPtr& code, const SLPhaseShiftScanEvaluationPtr& phase,
                        std::uint32_t orientation, SLScanEvaluationResult& result,
                        std::vector<img::UniImagePtr<float>>& qualitySources);

// Texture (when the sequence is set, one step) and quality (the final step,
// when there are sources) of a scan evaluation, shared by the scan types.
// False when cancelled after the texture step.
bool EvaluateTextureAndQuality(const SLScannedImagesStore& store, const SLPatternSequencePtr& textureSequence,
                               const std::vector<img::UniImagePtr<float>>& qualitySources, float minContrast,
                               EvaluationSteps& steps, SLScanEvaluationResult& result);

}  // namespace scan
