#include "scan/SLPSKScanEvaluation.h"

#include <algorithm>
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

// (cos 2πφ, sin 2πφ) for φ in [0, 1) without a library call: quadrant
// q = round(4φ), remainder r in [−π/4, π/4], Taylor series to r¹² (error
// below 1e-11), then a quarter turn per quadrant.
inline void UnitPhasor(double phi, double& cosOut, double& sinOut) {
  const double t = phi * 4.0;
  const auto q = static_cast<std::int32_t>(t + 0.5);
  const double r = (t - q) * (std::numbers::pi / 2.0);
  const double r2 = r * r;
  const double s =
      r * (1.0 + r2 * (-1.0 / 6 + r2 * (1.0 / 120 + r2 * (-1.0 / 5040 + r2 * (1.0 / 362880 - r2 / 39916800)))));
  const double c =
      1.0 + r2 * (-0.5 + r2 * (1.0 / 24 + r2 * (-1.0 / 720 + r2 * (1.0 / 40320 + r2 * (-1.0 / 3628800 +
                                                                                      r2 / 479001600)))));
  const std::int32_t quadrant = q & 3;
  cosOut = quadrant == 0 ? c : quadrant == 1 ? -s : quadrant == 2 ? -c : s;
  sinOut = quadrant == 0 ? s : quadrant == 1 ? c : quadrant == 2 ? -s : -c;
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
  // Blocks of pixels of one row, level by level, in loops of one data type.
  // The level's vector v is not normalised here: a positive factor changes
  // neither the best rotation nor the sign of its score.
  constexpr std::size_t kBlock = 256;
  double base0[kBlock], base1[kBlock], mean[kBlock], w0[kBlock], w1[kBlock];
  std::uint32_t value[kBlock], digit[kBlock];
  const std::uint32_t m = m_shiftsPerLevel;
  const std::uint32_t symbols = m_base;
  for (std::uint32_t y = 0; y < code.height; ++y) {
    for (std::uint32_t xb = x0; xb < x1; xb += kBlock) {
      const std::size_t n = std::min<std::size_t>(kBlock, x1 - xb);
      const std::size_t j0 = std::size_t(y) * code.width + xb;
      const float* phase = m_phaseImage->data + j0;
      const float* meanImage = m_meanImage->data + j0;
      for (std::size_t k = 0; k < n; ++k) {
        double c, s;
        UnitPhasor(phase[k], c, s);
        base0[k] = c;
        base1[k] = -s;
        mean[k] = meanImage[k];
        value[k] = 0;
        digit[k] = 0;
      }
      for (std::uint32_t level = 0; level < m_levelCount; ++level) {
        std::fill(w0, w0 + n, 0.0);
        std::fill(w1, w1 + n, 0.0);
        for (std::uint32_t i = 0; i < m; ++i) {
          const img::uint8* __restrict frame = m_pskPixels[std::size_t(level) * m + i] + j0;
          const double f0 = m_fitMatrix[i];
          const double f1 = m_fitMatrix[m + i];
          for (std::size_t k = 0; k < n; ++k) {
            const double v = double(frame[k]) - mean[k];
            w0[k] += f0 * v;
            w1[k] += f1 * v;
          }
        }
        // Scores as selects, not branches: the best symbol changes from pixel
        // to pixel and would defeat branch prediction.
        double bestScore[kBlock];
        std::uint32_t bestSymbol[kBlock];
        // (R·b)·w = cos·(b·w) + sin·(b0·w1 − b1·w0): two products per pixel,
        // then two per rotation.
        double dot[kBlock], cross[kBlock];
        for (std::size_t k = 0; k < n; ++k) {
          dot[k] = base0[k] * w0[k] + base1[k] * w1[k];
          cross[k] = base0[k] * w1[k] - base1[k] * w0[k];
        }
        std::fill(bestScore, bestScore + n, 0.0);
        std::fill(bestSymbol, bestSymbol + n, 0u);
        for (std::uint32_t r = 0; r < symbols; ++r) {
          const double c = m_rotations[r][0];
          const double s = m_rotations[r][1];
          for (std::size_t k = 0; k < n; ++k) {
            const double score = c * dot[k] + s * cross[k];
            const double previous = bestScore[k];
            const auto better = static_cast<std::uint32_t>(score > previous);
            bestScore[k] = score > previous ? score : previous;
            bestSymbol[k] += better * (r - bestSymbol[k]);
          }
        }
        for (std::size_t k = 0; k < n; ++k) {
          const std::uint32_t best = bestSymbol[k];
          // Modular Gray digit to binary digit: (g + previous) mod S.
          std::uint32_t d = best + digit[k];
          d = d >= symbols ? d - symbols : d;
          digit[k] = d;
          value[k] = value[k] * symbols + d;
        }
      }
      for (std::size_t k = 0; k < n; ++k) code.data[j0 + k] = static_cast<img::int32>(value[k]);
    }
  }
}

}  // namespace scan
