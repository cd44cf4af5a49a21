#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <algorithm>
#include <vector>

#include "scan/SLGrayCodePhaseCombiner.h"
#include "scan/SLPhaseShiftScanEvaluation.h"
#include "scan/SLQualityEvaluation.h"

namespace scan {
namespace {

// One-pixel frames of a phase sequence with the given values.
struct PhaseFrames {
  std::shared_ptr<SLPhaseShiftPatternSequence> sequence;
  SLScannedImagesStore store;

  PhaseFrames(std::vector<std::uint8_t> values, std::uint32_t extent = 160, double period = 16.0)
      : sequence(std::make_shared<SLPhaseShiftPatternSequence>(true, extent, 1, period,
                                                               std::uint32_t(values.size()))) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      auto frame = std::make_shared<img::UniImage<img::uint8>>(1, 1);
      frame->data[0] = values[i];
      store.AddGrayImage(sequence->Patterns()[i], frame);
    }
  }
  std::shared_ptr<SLPhaseShiftScanEvaluation> Evaluate() {
    auto evaluation = std::make_shared<SLPhaseShiftScanEvaluation>(sequence);
    evaluation->Evaluate(store);
    return evaluation;
  }
};

TEST(SLPhaseShiftScanEvaluation, WorkedExamples) {
  auto a = PhaseFrames({200, 100, 0, 100}).Evaluate();
  ASSERT_TRUE(a->GetPhaseImage());
  EXPECT_FLOAT_EQ(a->GetPhaseImage()->data[0], 0.0f);
  EXPECT_FLOAT_EQ(a->GetAmplitudeImage()->data[0], 100.0f);
  EXPECT_FLOAT_EQ(a->GetMeanImage()->data[0], 100.0f);
  auto b = PhaseFrames({100, 0, 100, 200}).Evaluate();
  EXPECT_FLOAT_EQ(b->GetPhaseImage()->data[0], 0.25f);
}

TEST(SLPhaseShiftScanEvaluation, RecoversThePhaseOfSampledCosines) {
  for (std::uint32_t n : {3u, 5u, 8u}) {
    for (double theta : {0.01, 0.3, 0.5, 0.77, 0.99}) {
      std::vector<std::uint8_t> values;
      for (std::uint32_t i = 0; i < n; ++i) {
        values.push_back(std::uint8_t(std::lround(120 + 90 * std::cos(2 * M_PI * (theta + double(i) / n)))));
      }
      auto e = PhaseFrames(values).Evaluate();
      // Rounding to whole levels moves the phase by at most 0.5·√(2/n)/90 rad.
      EXPECT_NEAR(e->GetPhaseImage()->data[0], theta, 0.5 / 90 / (2 * M_PI) * 2) << n << " " << theta;
      EXPECT_NEAR(e->GetAmplitudeImage()->data[0], 90.0, 1.0);
    }
  }
}

TEST(SLPhaseShiftScanEvaluation, FewerThanThreeFramesGiveNothing) {
  auto e = PhaseFrames({10, 20}).Evaluate();
  EXPECT_FALSE(e->GetPhaseImage());
  EXPECT_FALSE(e->GetAmplitudeImage());
  EXPECT_FALSE(e->GetMeanImage());
}

// A code evaluation holding a fixed code image.
class FixedCode : public SLGrayCodeScanEvaluation {
 public:
  explicit FixedCode(std::vector<img::int32> codes) : SLGrayCodeScanEvaluation(2, 1) {
    m_codeImage = std::make_shared<img::UniImage<img::int32>>(std::uint32_t(codes.size()), 1);
    std::copy(codes.begin(), codes.end(), m_codeImage->data);
  }
  void Prepare(const SLScannedImagesStore&) override {}
  std::uint32_t DigitAt(std::uint32_t, std::uint32_t, std::uint32_t, ThreadLocalStorage&) const override { return 0; }
  std::uint32_t Width() const override { return 0; }
  std::uint32_t Height() const override { return 0; }
  bool IsComplete() const override { return true; }
};

// A phase evaluation whose phase image is set by hand (1 × n).
std::shared_ptr<SLPhaseShiftScanEvaluation> PhaseOf(const std::vector<float>& phases, std::uint32_t extent) {
  // Frames cos(2π(φ + i/4)) give back φ up to rounding; the combiner only
  // reads the phase image, so rebuild it exactly afterwards.
  auto sequence = std::make_shared<SLPhaseShiftPatternSequence>(true, extent, 1, 16.0, 4);
  SLScannedImagesStore store;
  for (const auto& pattern : sequence->Patterns()) {
    store.AddGrayImage(pattern, std::make_shared<img::UniImage<img::uint8>>(std::uint32_t(phases.size()), 1));
  }
  auto evaluation = std::make_shared<SLPhaseShiftScanEvaluation>(sequence);
  evaluation->Evaluate(store);
  std::copy(phases.begin(), phases.end(), evaluation->GetPhaseImage()->data);
  return evaluation;
}

TEST(SLGrayCodePhaseCombiner, PhaseCorrectsTheHalfPeriodIndex) {
  const std::uint32_t extent = 160;  // period 16
  SLGrayCodePhaseCombiner combiner(std::make_shared<FixedCode>(std::vector<img::int32>{5, 6, 0, 4, 4}),
                                   PhaseOf({0.9f, 0.95f, 0.8f, 0.1f, 0.76f}, extent));
  combiner.Evaluate();
  const auto result = combiner.GetResult();
  ASSERT_TRUE(result);
  const double unit = 16.0 / extent;
  EXPECT_FLOAT_EQ(result->data[0], float(2.9 * unit));    // k = ⌊2.5 + 0.75 − 0.9⌋ = 2
  EXPECT_FLOAT_EQ(result->data[1], float(2.95 * unit));   // c one too high, still period 2
  EXPECT_FLOAT_EQ(result->data[2], float(-0.2 * unit));   // k = −1
  EXPECT_FLOAT_EQ(result->data[3], float(2.1 * unit));
  EXPECT_FLOAT_EQ(result->data[4], float(1.76 * unit));   // φ over a quarter past its half: previous period
}

