#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "scan/CodedLightDecoding.h"
#include "scan/SLScan.h"

namespace scan {

class EvaluationSteps;

// Gray code plus phase shift. Orientation 1: x-varying stripes (vertical
// lines, giving correspondencesX); orientation 0: y-varying. Per orientation
// the display order is the Gray-code levels (alternating between 3 slices),
// the sine shifts, then (grayThreshold 0) the inverse Gray-code levels.
class SLCodedLightScan : public SLScan {
 public:
  struct OrientationSequences {
    std::shared_ptr<SLPhaseShiftPatternSequence> phaseSequence;
    SLPatternSequencePtr graySequence;
    SLPatternSequencePtr inverseGraySequence;  // only with grayThreshold 0
  };

  // period in projector pixels (> 0). grayThreshold 0 decides Gray bits
  // against inverse patterns, 1 against the mean of the phase frames.
  // minContrast: the amplitude (grey levels) below which a pixel is invalid.
  SLCodedLightScan(std::uint32_t projectorWidth, std::uint32_t projectorHeight, std::uint32_t shiftCount,
                   std::uint32_t period, std::uint32_t grayThreshold, float minContrast);

  // orientation 0 or 1; appends that orientation's sequences.
  void PrepareScanForOrientation(std::uint32_t orientation);
  // mode 0 (grey cameras): black, red, green, blue frames; mode 1 (colour
  // cameras): one colour frame under GrayPattern(128).
  void PrepareTextureScan(std::uint32_t mode);

  // Steps: per prepared orientation phase, (average brightness,) Gray
  // decoding and combination; the texture; then quality and a final 1.0.
  // When every prepared orientation has all its frames, of one size, the
  // decoding runs in one pass over the frames (CodedLightDecoding, the same
  // results) before the steps of the orientations are reported; a cancel
  // then discards its result. Otherwise the steps run one by one.
  SLScanEvaluationResultPtr Evaluate(const SLScannedImagesStore& store,
                                     const utils::ProgressCallback& progress) override;

  const OrientationSequences& Orientation(std::uint32_t orientation) const { return m_orientations.at(orientation); }
  const SLPatternSequencePtr& TextureSequence() const { return m_textureSequence; }
  std::uint32_t ProjectorWidth() const { return m_projectorWidth; }
  std::uint32_t ProjectorHeight() const { return m_projectorHeight; }
  std::uint32_t ShiftCount() const { return m_shiftCount; }
  std::uint32_t Period() const { return m_period; }
  std::uint32_t GrayThreshold() const { return m_grayThreshold; }
  float MinContrast() const { return m_minContrast; }

 private:
  bool HasOrientation(std::uint32_t orientation) const;
  // The frames of every prepared orientation when all are complete and of
  // one size, else nothing.
  std::optional<std::vector<CodedLightOrientationFrames>> CompleteFrames(const SLScannedImagesStore& store) const;
  SLScanEvaluationResultPtr EvaluateInOnePass(const SLScannedImagesStore& store,
                                              std::vector<CodedLightOrientationFrames> frames,
                                              EvaluationSteps& steps) const;

  std::uint32_t m_projectorWidth;
  std::uint32_t m_projectorHeight;
  std::uint32_t m_shiftCount;
  std::uint32_t m_period;
  std::uint32_t m_grayThreshold;
  float m_minContrast;
  std::array<OrientationSequences, 2> m_orientations;  // [0] y-varying, [1] x-varying
  SLPatternSequencePtr m_textureSequence;
};

}  // namespace scan
