#pragma once

#include <cstdint>
#include <vector>

#include "foundation/img/UniImage.h"
#include "scan/SLScannedImagesStore.h"

namespace scan {

// The frames of one orientation of a coded-light scan, in pattern order.
struct CodedLightOrientationFrames {
  std::vector<SLScannedImagesStore::GrayPtr> phase;    // n ≥ 3 phase-shift frames
  std::vector<SLScannedImagesStore::GrayPtr> gray;     // the Gray-code levels, coarsest first
  std::vector<SLScannedImagesStore::GrayPtr> inverse;  // one per level, or none: bits against the phase mean
  double scale = 0.0;                                  // period / extent of the phase sequence
};

// The whole per-pixel decoding of a coded-light scan in one pass over the
// frames: per orientation the phase shift, the Gray code and their
// combination into the correspondence image, and the quality map over the
// amplitudes of all orientations. It computes exactly what the chain
// SLPhaseShiftScanEvaluation, SLCodedLightScanEvaluation (with
// SLAverageBrightnessEvaluation of the phase frames when there are no
// inverse frames), SLGrayCodePhaseCombiner and SLQualityEvaluation gives
// (the same kernels, pixel by pixel), but reads every frame once and keeps
// phases, codes and amplitudes in per-worker row buffers instead of images.
//
// The workers take bands of rows from a shared counter; a band also decodes
// the amplitudes of the 2 rows above and below it that the 5 × 5 quality
// window needs. Frames are only read; each worker writes its own rows.
class CodedLightDecoding {
 public:
  // Every frame must be width × height (> 0) and every orientation complete
  // (≥ 3 phase frames, no inverse frames or one per level), else
  // std::invalid_argument.
  CodedLightDecoding(std::vector<CodedLightOrientationFrames> orientations, float minContrast);

  // workerCount 0: one per hardware thread.
  void Evaluate(unsigned workerCount = 0);

  // After Evaluate: per orientation (in the order given) the projector
  // coordinate divided by the extent, and the quality map.
  const img::UniImagePtr<float>& Correspondences(std::size_t orientation) const {
    return m_correspondences.at(orientation);
  }
  const img::UniImagePtr<float>& Quality() const { return m_quality; }

 private:
  struct Worker;
  void DecodeBand(Worker& worker, std::uint32_t r0, std::uint32_t r1) const;
  void DecodeRow(Worker& worker, std::uint32_t y, bool correspondences) const;

  std::vector<CodedLightOrientationFrames> m_orientations;
  float m_minContrast;
  std::uint32_t m_width = 0;
  std::uint32_t m_height = 0;
  // Frame data pointers per orientation, and the shift tables.
  std::vector<std::vector<const img::uint8*>> m_phase, m_gray, m_inverse;
  std::vector<std::vector<double>> m_cosines, m_sines;
  std::vector<img::UniImagePtr<float>> m_correspondences;
  img::UniImagePtr<float> m_quality;
};

}  // namespace scan
