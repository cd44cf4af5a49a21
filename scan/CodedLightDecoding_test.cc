// The one-pass decoding against the step-by-step chain of the evaluation
// classes, and the arctangent it relies on.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "scan/CodedLightDecoding.h"
#include "scan/PhaseInPeriods.h"
#include "scan/SLCodedLightScan.h"
#include "scan/SLCodedLightScanEvaluation.h"
#include "scan/SLGrayCodePhaseCombiner.h"
#include "scan/SLQualityEvaluation.h"
#include "scan/testing/SyntheticCamera.h"

namespace scan {
namespace {

constexpr std::uint32_t kProjectorWidth = 256;
constexpr std::uint32_t kProjectorHeight = 192;

// 100 rows: several bands of rows per worker, so that band edges (with the
// extra amplitude rows of the quality window) fall inside the image.
testing::SyntheticCameraOptions Camera() {
  testing::SyntheticCameraOptions o;
  o.width = 67;
  o.height = 100;
  o.mapX = {2.9, 0.3, 12.3};
  o.mapY = {-0.2, 1.6, 14.7};
  o.noiseSigma = 3.0;
  o.seed = 11;
  return o;
}

// A shadow: a rectangle of the camera that no pattern lights (amplitude 0,
// quality 0 inside, lowered around it).
void CastShadow(const SLScannedImagesStore& store, const SLCodedLightScan& scan) {
  for (const auto& sequence : scan.Sequences()) {
    for (const auto& frame : store.GrayImagesOf(*sequence)) {
      for (std::uint32_t y = 30; y < 61; ++y) {
        for (std::uint32_t x = 20; x < 37; ++x) (*frame)(x, y) = 21;
      }
    }
  }
}

struct Decoded {
  std::vector<img::UniImagePtr<float>> correspondences;  // per orientation, y-varying first
  img::UniImagePtr<float> quality;
};

// The chain of the evaluation classes, one step after the other.
Decoded Chain(const SLCodedLightScan& scan, const SLScannedImagesStore& store) {
  Decoded d;
  std::vector<img::UniImagePtr<float>> sources;
  for (std::uint32_t o = 0; o < 2; ++o) {
    const auto& sequences = scan.Orientation(o);
    if (!sequences.phaseSequence) continue;
    auto phase = std::make_shared<SLPhaseShiftScanEvaluation>(sequences.phaseSequence);
    phase->Evaluate(store);
    std::shared_ptr<SLCodedLightScanEvaluation> code;
    if (scan.GrayThreshold() == 0) {
      code = std::make_shared<SLCodedLightScanEvaluation>(sequences.graySequence, sequences.inverseGraySequence);
    } else {
      auto threshold = std::make_shared<SLAverageBrightnessEvaluation>(sequences.phaseSequence);
      threshold->Evaluate(store);
      code = std::make_shared<SLCodedLightScanEvaluation>(sequences.graySequence, threshold);
    }
    code->Evaluate(store);
    SLGrayCodePhaseCombiner combiner(code, phase);
    combiner.Evaluate();
    d.correspondences.push_back(combiner.GetResult());
    sources.push_back(phase->GetAmplitudeImage());
  }
  d.quality = SLQualityEvaluation(sources, scan.MinContrast()).Evaluate();
  return d;
}

std::vector<CodedLightOrientationFrames> Frames(const SLCodedLightScan& scan, const SLScannedImagesStore& store) {
  std::vector<CodedLightOrientationFrames> frames;
  for (std::uint32_t o = 0; o < 2; ++o) {
    const auto& sequences = scan.Orientation(o);
    if (!sequences.phaseSequence) continue;
    CodedLightOrientationFrames f;
    f.phase = store.GrayImagesOf(*sequences.phaseSequence);
    f.gray = store.GrayImagesOf(*sequences.graySequence);
    if (sequences.inverseGraySequence) f.inverse = store.GrayImagesOf(*sequences.inverseGraySequence);
    f.scale = sequences.phaseSequence->Period() / double(sequences.phaseSequence->Extent());
    frames.push_back(f);
  }
  return frames;
}

// Bit for bit, and not trivially: some pixels decoded, some rejected.
void ExpectSame(const img::UniImage<float>& a, const img::UniImage<float>& b, const char* what) {
  ASSERT_TRUE(a.SameSize(b)) << what;
  std::size_t differing = 0;
  for (std::int32_t j = 0; j < a.size; ++j) differing += a.data[j] != b.data[j] ? 1 : 0;
  EXPECT_EQ(differing, 0u) << what;
}

void ExpectSame(const Decoded& reference, const Decoded& d) {
  ASSERT_EQ(reference.correspondences.size(), d.correspondences.size());
  for (std::size_t o = 0; o < d.correspondences.size(); ++o) {
    ExpectSame(*reference.correspondences[o], *d.correspondences[o], "correspondences");
  }
  ExpectSame(*reference.quality, *d.quality, "quality");
}

TEST(CodedLightDecoding, OnePassEqualsTheStepByStepChainBitForBit) {
  for (std::uint32_t grayThreshold : {0u, 1u}) {
    for (bool both : {true, false}) {
      SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, grayThreshold == 0 ? 4 : 5, 16, grayThreshold, 30.0f);
      scan.PrepareScanForOrientation(1);
      if (both) scan.PrepareScanForOrientation(0);
      const auto store = testing::SyntheticCamera(Camera()).Capture(scan, kProjectorWidth, kProjectorHeight);
      CastShadow(*store, scan);
      const Decoded reference = Chain(scan, *store);
      std::size_t rejected = 0;
      for (std::int32_t j = 0; j < reference.quality->size; ++j) rejected += reference.quality->data[j] == 0.0f;
      ASSERT_GE(rejected, 17u * 31u);
      ASSERT_LT(rejected, std::size_t(reference.quality->size) / 2);

      SCOPED_TRACE(::testing::Message() << "grayThreshold " << grayThreshold << ", both " << both);
      for (unsigned workers : {1u, 2u, 7u}) {
        CodedLightDecoding decoding(Frames(scan, *store), scan.MinContrast());
        decoding.Evaluate(workers);
        Decoded d{{}, decoding.Quality()};
        for (std::size_t o = 0; o < reference.correspondences.size(); ++o) {
          d.correspondences.push_back(decoding.Correspondences(o));
        }
        ExpectSame(reference, d);
      }
      // The scan takes the one-pass route for a complete capture.
      const auto result = scan.Evaluate(*store, {});
      ASSERT_TRUE(result);
      Decoded d{{}, result->Quality()};
      if (both) d.correspondences.push_back(result->CorrespondencesY());
      d.correspondences.push_back(result->CorrespondencesX());
      ExpectSame(reference, d);
    }
  }
}

TEST(CodedLightDecoding, RejectsFramesItCannotDecode) {
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 4, 16, 0, 10.0f);
  scan.PrepareScanForOrientation(1);
  auto options = Camera();
  options.noiseSigma = 0.0;
  const auto store = testing::SyntheticCamera(options).Capture(scan, kProjectorWidth, kProjectorHeight);
  const auto good = Frames(scan, *store);
  EXPECT_NO_THROW(CodedLightDecoding(good, 10.0f));
  EXPECT_THROW(CodedLightDecoding({}, 10.0f), std::invalid_argument);

