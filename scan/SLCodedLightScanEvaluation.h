#pragma once

#include <memory>
#include <vector>

#include "scan/SLGrayCodeScanEvaluation.h"

namespace scan {

// The per-pixel mean of a sequence's grey frames, the bit threshold of
// Gray-code frames when no inverse patterns were projected.
class SLAverageBrightnessEvaluation {
 public:
  explicit SLAverageBrightnessEvaluation(SLPatternSequencePtr sequence);

  // meanImage(x, y) = Σ frames(x, y) / frame count (float). Throws
  // std::out_of_range when the store holds no frame of the sequence or the
  // frames differ in size.
  void Evaluate(const SLScannedImagesStore& store);
  img::UniImagePtr<float> GetMeanImage() const { return m_meanImage; }

 private:
  SLPatternSequencePtr m_sequence;
  img::UniImagePtr<float> m_meanImage;
};

using SLAverageBrightnessEvaluationPtr = std::shared_ptr<SLAverageBrightnessEvaluation>;

// Binary Gray-code decoding. A bit is 1 when the Gray frame is strictly
// brighter than the inverse frame of the same level, or (without inverse
// patterns) than the mean image of the threshold source; equal values read 0.
class SLCodedLightScanEvaluation : public SLGrayCodeScanEvaluation {
 public:
  // levelCount = the smaller of the two sequences' pattern counts.
  SLCodedLightScanEvaluation(SLPatternSequencePtr graySequence, SLPatternSequencePtr inverseSequence);
  // levelCount = the Gray sequence's pattern count; thresholdSource must have
  // been evaluated before Evaluate.
  SLCodedLightScanEvaluation(SLPatternSequencePtr graySequence, SLAverageBrightnessEvaluationPtr thresholdSource);

  void Prepare(const SLScannedImagesStore& store) override;
  std::uint32_t DigitAt(std::uint32_t x, std::uint32_t y, std::uint32_t level,
                        ThreadLocalStorage& storage) const override;
  std::uint32_t Width() const override;
  std::uint32_t Height() const override;
  bool IsComplete() const override;
  void DecodeColumns(std::uint32_t x0, std::uint32_t x1, img::UniImage<img::int32>& code) const override;

 private:
  SLPatternSequencePtr m_graySequence;
  SLPatternSequencePtr m_inverseSequence;
  SLAverageBrightnessEvaluationPtr m_thresholdSource;
  std::vector<SLScannedImagesStore::GrayPtr> m_grayImages;
  std::vector<SLScannedImagesStore::GrayPtr> m_inverseImages;
  img::UniImagePtr<float> m_meanImage;  // the threshold source's, fetched by Prepare
};

}  // namespace scan
