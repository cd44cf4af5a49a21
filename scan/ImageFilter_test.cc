#include "scan/ImageFilter.h"

#include <gtest/gtest.h>

#include <vector>

namespace scan {
namespace {

using Grey = img::UniImage<img::uint8>;

Grey Uniform(std::uint8_t level, std::uint32_t w = 40, std::uint32_t h = 40) {
  Grey image(w, h);
  image = level;
  return image;
}

// A filter on a clock the test sets.
struct Clocked {
  double now = 100.0;
  ImageFilter filter;
  explicit Clocked(const AcquisitionParameters& p) : filter(p, [this] { return now; }) {}
  // Whether the frame was taken.
  bool Feed(std::uint8_t level, double dt = 0.01) {
    now += dt;
    return filter.Process(Uniform(level)) != nullptr;
  }
};

AcquisitionParameters ChangeDetection(int skip, int noiseReduction = 0) {
  AcquisitionParameters p;
  p.imageContentSensitivity = 90;  // threshold 25.5 grey levels
  p.imageSkipCount = skip;
  p.noiseReduction = noiseReduction;
  p.maxPatternHoldingTime = 10.0;
  return p;
}

TEST(ImageFilter, ModesAndAveragingFromTheParameters) {
  AcquisitionParameters p;
  const int expected[] = {1, 2, 3, 5, 9};
  for (int n = 0; n < 5; ++n) {
    p.noiseReduction = n;
    EXPECT_EQ(ImageFilter(p).FramesToAverage(), expected[n]) << n;
  }
  p.noiseReduction = 33;  // the shift count is taken modulo 32
  EXPECT_EQ(ImageFilter(p).FramesToAverage(), 2);
  p.imageContentSensitivity = 0;
  EXPECT_EQ(ImageFilter(p).GetMode(), ImageFilter::kFixedRate);
  p.imageContentSensitivity = 100;
  EXPECT_EQ(ImageFilter(p).GetMode(), ImageFilter::kEveryFrame);
  EXPECT_EQ(ImageFilter(p).FramesToAverage(), 0);
  p.restDuration = 0.5;
  EXPECT_EQ(ImageFilter(p).GetState(), ImageFilter::kWaitingForRest);
  p.waitForMotionFirst = true;
  EXPECT_EQ(ImageFilter(p).GetState(), ImageFilter::kWaitingForMotion);
  p.restDuration = 0.0;
  EXPECT_EQ(ImageFilter(p).GetState(), ImageFilter::kWaitingForPattern);
}

TEST(ImageFilter, FirstFrameIsNeverTaken) {
  for (int sensitivity : {0, 50, 100}) {
    AcquisitionParameters p;
    p.imageContentSensitivity = sensitivity;
    p.imageSkipCount = 0;
    p.maxPatternHoldingTime = 0.0;
    Clocked c(p);
    EXPECT_FALSE(c.Feed(10, 5.0)) << sensitivity;
    EXPECT_TRUE(c.Feed(200, 5.0)) << sensitivity;
  }
}

TEST(ImageFilter, SkipTwoDropsTheChangedFrameAndTheNextTakesTheThird) {
  Clocked c(ChangeDetection(2));
  EXPECT_FALSE(c.Feed(10));   // reference
  EXPECT_FALSE(c.Feed(10));   // unchanged
  EXPECT_FALSE(c.Feed(100));  // change seen: dropped
  EXPECT_EQ(c.filter.GetState(), ImageFilter::kSkipping);
  EXPECT_FALSE(c.Feed(100));  // dropped
  EXPECT_TRUE(c.Feed(100));   // taken
  EXPECT_EQ(c.filter.GetState(), ImageFilter::kWaitingForPattern);
  // The taken frame is the new reference: the same content is not a change.
  EXPECT_FALSE(c.Feed(100));
  EXPECT_FALSE(c.Feed(100));
  EXPECT_FALSE(c.Feed(100));
}

TEST(ImageFilter, SkipZeroTakesTheChangedFrameItself) {
  Clocked c(ChangeDetection(0));
  EXPECT_FALSE(c.Feed(10));
  EXPECT_FALSE(c.Feed(30));  // a difference of 20 stays below the threshold of 25.5
  ImageFilter& f = c.filter;
  auto taken = f.Process(Uniform(200));
  ASSERT_TRUE(taken);
  EXPECT_EQ((*taken)(20, 20), 200);
}

TEST(ImageFilter, HoldingTimeEndsTheWaitWithoutAChange) {
  AcquisitionParameters p = ChangeDetection(1);
  p.maxPatternHoldingTime = 0.5;
  Clocked c(p);
  EXPECT_FALSE(c.Feed(10, 0.0));
  EXPECT_FALSE(c.Feed(10, 0.5));   // not more than 0.5 s yet
  EXPECT_FALSE(c.Feed(10, 0.01));  // time-out: starts skipping, drops this one
  EXPECT_TRUE(c.Feed(10, 0.01));
}

TEST(ImageFilter, EveryFrameModeTakesOnePerCall) {
  AcquisitionParameters p;
  p.imageContentSensitivity = 100;
  p.imageSkipCount = 0;
  p.noiseReduction = 3;  // ignored when every frame is taken
  Clocked c(p);
  EXPECT_FALSE(c.Feed(7));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(c.Feed(7)) << i;
}

TEST(ImageFilter, FixedRateTakesAFrameWheneverTheHoldingTimeHasPassed) {
  AcquisitionParameters p;
  p.imageContentSensitivity = 0;
  p.imageSkipCount = 0;
  p.maxPatternHoldingTime = 0.5;
  Clocked c(p);
  c.Feed(50, 0.0);
  std::vector<double> takenAt;
  for (int i = 0; i < 40; ++i)
    if (c.Feed(50, 0.125)) takenAt.push_back(c.now);  // exact binary fractions
  // The timer restarts at each taken frame; 0.625 s is the first step beyond 0.5 s.
  ASSERT_EQ(takenAt.size(), 8u);
  for (std::size_t i = 1; i < takenAt.size(); ++i) EXPECT_EQ(takenAt[i] - takenAt[i - 1], 0.625);
}

TEST(ImageFilter, NoiseReductionTwoAveragesThreeFramesAfterTheSkip) {
  Clocked c(ChangeDetection(1, 2));
  ImageFilter& f = c.filter;
  c.Feed(0);
  EXPECT_FALSE(c.Feed(100));              // change: skipped
  EXPECT_FALSE(f.Process(Uniform(100)));  // first of three
  EXPECT_EQ(f.GetState(), ImageFilter::kTaking);
  EXPECT_FALSE(f.Process(Uniform(101)));
  auto average = f.Process(Uniform(103));
  ASSERT_TRUE(average);
  EXPECT_EQ((*average)(0, 0), (100 + 101 + 103) / 3);  // 101, integer division
  EXPECT_EQ(f.GetState(), ImageFilter::kWaitingForPattern);
}

TEST(ImageFilter, AveragingRestartsWhenTheFrameSizeChanges) {
  Clocked c(ChangeDetection(0, 1));  // two frames per average
  ImageFilter& f = c.filter;
  c.Feed(0);
  EXPECT_FALSE(f.Process(Uniform(100)));
  EXPECT_FALSE(f.Process(Uniform(50, 48, 40)));  // starts a new sum
  auto average = f.Process(Uniform(70, 48, 40));
  ASSERT_TRUE(average);
  EXPECT_EQ(average->width, 48u);
  EXPECT_EQ((*average)(47, 39), 60);
}

TEST(ImageFilter, RestDetectionWaitsForMotionThenForStillness) {
  AcquisitionParameters p = ChangeDetection(0);
  p.restDuration = 0.3;
  p.waitForMotionFirst = true;
  Clocked c(p);
  EXPECT_FALSE(c.Feed(10, 0.0));
  EXPECT_FALSE(c.Feed(10, 1.0));  // still: no motion yet, however long
  EXPECT_EQ(c.filter.GetState(), ImageFilter::kWaitingForMotion);
  // Motion: rest detection starts in the same call, which takes the changed
  // frame as its reference.
  EXPECT_FALSE(c.Feed(90, 0.1));
  EXPECT_EQ(c.filter.GetState(), ImageFilter::kWaitingForRest);
  EXPECT_FALSE(c.Feed(90, 0.2));   // 0.2 s still
  EXPECT_FALSE(c.Feed(150, 0.2));  // moved again: the stillness starts anew
  EXPECT_FALSE(c.Feed(150, 0.2));  // 0.2 s still
  EXPECT_TRUE(c.Feed(150, 0.2));   // 0.4 s still: taken
  EXPECT_EQ(c.filter.GetState(), ImageFilter::kWaitingForPattern);
}

TEST(ImageFilter, ChangeTestSamplesEveryFifthPixelOfTheCentre) {
  // 16 wide: x0 = 4, x1 = 12, so columns 4 and 9 are sampled; 200 high:
  // rows 50 … 150, 21 rows, 42 samples, 1 needed.
  const Grey reference = Uniform(0, 16, 200);
  for (std::uint32_t column = 0; column < 16; ++column) {
    Grey frame = reference;
    for (std::uint32_t y = 0; y < 200; ++y) frame(column, y) = 255;
    EXPECT_EQ(ImageFilter::Changed(reference, frame, 90), column == 4 || column == 9) << column;
  }
}

TEST(ImageFilter, ChangeTestNeedsTwoPercentOfTheSamples) {
  // 100 × 100: 11 × 11 samples, round(2.42) = 2 needed.
  const Grey reference = Uniform(0, 100, 100);
  Grey frame = reference;
  frame(25, 25) = 255;
  EXPECT_FALSE(ImageFilter::Changed(reference, frame, 90));
  frame(75, 75) = 255;
  EXPECT_TRUE(ImageFilter::Changed(reference, frame, 90));
  // The threshold: (100 − 90)·2.55 = 25.5, so 26 counts and 25 does not.
  Grey small = Uniform(25, 100, 100);
  EXPECT_FALSE(ImageFilter::Changed(reference, small, 90));
  Grey large = Uniform(26, 100, 100);
  EXPECT_TRUE(ImageFilter::Changed(reference, large, 90));
  // 25 samples (a 40 × 40 image) need round(0.5) = 1: halves round up.
  Grey a = Uniform(0), b = Uniform(0);
  b(20, 20) = 255;
  EXPECT_TRUE(ImageFilter::Changed(a, b, 90));
}

TEST(ImageFilter, ChangeTestUsesTheOverlapOfDifferentSizes) {
  // The overlap is 16 × 200 however large the frame: column 9 is sampled,
  // columns beyond 16 never are.
  const Grey reference = Uniform(0, 16, 200);
  Grey frame = Uniform(0, 64, 400);
  for (std::uint32_t y = 0; y < 400; ++y) frame(40, y) = 255;
  EXPECT_FALSE(ImageFilter::Changed(reference, frame, 90));
  for (std::uint32_t y = 0; y < 400; ++y) frame(9, y) = 255;
  EXPECT_TRUE(ImageFilter::Changed(reference, frame, 90));
  // Too few samples to decide, and empty images: never a change.
  EXPECT_FALSE(ImageFilter::Changed(Uniform(0, 4, 4), Uniform(255, 4, 4), 90));
  EXPECT_FALSE(ImageFilter::Changed(Grey(), Uniform(255), 90));
}

TEST(ImageFilter, SuggestedSkipCountCannotAskTheCompositor) {
  EXPECT_EQ(ImageFilter::SuggestImageSkipCount(false), 2);
  EXPECT_EQ(ImageFilter::SuggestImageSkipCount(true), 3);
}

}  // namespace
}  // namespace scan
