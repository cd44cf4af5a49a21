#include "scan/SLPSKScanEvaluation.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace scan {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::vector<double> MakeFitMatrix(std::uint32_t m) {
  if (m < 3) return {1.0, 0.0, 0.0, 1.0};
  // AᵀA is 2 × 2: [[Σc², Σcs], [Σcs, Σs²]].
  double cc = 0.0, cs = 0.0, ss = 0.0;
  for (std::uint32_t j = 0; j < m; ++j) {
    const double c = std::cos(kTwoPi * j / m);
    const double s = std::sin(kTwoPi * j / m);
    cc += c * c;
    cs += c * s;
    ss += s * s;
  }
  const double det = cc * ss - cs * cs;
  const double i00 = ss / det, i01 = -cs / det, i11 = cc / det;
  std::vector<double> fit(2 * m);
  for (std::uint32_t j = 0; j < m; ++j) {
    const double c = std::cos(kTwoPi * j / m);
    const double s = std::sin(kTwoPi * j / m);
    fit[j] = i00 * c + i01 * s;
    fit[m + j] = i01 * c + i11 * s;
  }
  return fit;
}

}  // namespace

SLPSKScanEvaluation::SLPSKScanEvaluation(std::shared_ptr<SLPSKPatternSequence> pskSequence,
                                         SLPhaseShiftScanEvaluationPtr phaseEvaluation)
    : SLGrayCodeScanEvaluation(pskSequence ? pskSequence->SymbolCount() : 2, 0),
      m_pskSequence(std::move(pskSequence)),
      m_phaseEvaluation(std::move(phaseEvaluation)) {
  if (!m_pskSequence || !m_phaseEvaluation) {
    throw std::invalid_argument("SLPSKScanEvaluation::SLPSKScanEvaluation - argument is nullptr.");
  }
  m_levelCount = m_pskSequence->LevelCount() > 0 ? m_pskSequence->LevelCount() - 1 : 0;
  m_shiftsPerLevel = m_pskSequence->ShiftsPerLevel();
  if (m_shiftsPerLevel > kMaxShiftsPerLevel) {
    throw std::invalid_argument("SLPSKScanEvaluation::SLPSKScanEvaluation - Too many shifts per level.");
  }
  m_fitMatrix = MakeFitMatrix(m_shiftsPerLevel);
  for (std::uint32_t k = 0; k < m_base; ++k) {
    m_rotations.push_back({std::cos(kTwoPi * k / m_base), std::sin(kTwoPi * k / m_base)});
  }
}

void SLPSKScanEvaluation::Prepare(const SLScannedImagesStore& store) {
  m_pskImages = store.GrayImagesOf(*m_pskSequence);
  m_pskPixels.clear();
  for (const auto& frame : m_pskImages) m_pskPixels.push_back(frame->data);
  m_phaseImage = m_phaseEvaluation->GetPhaseImage();
  m_meanImage = m_phaseEvaluation->GetMeanImage();
}

std::unique_ptr<SLGrayCodeScanEvaluation::ThreadLocalStorage> SLPSKScanEvaluation::CreateThreadLocalStorage() const {
  return std::make_unique<PSKThreadLocalStorage>();
}

std::uint32_t SLPSKScanEvaluation::Width() const { return m_pskImages.empty() ? 0 : m_pskImages.front()->width; }

std::uint32_t SLPSKScanEvaluation::Height() const { return m_pskImages.empty() ? 0 : m_pskImages.front()->height; }

bool SLPSKScanEvaluation::IsComplete() const {
  const std::uint32_t w = Width();
  const std::uint32_t h = Height();
  if (m_pskImages.size() < std::size_t(m_levelCount) * m_shiftsPerLevel) return false;
  for (const auto& frame : m_pskImages) {
    if (!frame->SameSize(w, h)) return false;
  }
  return m_phaseImage && m_meanImage && m_phaseImage->SameSize(w, h) && m_meanImage->SameSize(w, h);
}

void SLPSKScanEvaluation::PreparePixelAt(std::size_t j, PSKThreadLocalStorage& storage) const {
  const double phi = m_phaseImage->data[j];
  storage.basePhasor = {std::cos(kTwoPi * phi), -std::sin(kTwoPi * phi)};
  storage.mean = m_meanImage->data[j];
}

std::uint32_t SLPSKScanEvaluation::SymbolAt(std::size_t j, std::uint32_t level,
                                            const PSKThreadLocalStorage& storage) const {
  const std::uint32_t m = m_shiftsPerLevel;
  const img::uint8* const* frames = m_pskPixels.data() + std::size_t(level) * m;
  double values[kMaxShiftsPerLevel];
  double length2 = 0.0;
  for (std::uint32_t i = 0; i < m; ++i) {
    values[i] = frames[i][j] - storage.mean;
    length2 += values[i] * values[i];
  }
  const double norm = length2 > 0.0 ? 1.0 / std::sqrt(length2) : 1.0;
  double w0 = 0.0, w1 = 0.0;
  for (std::uint32_t i = 0; i < m; ++i) {
    w0 += m_fitMatrix[i] * values[i];
    w1 += m_fitMatrix[m + i] * values[i];
  }
  w0 *= norm;
  w1 *= norm;
  const double b0 = storage.basePhasor[0];
  const double b1 = storage.basePhasor[1];
  std::uint32_t best = 0;
  double bestScore = 0.0;
  for (std::uint32_t k = 0; k < m_base; ++k) {
    const double c = m_rotations[k][0];
    const double s = m_rotations[k][1];
    const double score = (c * b0 - s * b1) * w0 + (s * b0 + c * b1) * w1;
    if (score > bestScore) {
      bestScore = score;
      best = k;
    }
  }
  return best;
}

void SLPSKScanEvaluation::PreparePixel(std::uint32_t x, std::uint32_t y, ThreadLocalStorage& storage) const {
  PreparePixelAt(std::size_t(y) * Width() + x, static_cast<PSKThreadLocalStorage&>(storage));
}

std::uint32_t SLPSKScanEvaluation::DigitAt(std::uint32_t x, std::uint32_t y, std::uint32_t level,
                                           ThreadLocalStorage& storage) const {
  return SymbolAt(std::size_t(y) * Width() + x, level, static_cast<PSKThreadLocalStorage&>(storage));
}

void SLPSKScanEvaluation::DecodeColumns(std::uint32_t x0, std::uint32_t x1, img::UniImage<img::int32>& code) const {
  PSKThreadLocalStorage storage;
  for (std::uint32_t y = 0; y < code.height; ++y) {
    const std::size_t row = std::size_t(y) * code.width;
    for (std::uint32_t x = x0; x < x1; ++x) {
      const std::size_t j = row + x;
      PreparePixelAt(j, storage);
      std::uint32_t value = 0;
      for (std::uint32_t level = 0; level < m_levelCount; ++level) {
        value = value * m_base + (SymbolAt(j, level, storage) + value) % m_base;
      }
      code.data[j] = static_cast<img::int32>(value);
    }
  }
}

}  // namespace scan