TEST(SLGrayCodePhaseCombiner, MissingOrMismatchedInputsGiveNoResult) {
  SLGrayCodePhaseCombiner mismatched(std::make_shared<FixedCode>(std::vector<img::int32>{1, 2}),
                                     PhaseOf({0.1f, 0.2f, 0.3f}, 160));
  mismatched.Evaluate();
  EXPECT_FALSE(mismatched.GetResult());
  SLGrayCodePhaseCombiner noPhase(std::make_shared<FixedCode>(std::vector<img::int32>{1}),
                                  PhaseFrames({1, 2}).Evaluate());
  noPhase.Evaluate();
  EXPECT_FALSE(noPhase.GetResult());
}

img::UniImagePtr<float> Image(std::uint32_t w, std::uint32_t h, float value) {
  auto image = std::make_shared<img::UniImage<float>>(w, h);
  *image = value;
  return image;
}

TEST(SLQualityEvaluation, ThresholdWindowAndMinimumOverSources) {
  auto a = Image(9, 7, 50.0f);
  (*a)(4, 3) = 10.0f;   // exactly minContrast: passes
  (*a)(0, 0) = 9.99f;   // below: 0
  auto b = Image(9, 7, 40.0f);
  (*b)(8, 6) = 20.0f;
  SLQualityEvaluation quality({a, b}, 10.0f);
  const auto q = quality.Evaluate();
  ASSERT_TRUE(q);
  EXPECT_FLOAT_EQ((*q)(4, 3), 1.2f * 10.0f / 50.0f);
  EXPECT_FLOAT_EQ((*q)(2, 5), 1.2f * 10.0f / 50.0f);  // two pixels away: inside the window
  EXPECT_FLOAT_EQ((*q)(1, 3), 1.0f);                 // three away: 1.2 capped at 1
  EXPECT_FLOAT_EQ((*q)(0, 0), 0.0f);
  EXPECT_FLOAT_EQ((*q)(1, 1), 1.2f * 9.99f / 50.0f);  // window reaches the dim corner
  EXPECT_FLOAT_EQ((*q)(7, 5), 1.2f * 20.0f / 40.0f);  // clipped window at the far corner of b
  EXPECT_FLOAT_EQ((*q)(5, 4), 1.2f * 10.0f / 50.0f);  // the smaller of both sources
}

// The quality of one pixel straight from its definition, for comparison.
float ReferenceQuality(const std::vector<img::UniImagePtr<float>>& sources, float minContrast, int x, int y) {
  float q = 1.0f;
  for (const auto& source : sources) {
    const int w = static_cast<int>(source->width), h = static_cast<int>(source->height);
    const float value = (*source)(x, y);
    if (!(value >= minContrast)) return 0.0f;
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (int v = std::max(0, y - 2); v <= std::min(h - 1, y + 2); ++v) {
      for (int u = std::max(0, x - 2); u <= std::min(w - 1, x + 2); ++u) {
        const float n = (*source)(u, v);
        if (std::isnan(n)) continue;
        lo = std::min(lo, n);
        hi = std::max(hi, n);
      }
    }
    const float score = hi > 0.0f ? std::clamp(1.2f * lo / hi, 0.0f, 1.0f) : 0.0f;
    q = std::min(q, score);
  }
  return q;
}

TEST(SLQualityEvaluation, RowBandsOnWorkersMatchTheDefinitionEverywhere) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> contrast(0.0f, 60.0f);
  std::vector<img::UniImagePtr<float>> sources;
  for (int k = 0; k < 2; ++k) {
    auto image = Image(37, 23, 0.0f);  // odd sizes: bands of unequal height
    for (int i = 0; i < image->size; ++i) image->data[i] = contrast(rng);
    (*image)(5 + k, 11) = std::numeric_limits<float>::quiet_NaN();  // at a band border of 2 workers
    sources.push_back(image);
  }
  const auto q = SLQualityEvaluation(sources, 8.0f).Evaluate();
  ASSERT_TRUE(q);
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) EXPECT_FLOAT_EQ((*q)(x, y), ReferenceQuality(sources, 8.0f, x, y)) << x << "," << y;
  }
}

TEST(SLQualityEvaluation, NaNAndNonPositiveContrastAreGuarded) {
  auto a = Image(5, 5, 0.0f);
  (*a)(2, 2) = std::numeric_limits<float>::quiet_NaN();
  SLQualityEvaluation zero({a}, 0.0f);
  const auto q = zero.Evaluate();
  EXPECT_FLOAT_EQ((*q)(2, 2), 0.0f);  // NaN fails the threshold
  EXPECT_FLOAT_EQ((*q)(0, 0), 0.0f);  // window maximum 0: guarded
  EXPECT_FALSE(SLQualityEvaluation({}, 1.0f).Evaluate());
  EXPECT_THROW(SLQualityEvaluation({a, Image(4, 5, 1.0f)}, 1.0f), std::invalid_argument);
}

}  // namespace
}  // namespace scan
