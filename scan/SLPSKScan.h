#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "scan/SLScan.h"

namespace scan {

// Phase-shift keying plus phase shift. Per orientation the display order is
// the sine shifts (alternating between 2 slices), then the PSK levels
// (alternating between shiftsPerLevel slices). Orientation 1 gives
// correspondencesX, 0 correspondencesY.
class SLPSKScan : public SLScan {
 public:
  struct OrientationSequences {
    std::shared_ptr<SLPhaseShiftPatternSequence> phaseSequence;
    std::shared_ptr<SLPSKPatternSequence> pskSequence;
  };

  // period in projector pixels (> 0), symbolCount ≥ 2, shiftsPerLevel ≥ 2.
  SLPSKScan(std::uint32_t projectorWidth, std::uint32_t projectorHeight, std::uint32_t shiftCount,
            std::uint32_t period, std::uint32_t symbolCount, std::uint32_t shiftsPerLevel, float minContrast);

  void PrepareScanForOrientation(std::uint32_t orientation);
  void PrepareTextureScan(std::uint32_t mode);
  // Steps: per prepared orientation phase, PSK decoding and combination; the
  // texture; then quality and a final 1.0.
  SLScanEvaluationResultPtr Evaluate(const SLScannedImagesStore& store,
                                     const utils::ProgressCallback& progress) override;

  const OrientationSequences& Orientation(std::uint32_t orientation) const { return m_orientations.at(orientation); }
  const SLPatternSequencePtr& TextureSequence() const { return m_textureSequence; }
  std::uint32_t SymbolCount() const { return m_symbolCount; }
  std::uint32_t ShiftsPerLevel() const { return m_shiftsPerLevel; }
  float MinContrast() const { return m_minContrast; }

 private:
  std::uint32_t m_projectorWidth;
  std::uint32_t m_projectorHeight;
  std::uint32_t m_shiftCount;
  std::uint32_t m_period;
  std::uint32_t m_symbolCount;
  std::uint32_t m_shiftsPerLevel;
  float m_minContrast;
  std::array<OrientationSequences, 2> m_orientations;  // [0] y-varying, [1] x-varying
  SLPatternSequencePtr m_textureSequence;
};

}  // namespace scan
