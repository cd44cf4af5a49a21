#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "scan/SLPSKScanEvaluation.h"
#include "scan/SLStripePatterns.h"

namespace scan {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// One-pixel frames: a base phase φ0 from 4 shifts, and for one PSK level the
// values mean + B·cos(θ + 2π·phase_j).
struct OnePixel {
  std::shared_ptr<SLPhaseShiftPatternSequence> phase;
  std::shared_ptr<SLPSKPatternSequence> psk;
  SLScannedImagesStore store;
  std::shared_ptr<SLPhaseShiftScanEvaluation> phaseEvaluation;

  OnePixel(std::uint32_t symbols, std::uint32_t shifts, double phi0, const std::vector<double>& levelThetas)
      : phase(std::make_shared<SLPhaseShiftPatternSequence>(true, 32, 1, 16.0, 4)),
        psk(std::make_shared<SLPSKPatternSequence>(true, 16.0, 32, 1, symbols, shifts)) {
    for (std::uint32_t i = 0; i < 4; ++i) Add(phase->Patterns()[i], 120 + 80 * std::cos(kTwoPi * (phi0 + i / 4.0)));
    const auto& patterns = psk->Patterns();
    for (std::size_t k = 0; k < patterns.size(); ++k) {
      const auto& p = static_cast<const SLPSKPattern&>(*patterns[k]);
      const double theta = levelThetas[(k / shifts) % levelThetas.size()];
      Add(patterns[k], 120 + 80 * std::cos(kTwoPi * (theta + p.Phase())));
    }
    phaseEvaluation = std::make_shared<SLPhaseShiftScanEvaluation>(phase);
    phaseEvaluation->Evaluate(store);
  }
  void Add(const SLPatternPtr& pattern, double value) {
    auto frame = std::make_shared<img::UniImage<img::uint8>>(1, 1);
    frame->data[0] = std::uint8_t(std::lround(value));
    store.AddGrayImage(pattern, frame);
  }
  std::uint32_t Symbol(std::uint32_t level) {
    SLPSKScanEvaluation evaluation(psk, phaseEvaluation);
    evaluation.Prepare(store);
    EXPECT_TRUE(evaluation.IsComplete());
    auto storage = evaluation.CreateThreadLocalStorage();
    evaluation.PreparePixel(0, 0, *storage);
    return evaluation.DigitAt(0, 0, level, *storage);
  }
};

TEST(SLPSKScanEvaluation, FitMatrixSolvesTheShiftModel) {
  for (std::uint32_t m : {3u, 4u, 7u}) {
    auto sequence = std::make_shared<SLPSKPatternSequence>(true, 16.0, 64, 1, 4, m);
    SLPSKScanEvaluation evaluation(sequence,
                                   std::make_shared<SLPhaseShiftScanEvaluation>(
                                       std::make_shared<SLPhaseShiftPatternSequence>(true, 64, 1, 16.0, 3)));
    const auto& fit = evaluation.FitMatrix();
    ASSERT_EQ(fit.size(), 2 * m);
    // fit · A = identity, A's rows (cos 2πj/M, sin 2πj/M).
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 2; ++c) {
        double sum = 0;
        for (std::uint32_t j = 0; j < m; ++j) {
          sum += fit[r * m + j] * (c == 0 ? std::cos(kTwoPi * j / m) : std::sin(kTwoPi * j / m));
        }
        EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-12) << m;
      }
    }
  }
  auto two = std::make_shared<SLPSKPatternSequence>(true, 16.0, 64, 1, 4, 2);
  SLPSKScanEvaluation identity(two, std::make_shared<SLPhaseShiftScanEvaluation>(
                                        std::make_shared<SLPhaseShiftPatternSequence>(true, 64, 1, 16.0, 3)));
  EXPECT_EQ(identity.FitMatrix(), (std::vector<double>{1, 0, 0, 1}));
  EXPECT_EQ(identity.Base(), 4u);
  EXPECT_EQ(identity.LevelCount(), two->LevelCount() - 1);
}

TEST(SLPSKScanEvaluation, AQuarterPeriodBehindIsSymbolOne) {
  // S = 4: the level's phase θ = φ0 − s/4.
  for (std::uint32_t shifts : {2u, 3u, 4u}) {
    for (std::uint32_t s = 0; s < 4; ++s) {
      OnePixel pixel(4, shifts, 0.3, {0.3 - s / 4.0});
      EXPECT_EQ(pixel.Symbol(0), s) << shifts;
    }
  }
  OnePixel five(5, 3, 0.9, {0.9 - 3 / 5.0});
  EXPECT_EQ(five.Symbol(0), 3u);
}

TEST(SLPSKScanEvaluation, FlatLevelReadsSymbolZero) {
  OnePixel pixel(4, 3, 0.6, {0.0});
  // Overwrite the level-1 frames with the mean (120): v = 0, all scores 0.
  SLScannedImagesStore flat;
  for (const auto& pattern : pixel.phase->Patterns()) flat.AddGrayImage(pattern, pixel.store.GrayImageOf(pattern));
  for (const auto& pattern : pixel.psk->Patterns()) {
    auto frame = std::make_shared<img::UniImage<img::uint8>>(1, 1);
    frame->data[0] = std::uint8_t(std::lround(pixel.phaseEvaluation->GetMeanImage()->data[0]));
    flat.AddGrayImage(pattern, frame);
  }
  pixel.store = std::move(flat);
  ASSERT_FLOAT_EQ(pixel.phaseEvaluation->GetMeanImage()->data[0], 120.0f);
  EXPECT_EQ(pixel.Symbol(0), 0u);
}

TEST(SLPSKScanEvaluation, MissingFramesGiveNoCodeImage) {
  OnePixel pixel(4, 2, 0.1, {0.1});
  SLScannedImagesStore partial;
  const auto& patterns = pixel.psk->Patterns();
  for (std::size_t k = 0; k + 1 < patterns.size(); ++k) partial.AddGrayImage(patterns[k], pixel.store.GrayImageOf(patterns[k]));
  SLPSKScanEvaluation evaluation(pixel.psk, pixel.phaseEvaluation);
  evaluation.Evaluate(partial);
  EXPECT_FALSE(evaluation.GetCodeImage());
  // Without a phase result there is no base phase either.
  auto noPhase = std::make_shared<SLPhaseShiftScanEvaluation>(pixel.phase);
  SLPSKScanEvaluation orphan(pixel.psk, noPhase);
  orphan.Evaluate(pixel.store);
  EXPECT_FALSE(orphan.GetCodeImage());
}

TEST(SLPSKScanEvaluation, FastLoopMatchesTheDigitFramework) {
  OnePixel pixel(3, 3, 0.45, {0.2, 0.7, 0.1});
  SLPSKScanEvaluation evaluation(pixel.psk, pixel.phaseEvaluation);
  evaluation.Evaluate(pixel.store);
  ASSERT_TRUE(evaluation.GetCodeImage());
  img::UniImage<img::int32> generic(1, 1);
  evaluation.SLGrayCodeScanEvaluation::DecodeColumns(0, 1, generic);
  EXPECT_EQ(evaluation.GetCodeImage()->data[0], generic.data[0]);
}

}  // namespace
}  // namespace scan
