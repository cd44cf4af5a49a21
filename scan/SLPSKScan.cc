#include "scan/SLPSKScan.h"

#include <stdexcept>

#include "scan/EvaluationSteps.h"
#include "scan/SLPSKScanEvaluation.h"
#include "scan/SLSingleColorPattern.h"

namespace scan {

SLPSKScan::SLPSKScan(std::uint32_t projectorWidth, std::uint32_t projectorHeight, std::uint32_t shiftCount,
                     std::uint32_t period, std::uint32_t symbolCount, std::uint32_t shiftsPerLevel, float minContrast)
    : m_projectorWidth(projectorWidth),
      m_projectorHeight(projectorHeight),
      m_shiftCount(shiftCount),
      m_period(period),
      m_symbolCount(symbolCount),
      m_shiftsPerLevel(shiftsPerLevel),
      m_minContrast(minContrast) {
  if (period == 0 || symbolCount < 2 || shiftsPerLevel < 2) {
    throw std::invalid_argument(
        "SLPSKScan::SLPSKScan - Needs a positive period, at least 2 symbols and 2 shifts per level.");
  }
}

void SLPSKScan::PrepareScanForOrientation(std::uint32_t orientation) {
  if (orientation > 1) throw std::invalid_argument("SLPSKScan::PrepareScanForOrientation - orientation must be 0 or 1.");
  const bool alongX = orientation == 1;
  OrientationSequences& o = m_orientations[orientation];
  o.phaseSequence =
      std::make_shared<SLPhaseShiftPatternSequence>(alongX, m_projectorWidth, m_projectorHeight, m_period, m_shiftCount);
  o.phaseSequence->SetShuffle(std::make_shared<SLAlternatingSliceShuffle>(2));
  o.pskSequence = std::make_shared<SLPSKPatternSequence>(alongX, m_period, m_projectorWidth, m_projectorHeight,
                                                         m_symbolCount, m_shiftsPerLevel);
  o.pskSequence->SetShuffle(std::make_shared<SLAlternatingSliceShuffle>(m_shiftsPerLevel));
  AddSequence(o.phaseSequence);
  AddSequence(o.pskSequence);
}

void SLPSKScan::PrepareTextureScan(std::uint32_t mode) {
  m_textureSequence = MakeTextureSequence(mode);
  AddSequence(m_textureSequence);
}

SLScanEvaluationResultPtr SLPSKScan::Evaluate(const SLScannedImagesStore& store,
                                              const utils::ProgressCallback& progress) {
  auto result = std::make_shared<SLScanEvaluationResult>();
  std::uint32_t stepCount = 0;
  bool anyOrientation = false;
  for (const OrientationSequences& o : m_orientations) {
    if (!o.phaseSequence || !o.pskSequence) continue;
    stepCount += 3;
    anyOrientation = true;
  }
  if (m_textureSequence) ++stepCount;
  if (anyOrientation) ++stepCount;
  EvaluationSteps steps(progress, stepCount);

  std::vector<img::UniImagePtr<float>> qualitySources;
  for (std::uint32_t o = 0; o < 2; ++o) {
    const OrientationSequences& sequences = m_orientations[o];
    if (!sequences.phaseSequence || !sequences.pskSequence) continue;
    auto phase = std::make_shared<SLPhaseShiftScanEvaluation>(sequences.phaseSequence);
    phase->Evaluate(store);
    if (steps.StepDone()) return nullptr;
    auto code = std::make_shared<SLPSKScanEvaluation>(sequences.pskSequence, phase);
    code->Evaluate(store);
    if (steps.StepDone()) return nullptr;
    CombineOrientation(code, phase, o, *result, qualitySources);
    if (steps.StepDone()) return nullptr;
  }
  if (!EvaluateTextureAndQuality(store, m_textureSequence, qualitySources, m_minContrast, steps, *result)) {
    return nullptr;
  }
  if (anyOrientation) steps.Finish();
  return result;
}

}  // namespace scan
