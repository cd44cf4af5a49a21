#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/utils/Progress.h"
#include "scan/SLPatternSequence.h"
#include "scan/SLScannedImagesStore.h"

namespace scan {

// The per-camera product of a scan evaluation. Every image may be null.
class SLScanEvaluationResult {
 public:
  // Projector x (y) position divided by the projector width (height), per camera pixel.
  img::UniImagePtr<float> CorrespondencesX() const { return m_correspondencesX; }
  img::UniImagePtr<float> CorrespondencesY() const { return m_correspondencesY; }
  // 0 … 1, 0 = invalid.
  img::UniImagePtr<float> Quality() const { return m_quality; }
  img::UniImagePtr<img::RGB8> Texture() const { return m_texture; }

  void SetCorrespondencesX(img::UniImagePtr<float> image) { m_correspondencesX = std::move(image); }
  void SetCorrespondencesY(img::UniImagePtr<float> image) { m_correspondencesY = std::move(image); }
  void SetQuality(img::UniImagePtr<float> image) { m_quality = std::move(image); }
  void SetTexture(img::UniImagePtr<img::RGB8> image) { m_texture = std::move(image); }

 private:
  img::UniImagePtr<float> m_correspondencesX;
  img::UniImagePtr<float> m_correspondencesY;
  img::UniImagePtr<float> m_quality;
  img::UniImagePtr<img::RGB8> m_texture;
};

using SLScanEvaluationResultPtr = std::shared_ptr<SLScanEvaluationResult>;

// A scan definition: the pattern sequences in projection order and the
// evaluation of one camera's frames. Shared between the workflow and the
// scanner; not copied.
class SLScan {
 public:
  virtual ~SLScan() = default;
  SLScan(const SLScan&) = delete;
  SLScan& operator=(const SLScan&) = delete;

  // Null when cancelled through progress (true = cancel), which may be empty.
  virtual SLScanEvaluationResultPtr Evaluate(const SLScannedImagesStore& store,
                                             const utils::ProgressCallback& progress) = 0;

  void AddSequence(SLPatternSequencePtr sequence) { m_sequences.push_back(std::move(sequence)); }
  const std::vector<SLPatternSequencePtr>& Sequences() const { return m_sequences; }
  std::uint32_t PatternCount() const;
  // The pattern shown at display index i (each sequence's shuffle applies);
  // null when i ≥ PatternCount().
  SLPatternPtr PatternAtIndex(std::uint32_t i) const;
  // All patterns in display order.
  std::vector<SLPatternPtr> AllPatterns() const;

  // x / (2·width) + 0.25 and y / (2·height) + 0.25 per pixel.
  static img::UniImagePtr<float> GenerateDefaultUnitPhaseX(std::uint32_t width, std::uint32_t height);
  static img::UniImagePtr<float> GenerateDefaultUnitPhaseY(std::uint32_t width, std::uint32_t height);

 protected:
  SLScan() = default;

  std::vector<SLPatternSequencePtr> m_sequences;
};

using SLScanPtr = std::shared_ptr<SLScan>;

}  // namespace scan
