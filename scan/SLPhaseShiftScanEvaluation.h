#pragma once

#include <memory>

#include "foundation/img/UniImage.h"
#include "scan/SLPatternSequence.h"
#include "scan/SLScannedImagesStore.h"

namespace scan {

// Wrapped phase, modulation amplitude and mean of the N ≥ 3 phase-shift
// frames of one orientation. With frames I(i) = m + B·cos(θ + 2πi/N) a pixel
// gets phase θ/2π in [0, 1) periods, amplitude B and mean m (grey levels).
class SLPhaseShiftScanEvaluation {
 public:
  explicit SLPhaseShiftScanEvaluation(std::shared_ptr<SLPhaseShiftPatternSequence> sequence);

  // Fewer than 3 frames, or frames of different sizes, give no images.
  void Evaluate(const SLScannedImagesStore& store);

  img::UniImagePtr<float> GetPhaseImage() const { return m_phaseImage; }
  img::UniImagePtr<float> GetAmplitudeImage() const { return m_amplitudeImage; }
  img::UniImagePtr<float> GetMeanImage() const { return m_meanImage; }
  const std::shared_ptr<SLPhaseShiftPatternSequence>& Sequence() const { return m_sequence; }
  // 0 (the default) starts one worker per hardware thread.
  void SetWorkerCount(unsigned count) { m_workerCount = count; }

 private:
  std::shared_ptr<SLPhaseShiftPatternSequence> m_sequence;
  img::UniImagePtr<float> m_phaseImage;
  img::UniImagePtr<float> m_amplitudeImage;
  img::UniImagePtr<float> m_meanImage;
  unsigned m_workerCount = 0;
};

using SLPhaseShiftScanEvaluationPtr = std::shared_ptr<SLPhaseShiftScanEvaluation>;

}  // namespace scan
