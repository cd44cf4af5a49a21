#include "scan/SLCodedLightScanEvaluation.h"

#include <algorithm>
#include <stdexcept>

namespace scan {

SLAverageBrightnessEvaluation::SLAverageBrightnessEvaluation(SLPatternSequencePtr sequence)
    : m_sequence(std::move(sequence)) {
  if (!m_sequence) {
    throw std::invalid_argument("SLAverageBrightnessEvaluation::SLAverageBrightnessEvaluation - sequence is nullptr.");
  }
}

void SLAverageBrightnessEvaluation::Evaluate(const SLScannedImagesStore& store) {
  m_meanImage.reset();
  const auto frames = store.GrayImagesOf(*m_sequence);
  if (frames.empty()) throw std::out_of_range("SLAverageBrightnessEvaluation::Evaluate - No frame found.");
  const auto& first = *frames.front();
  for (const auto& frame : frames) {
    if (!frame->SameSize(first)) {
      throw std::out_of_range("SLAverageBrightnessEvaluation::Evaluate - Frames differ in size.");
    }
  }
  auto mean = std::make_shared<img::UniImage<float>>(first.width, first.height);
  const auto n = static_cast<float>(frames.size());
  for (std::int32_t j = 0; j < first.size; ++j) {
    std::uint32_t sum = 0;
    for (const auto& frame : frames) sum += frame->data[j];
    mean->data[j] = static_cast<float>(sum) / n;
  }
  m_meanImage = std::move(mean);
}

SLCodedLightScanEvaluation::SLCodedLightScanEvaluation(SLPatternSequencePtr graySequence,
                                                       SLPatternSequencePtr inverseSequence)
    : SLGrayCodeScanEvaluation(2, 0),
      m_graySequence(std::move(graySequence)),
      m_inverseSequence(std::move(inverseSequence)) {
  if (!m_graySequence || !m_inverseSequence) {
    throw std::invalid_argument("SLCodedLightScanEvaluation::SLCodedLightScanEvaluation - sequence is nullptr.");
  }
  m_levelCount = std::min(m_graySequence->PatternCount(), m_inverseSequence->PatternCount());
}

SLCodedLightScanEvaluation::SLCodedLightScanEvaluation(SLPatternSequencePtr graySequence,
                                                       SLAverageBrightnessEvaluationPtr thresholdSource)
    : SLGrayCodeScanEvaluation(2, 0),
      m_graySequence(std::move(graySequence)),
      m_thresholdSource(std::move(thresholdSource)) {
  if (!m_graySequence || !m_thresholdSource) {
    throw std::invalid_argument("SLCodedLightScanEvaluation::SLCodedLightScanEvaluation - argument is nullptr.");
  }
  m_levelCount = m_graySequence->PatternCount();
}

void SLCodedLightScanEvaluation::Prepare(const SLScannedImagesStore& store) {
  m_grayImages = store.GrayImagesOf(*m_graySequence);
  m_inverseImages.clear();
  if (m_inverseSequence) m_inverseImages = store.GrayImagesOf(*m_inverseSequence);
  m_meanImage = m_thresholdSource ? m_thresholdSource->GetMeanImage() : nullptr;
}

std::uint32_t SLCodedLightScanEvaluation::Width() const {
  return m_grayImages.empty() ? 0 : m_grayImages.front()->width;
}

std::uint32_t SLCodedLightScanEvaluation::Height() const {
  return m_grayImages.empty() ? 0 : m_grayImages.front()->height;
}

bool SLCodedLightScanEvaluation::IsComplete() const {
  const std::uint32_t w = Width();
  const std::uint32_t h = Height();
  if (m_grayImages.size() < m_levelCount) return false;
  for (std::uint32_t level = 0; level < m_levelCount; ++level) {
    if (!m_grayImages[level]->SameSize(w, h)) return false;
  }
  if (m_inverseSequence) {
    if (m_inverseImages.size() < m_levelCount) return false;
    for (std::uint32_t level = 0; level < m_levelCount; ++level) {
      if (!m_inverseImages[level]->SameSize(w, h)) return false;
    }
    return true;
  }
  return m_meanImage && m_meanImage->SameSize(w, h);
}

std::uint32_t SLCodedLightScanEvaluation::DigitAt(std::uint32_t x, std::uint32_t y, std::uint32_t level,
                                                  ThreadLocalStorage&) const {
  const img::uint8 gray = (*m_grayImages[level])(x, y);
  if (m_inverseSequence) return gray > (*m_inverseImages[level])(x, y) ? 1 : 0;
  return static_cast<float>(gray) > (*m_meanImage)(x, y) ? 1 : 0;
}

void SLCodedLightScanEvaluation::DecodeColumns(std::uint32_t x0, std::uint32_t x1,
                                               img::UniImage<img::int32>& code) const {
  const std::uint32_t n = x1 - x0;
  if (n == 0) return;
  for (std::uint32_t y = 0; y < code.height; ++y) {
    img::int32* out = code.Row(y) + x0;
    std::fill(out, out + n, 0);
    for (std::uint32_t level = 0; level < m_levelCount; ++level) {
      const img::uint8* gray = m_grayImages[level]->Row(y) + x0;
      if (m_inverseSequence) {
        const img::uint8* inverse = m_inverseImages[level]->Row(y) + x0;
        for (std::uint32_t i = 0; i < n; ++i) {
          const std::uint32_t c = static_cast<std::uint32_t>(out[i]);
          const std::uint32_t bit = gray[i] > inverse[i] ? 1u : 0u;
          out[i] = static_cast<img::int32>((c << 1) | ((bit ^ c) & 1u));
        }
      } else {
        const float* mean = m_meanImage->Row(y) + x0;
        for (std::uint32_t i = 0; i < n; ++i) {
          const std::uint32_t c = static_cast<std::uint32_t>(out[i]);
          const std::uint32_t bit = static_cast<float>(gray[i]) > mean[i] ? 1u : 0u;
          out[i] = static_cast<img::int32>((c << 1) | ((bit ^ c) & 1u));
        }
      }
    }
  }
}

}  // namespace scan
