#include "scan/EvaluationSteps.h"

#include "scan/SLGrayCodePhaseCombiner.h"
#include "scan/SLQualityEvaluation.h"
#include "scan/SLTextureScanEvaluation.h"

namespace scan {

void CombineOrientation(const SLGrayCodeScanEvaluationPtr& code, const SLPhaseShiftScanEvaluationPtr& phase,
                        std::uint32_t orientation, SLScanEvaluationResult& result,
                        std::vector<img::UniImagePtr<float>>& qualitySources) {
  SLGrayCodePhaseCombiner combiner(code, phase);
  combiner.Evaluate();
  if (orientation == 1) {
    result.SetCorrespondencesX(combiner.GetResult());
  } else {
    result.SetCorrespondencesY(combiner.GetResult());
  }
  if (phase->GetAmplitudeImage()) qualitySources.push_back(phase->GetAmplitudeImage());
}

bool EvaluateTextureAndQuality(const SLScannedImagesStore& store, const SLPatternSequencePtr& textureSequence,
                               const std::vector<img::UniImagePtr<float>>& qualitySources, float minContrast,
                               EvaluationSteps& steps, SLScanEvaluationResult& result) {
  if (textureSequence) {
    SLTextureScanEvaluation texture(textureSequence);
    texture.Evaluate(store);
    result.SetTexture(texture.GetTexture());
    if (steps.StepDone()) return false;
  }
  if (!qualitySources.empty()) {
    std::vector<img::UniImagePtr<float>> sources;
    for (const auto& source : qualitySources) {
      if (source->SameSize(*qualitySources.front())) sources.push_back(source);
    }
    SLQualityEvaluation quality(sources, minContrast);
    result.SetQuality(quality.Evaluate());
  }
  return true;
}

}  // namespace scan