  auto twoShifts = good;
  twoShifts[0].phase.resize(2);
  EXPECT_THROW(CodedLightDecoding(twoShifts, 10.0f), std::invalid_argument);

  auto missingInverse = good;
  missingInverse[0].inverse.pop_back();
  EXPECT_THROW(CodedLightDecoding(missingInverse, 10.0f), std::invalid_argument);

  auto otherSize = good;
  otherSize[0].gray[3] = std::make_shared<img::UniImage<img::uint8>>(options.width, options.height - 1);
  EXPECT_THROW(CodedLightDecoding(otherSize, 10.0f), std::invalid_argument);
}

TEST(CodedLightDecoding, OrientationsOfDifferentSizesTakeTheSteps) {
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 4, 16, 0, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  auto options = Camera();
  const auto store = testing::SyntheticCamera(options).Capture(scan, kProjectorWidth, kProjectorHeight);
  // The x-varying frames from a camera one row shorter.
  options.height -= 1;
  const auto shorter = testing::SyntheticCamera(options).Capture(scan, kProjectorWidth, kProjectorHeight);
  SLScannedImagesStore mixed;
  for (std::uint32_t o = 0; o < 2; ++o) {
    const auto& sequences = scan.Orientation(o);
    for (const SLPatternSequencePtr& sequence :
         {SLPatternSequencePtr(sequences.phaseSequence), sequences.graySequence, sequences.inverseGraySequence}) {
      for (std::uint32_t i = 0; i < sequence->PatternCount(); ++i) {
        mixed.AddGrayImage(sequence->PatternAt(i), (o == 1 ? shorter : store)->GrayImageOf(sequence->PatternAt(i)));
      }
    }
  }
  const auto result = scan.Evaluate(mixed, {});
  ASSERT_TRUE(result && result->CorrespondencesX() && result->CorrespondencesY() && result->Quality());
  EXPECT_EQ(result->CorrespondencesX()->height, options.height);
  EXPECT_EQ(result->CorrespondencesY()->height, options.height + 1);
  EXPECT_EQ(result->Quality()->height, options.height + 1);  // the sources of the first size
}

