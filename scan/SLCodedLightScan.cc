#include "scan/SLCodedLightScan.h"

#include <algorithm>
#include <stdexcept>

#include "scan/CodedLightDecoding.h"
#include "scan/EvaluationSteps.h"
#include "scan/SLCodedLightScanEvaluation.h"
#include "scan/SLSingleColorPattern.h"

namespace scan {

SLCodedLightScan::SLCodedLightScan(std::uint32_t projectorWidth, std::uint32_t projectorHeight,
                                   std::uint32_t shiftCount, std::uint32_t period, std::uint32_t grayThreshold,
                                   float minContrast)
    : m_projectorWidth(projectorWidth),
      m_projectorHeight(projectorHeight),
      m_shiftCount(shiftCount),
      m_period(period),
      m_grayThreshold(grayThreshold),
      m_minContrast(minContrast) {
  if (period == 0) throw std::invalid_argument("SLCodedLightScan::SLCodedLightScan - period must be positive.");
  if (grayThreshold > 1) throw std::invalid_argument("SLCodedLightScan::SLCodedLightScan - grayThreshold must be 0 or 1.");
}

void SLCodedLightScan::PrepareScanForOrientation(std::uint32_t orientation) {
  if (orientation > 1) {
    throw std::invalid_argument("SLCodedLightScan::PrepareScanForOrientation - orientation must be 0 or 1.");
  }
  const bool alongX = orientation == 1;
  OrientationSequences& o = m_orientations[orientation];
  o.graySequence = MakeGrayCodeSequence(alongX, m_projectorWidth, m_projectorHeight, false, m_period);
  o.graySequence->SetShuffle(std::make_shared<SLAlternatingSliceShuffle>(3));
  o.phaseSequence =
      std::make_shared<SLPhaseShiftPatternSequence>(alongX, m_projectorWidth, m_projectorHeight, m_period, m_shiftCount);
  o.inverseGraySequence = nullptr;
  AddSequence(o.graySequence);
  AddSequence(o.phaseSequence);
  if (m_grayThreshold == 0) {
    o.inverseGraySequence = MakeGrayCodeSequence(alongX, m_projectorWidth, m_projectorHeight, true, m_period);
    AddSequence(o.inverseGraySequence);
  }
}

void SLCodedLightScan::PrepareTextureScan(std::uint32_t mode) {
  m_textureSequence = MakeTextureSequence(mode);
  AddSequence(m_textureSequence);
}

bool SLCodedLightScan::HasOrientation(std::uint32_t orientation) const {
  const OrientationSequences& o = m_orientations[orientation];
  return o.phaseSequence && o.graySequence && (m_grayThreshold == 1 || o.inverseGraySequence);
}

SLScanEvaluationResultPtr SLCodedLightScan::Evaluate(const SLScannedImagesStore& store,
                                                     const utils::ProgressCallback& progress) {
  auto result = std::make_shared<SLScanEvaluationResult>();
  std::uint32_t stepCount = 0;
  bool anyOrientation = false;
  for (std::uint32_t o = 0; o < 2; ++o) {
    if (!HasOrientation(o)) continue;
    stepCount += m_grayThreshold == 0 ? 3 : 4;
    anyOrientation = true;
  }
  if (m_textureSequence) ++stepCount;
  if (anyOrientation) ++stepCount;
  EvaluationSteps steps(progress, stepCount);
  if (anyOrientation) {
    if (auto frames = CompleteFrames(store)) return EvaluateInOnePass(store, std::move(*frames), steps);
  }

  std::vector<img::UniImagePtr<float>> qualitySources;
  for (std::uint32_t o = 0; o < 2; ++o) {
    if (!HasOrientation(o)) continue;
    const OrientationSequences& sequences = m_orientations[o];
    auto phase = std::make_shared<SLPhaseShiftScanEvaluation>(sequences.phaseSequence);
    phase->Evaluate(store);
    if (steps.StepDone()) return nullptr;

    std::shared_ptr<SLCodedLightScanEvaluation> code;
    if (m_grayThreshold == 0) {
      code = std::make_shared<SLCodedLightScanEvaluation>(sequences.graySequence, sequences.inverseGraySequence);
    } else {
      auto threshold = std::make_shared<SLAverageBrightnessEvaluation>(sequences.phaseSequence);
      try {
        threshold->Evaluate(store);
      } catch (const std::out_of_range&) {
        // No phase frames: the decoder below finds no threshold and gives no code.
      }
      if (steps.StepDone()) return nullptr;
      code = std::make_shared<SLCodedLightScanEvaluation>(sequences.graySequence, threshold);
    }
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

std::optional<std::vector<CodedLightOrientationFrames>> SLCodedLightScan::CompleteFrames(
    const SLScannedImagesStore& store) const {
  std::vector<CodedLightOrientationFrames> frames;
  const img::UniImage<img::uint8>* first = nullptr;
  auto complete = [&first](const std::vector<SLScannedImagesStore::GrayPtr>& list) {
    for (const auto& frame : list) {
      if (!first) first = frame.get();
      if (!frame->SameSize(*first) || frame->IsEmpty()) return false;
    }
    return true;
  };
  for (std::uint32_t o = 0; o < 2; ++o) {
    if (!HasOrientation(o)) continue;
    const OrientationSequences& sequences = m_orientations[o];
    CodedLightOrientationFrames f;
    f.phase = store.GrayImagesOf(*sequences.phaseSequence);
    f.gray = store.GrayImagesOf(*sequences.graySequence);
    std::size_t levels = sequences.graySequence->PatternCount();  // levelCount of the Gray decoder
    if (m_grayThreshold == 0) {
      f.inverse = store.GrayImagesOf(*sequences.inverseGraySequence);
      levels = std::min<std::size_t>(levels, sequences.inverseGraySequence->PatternCount());
      if (f.inverse.size() < levels) return std::nullopt;
      f.inverse.resize(levels);
    }
    if (f.phase.size() < 3 || levels == 0 || f.gray.size() < levels) return std::nullopt;
    f.gray.resize(levels);
    if (!complete(f.phase) || !complete(f.gray) || !complete(f.inverse)) return std::nullopt;
    f.scale = sequences.phaseSequence->Period() / double(sequences.phaseSequence->Extent());
    frames.push_back(std::move(f));
  }
  if (frames.empty()) return std::nullopt;
  return frames;
}

SLScanEvaluationResultPtr SLCodedLightScan::EvaluateInOnePass(const SLScannedImagesStore& store,
                                                              std::vector<CodedLightOrientationFrames> frames,
                                                              EvaluationSteps& steps) const {
  CodedLightDecoding decoding(std::move(frames), m_minContrast);
  decoding.Evaluate();
  auto result = std::make_shared<SLScanEvaluationResult>();
  std::size_t index = 0;
  for (std::uint32_t o = 0; o < 2; ++o) {
    if (!HasOrientation(o)) continue;
    if (o == 1) {
      result->SetCorrespondencesX(decoding.Correspondences(index));
    } else {
      result->SetCorrespondencesY(decoding.Correspondences(index));
    }
    ++index;
    const std::uint32_t orientationSteps = m_grayThreshold == 0 ? 3 : 4;
    for (std::uint32_t step = 0; step < orientationSteps; ++step) {
      if (steps.StepDone()) return nullptr;
    }
  }
  if (!EvaluateTextureAndQuality(store, m_textureSequence, {}, m_minContrast, steps, *result)) return nullptr;
  result->SetQuality(decoding.Quality());
  steps.Finish();
  return result;
}

}  // namespace scan
