#include "scan/SLCodedLightScanEvaluation.h"

#include <algorithm>
#include <stdexcept>

#include "scan/DecodeKernels.h"

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
  std::vector<const img::uint8*> gray;
  std::vector<const img::uint8*> inverse;
  for (std::uint32_t level = 0; level < m_levelCount; ++level) {
    gray.push_back(m_grayImages[level]->data);
    if (m_inverseSequence) inverse.push_back(m_inverseImages[level]->data);
  }
  for (std::uint32_t y = 0; y < code.height; ++y) {
    const std::size_t offset = std::size_t(y) * code.width + x0;
    if (m_inverseSequence) {
      kernels::GrayCodeAgainstInverse(gray.data(), inverse.data(), m_levelCount, offset, n, code.data + offset);
    } else {
      kernels::GrayCodeAgainstThreshold(gray.data(), m_levelCount, offset, m_meanImage->data + offset, n,
                                        code.data + offset);
    }
  }
}

}  // namespace scan
