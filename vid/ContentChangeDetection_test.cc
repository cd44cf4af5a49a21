#include "vid/ContentChangeDetection.h"

#include <gtest/gtest.h>

#include "vid/FramerateMeasure.h"

namespace vid {
namespace {

// A clock the test moves by hand.
struct FakeClock {
  double now = 0.0;
  SecondsClock Get() {
    return [this] { return now; };
  }
};

Image GreyFrame(int width, int height, std::uint8_t value) {
  Image image;
  image.format = Format{subtype::Y800, width, height, 0.0};
  std::vector<std::uint8_t> bytes(std::size_t(width) * height, value);
  image.data = MakeRawByteImage(image.format, width, bytes.data(), true);
  return image;
}

TEST(FramerateMeasure, RateOfTheLastWindowLongerThanTheInterval) {
  FakeClock clock;
  FramerateMeasure measure(1.0, clock.Get());
  EXPECT_EQ(measure.GetFramerate(), 0.0);
  for (int i = 1; i <= 4; ++i) {  // t = 0.25 … 1.0: the window is not yet longer than 1 s
    clock.now = 0.25 * i;
    measure.Update();
  }
  EXPECT_EQ(measure.GetFramerate(), 0.0);
  clock.now = 1.25;
  measure.Update();
  EXPECT_DOUBLE_EQ(measure.GetFramerate(), 5 / 1.25);
  clock.now = 2.0;
  measure.Update();  // new window from 1.25 holds one frame, not yet complete
  EXPECT_DOUBLE_EQ(measure.GetFramerate(), 4.0);
  clock.now = 2.5;
  EXPECT_DOUBLE_EQ(measure.GetTimeSinceLastUpdate(), 0.5);
  clock.now = 3.0;
  measure.Update();
  EXPECT_DOUBLE_EQ(measure.GetFramerate(), 2 / 1.75);
  measure.Reset();
  EXPECT_EQ(measure.GetFramerate(), 0.0);
  EXPECT_EQ(measure.GetTimeSinceLastUpdate(), 0.0);
}

TEST(ImagesDiffer, IdenticalNeverDifferentSizesAlways) {
  const Image a = GreyFrame(100, 100, 10);
  EXPECT_FALSE(ImagesDiffer(a, a, 90));
  EXPECT_FALSE(ImagesDiffer(a, GreyFrame(100, 100, 10), 90));
  EXPECT_TRUE(ImagesDiffer(a, GreyFrame(101, 100, 10), 90));
  Image other = GreyFrame(100, 100, 10);
  other.format.mediaSubtype = subtype::BY8;
  EXPECT_TRUE(ImagesDiffer(a, other, 90));
  EXPECT_FALSE(ImagesDiffer(Image{}, a, 90));  // an empty first image differs from nothing
}

TEST(ImagesDiffer, CountsOnlySampledBytesAboveTheThreshold) {
  // 100 × 100 grey: samples at 25, 30, … 75 in both directions, 121 of them;
  // lround(0.02 · 121) = 2 must differ.
  const Image reference = GreyFrame(100, 100, 10);
  Image frame = GreyFrame(100, 100, 10);
  auto set = [&](int x, int y, int v) { (*frame.data)(x, y) = static_cast<std::uint8_t>(v); };
  set(25, 25, 200);
  EXPECT_FALSE(ImagesDiffer(reference, frame, 90));  // one sample is not enough
  set(26, 25, 200);
  set(74, 74, 200);
  EXPECT_FALSE(ImagesDiffer(reference, frame, 90));  // off-grid bytes are not looked at
  set(75, 75, 100);
  EXPECT_FALSE(ImagesDiffer(reference, frame, 90));  // |100 − 10| = 90 is not above 90
  set(75, 75, 101);
  EXPECT_TRUE(ImagesDiffer(reference, frame, 90));
}

TEST(ImagesDiffer, TwentyFourBitFramesAreSampledEveryFourBytes) {
  // 40 × 40 RGB24: bytes 30 … 90 step 4 (16 samples) by rows 10 … 30 step 4 (6): 96
  // samples, 2 needed.
  auto frame = [](std::uint8_t v) {
    Image image;
    image.format = Format{subtype::RGB24, 40, 40, 0.0};
    std::vector<std::uint8_t> bytes(120 * 40, v);
    image.data = MakeRawByteImage(image.format, 120, bytes.data(), true);
    return image;
  };
  const Image reference = frame(0);
  Image changed = frame(0);
  (*changed.data)(30, 10) = 255;
  (*changed.data)(31, 10) = 255;  // off-grid
  EXPECT_FALSE(ImagesDiffer(reference, changed, 90));
  (*changed.data)(90, 30) = 255;
  EXPECT_TRUE(ImagesDiffer(reference, changed, 90));
}

TEST(ImagesDiffer, TooSmallImagesNeverDiffer) {
  // 16 × 16: 2 × 2 samples, lround(0.08) = 0.
  EXPECT_FALSE(ImagesDiffer(GreyFrame(16, 16, 0), GreyFrame(16, 16, 255), 90));
}

TEST(ContentChangeDetection, ReportsTheFirstChangeAndKeepsReportingIt) {
  FakeClock clock;
  ContentChangeDetection detector(false, 10.0, 0, clock.Get());
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 0)));  // becomes the reference
  clock.now = 1.0;
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 0)));
  EXPECT_DOUBLE_EQ(detector.GetTime(), 1.0);
  clock.now = 2.0;
  EXPECT_TRUE(detector.Update(GreyFrame(100, 100, 255)));
  EXPECT_TRUE(detector.HasContentChanged());
  EXPECT_TRUE(detector.Update(GreyFrame(100, 100, 0)));
  EXPECT_FALSE(detector.IsTimerExpired());
}