// The library's angle in periods, in double precision.
double ReferencePhase(double y, double x) {
  const double a = std::atan2(y, x) / (2.0 * std::numbers::pi);
  return a < 0.0 ? a + 1.0 : a;
}

TEST(PhaseInPeriods, WithinThreeFloatStepsOfTheLibraryEverywhere) {
  // Exact on the axes and diagonals; -0 counts as 0.
  EXPECT_EQ(PhaseInPeriods(0.0f, 0.0f), 0.0f);
  EXPECT_EQ(PhaseInPeriods(0.0f, 3.0f), 0.0f);
  EXPECT_EQ(PhaseInPeriods(-0.0f, 3.0f), 0.0f);
  EXPECT_EQ(PhaseInPeriods(2.0f, 2.0f), 0.125f);
  EXPECT_EQ(PhaseInPeriods(3.0f, 0.0f), 0.25f);
  EXPECT_EQ(PhaseInPeriods(0.0f, -3.0f), 0.5f);
  EXPECT_EQ(PhaseInPeriods(-2.0f, -2.0f), 0.625f);
  EXPECT_EQ(PhaseInPeriods(-3.0f, 0.0f), 0.75f);
  // Just below the positive x axis: one period minus a tiny angle rounds to
  // 1 and becomes 0.
  EXPECT_EQ(PhaseInPeriods(-1e-12f, 200.0f), 0.0f);

  // Sums as the decoders make them, and both sides of tan(π/8) in every
  // octant. Error in float steps of the reference, at least 1/16: below
  // 1/8 the result is 1/8 − 0.066 at worst, so the rounding of the series
  // term (2 steps of 0.066) counts against the smaller result.
  double worst = 0.0;
  auto check = [&](float y, float x) {
    const double reference = ReferencePhase(y, x);
    const double step = std::max(std::abs(reference), 1.0 / 16) * std::numeric_limits<float>::epsilon();
    const double phase = PhaseInPeriods(y, x);
    const double error = std::min(std::abs(phase - reference), std::abs(phase + 1.0 - reference));
    worst = std::max(worst, error / step);
  };
  for (int y = -300; y <= 300; y += 7) {
    for (int x = -300; x <= 300; x += 3) check(float(y), float(x));
  }
  for (double t = 0.40; t < 0.43; t += 1e-5) {
    for (float sx : {1.0f, -1.0f}) {
      for (float sy : {1.0f, -1.0f}) {
        check(sy * float(t), sx * 1.0f);
        check(sy * 1.0f, sx * float(t));
      }
    }
  }
  EXPECT_LT(worst, 3.0);
  EXPECT_GT(worst, 0.5);  // the check sees float rounding at all
}

}  // namespace
}  // namespace scan
