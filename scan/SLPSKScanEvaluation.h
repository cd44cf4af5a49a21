#pragma once

#include <array>
#include <memory>
#include <vector>

#include "scan/SLGrayCodeScanEvaluation.h"
#include "scan/SLPhaseShiftScanEvaluation.h"

namespace scan {

// Reads the modular Gray digits of a phase-shift-keyed sequence: per pixel
// and level, the phase θ of the level's M frames is fitted by least squares
// and compared with the pixel's base phase θ0 from the phase-shift frames;
// the symbol is the k of the rotation 2πk/S that best maps θ0 onto θ
// (S = symbolCount). Only positive scores count; none gives symbol 0.
// base = S, levelCount = the sequence's levelCount − 1 (level 0 is not shown).
// At most kMaxShiftsPerLevel shifts per level.
class SLPSKScanEvaluation : public SLGrayCodeScanEvaluation {
 public:
  struct PSKThreadLocalStorage : ThreadLocalStorage {
    std::array<double, 2> basePhasor{};  // (cos 2πφ0, −sin 2πφ0)
    double mean = 0.0;                   // grey level
  };

  static constexpr std::uint32_t kMaxShiftsPerLevel = 64;

  // The phase evaluation must have been evaluated before Evaluate.
  SLPSKScanEvaluation(std::shared_ptr<SLPSKPatternSequence> pskSequence, SLPhaseShiftScanEvaluationPtr phaseEvaluation);

  void Prepare(const SLScannedImagesStore& store) override;
  std::unique_ptr<ThreadLocalStorage> CreateThreadLocalStorage() const override;
  void PreparePixel(std::uint32_t x, std::uint32_t y, ThreadLocalStorage& storage) const override;
  std::uint32_t DigitAt(std::uint32_t x, std::uint32_t y, std::uint32_t level,
                        ThreadLocalStorage& storage) const override;
  std::uint32_t Width() const override;
  std::uint32_t Height() const override;
  bool IsComplete() const override;
  void DecodeColumns(std::uint32_t x0, std::uint32_t x1, img::UniImage<img::int32>& code) const override;

  // 2 × M, row-major: the identity for M = 2 (phases 0 and 1/4), else
  // (AᵀA)⁻¹Aᵀ with A's rows (cos 2πj/M, sin 2πj/M).
  const std::vector<double>& FitMatrix() const { return m_fitMatrix; }

 private:
  void PreparePixelAt(std::size_t j, PSKThreadLocalStorage& storage) const;
  std::uint32_t SymbolAt(std::size_t j, std::uint32_t level, const PSKThreadLocalStorage& storage) const;

  std::shared_ptr<SLPSKPatternSequence> m_pskSequence;
  SLPhaseShiftScanEvaluationPtr m_phaseEvaluation;
  std::uint32_t m_shiftsPerLevel;
  std::vector<double> m_fitMatrix;
  std::vector<std::array<double, 2>> m_rotations;  // (cos, sin) of 2πk/S
  std::vector<SLScannedImagesStore::GrayPtr> m_pskImages;
  std::vector<const img::uint8*> m_pskPixels;
  img::UniImagePtr<float> m_phaseImage;
  img::UniImagePtr<float> m_meanImage;
};

}  // namespace scan