TEST(ContentChangeDetection, IgnoreFirstChangeSkipsOnlyTheFirstComparedFrame) {
  FakeClock clock;
  ContentChangeDetection detector(true, 10.0, 0, clock.Get());
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 0)));
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 255)));  // ignored
  EXPECT_FALSE(detector.HasContentChanged());
  EXPECT_TRUE(detector.Update(GreyFrame(100, 100, 255)));  // mode 0: still differs from the first
}

TEST(ContentChangeDetection, ModeOneComparesWithThePreviousFrame) {
  // A slow drift of 60 grey levels per frame: never more than 90 between
  // neighbours, 120 after two frames.
  FakeClock clock;
  ContentChangeDetection fixed(false, 10.0, 0, clock.Get());
  ContentChangeDetection following(false, 10.0, 1, clock.Get());
  bool fixedSaw = false, followingSaw = false;
  for (int v : {0, 60, 120, 180}) {
    fixedSaw = fixed.Update(GreyFrame(100, 100, std::uint8_t(v)));
    followingSaw = following.Update(GreyFrame(100, 100, std::uint8_t(v)));
  }
  EXPECT_TRUE(fixedSaw);
  EXPECT_FALSE(followingSaw);
}

TEST(ContentChangeDetection, ExpiresAfterTheTimeoutAndThenStaysQuiet) {
  FakeClock clock;
  ContentChangeDetection detector(false, 2.0, 0, clock.Get());
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 0)));
  clock.now = 5.0;
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 0)));
  EXPECT_TRUE(detector.IsTimerExpired());
  EXPECT_DOUBLE_EQ(detector.GetTime(), 2.0);  // capped at the timeout
  EXPECT_FALSE(detector.Update(GreyFrame(100, 100, 255)));
  EXPECT_FALSE(detector.HasContentChanged());
}

TEST(ContentChangeDetection, AChangeSeenAtTheTimeoutStillCounts) {
  FakeClock clock;
  ContentChangeDetection detector(false, 2.0, 0, clock.Get());
  detector.Update(GreyFrame(100, 100, 0));
  clock.now = 3.0;
  EXPECT_TRUE(detector.Update(GreyFrame(100, 100, 255)));
  EXPECT_FALSE(detector.IsTimerExpired());
}

}  // namespace
}  // namespace vid
