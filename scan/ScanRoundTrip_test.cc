// Round trips: render a scan's patterns, sample them through a known
// camera-to-projector map with noise, decode, compare with the true
// projector position of every camera pixel.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scan/SLCodedLightScan.h"
#include "scan/SLPSKScan.h"
#include "scan/testing/SyntheticCamera.h"

namespace scan {
namespace {

constexpr std::uint32_t kProjectorWidth = 256;
constexpr std::uint32_t kProjectorHeight = 192;
constexpr std::uint32_t kPeriod = 16;

// A tilted, scaled view with sub-pixel offsets that stays inside the projector.
testing::SyntheticCameraOptions Camera(double noise) {
  testing::SyntheticCameraOptions o;
  o.width = 200;
  o.height = 150;
  o.mapX = {1.1, 0.15, 12.3};
  o.mapY = {-0.1, 1.05, 24.7};
  o.gain = 0.8;
  o.offset = 20.0;
  o.noiseSigma = noise;
  o.seed = 7;
  return o;
}

struct Errors {
  double maxError = 0.0;  // projector pixels
  std::size_t checked = 0;
  std::size_t invalid = 0;  // quality 0 inside the checked region
};

// Compares correspondences (normalised by extent) with the true positions of
// the pixels that see the projector at least one period from its border.
Errors Compare(const testing::SyntheticCamera& camera, const img::UniImage<float>& correspondences,
               const img::UniImage<float>& quality, bool alongX) {
  Errors e;
  const double extent = alongX ? kProjectorWidth : kProjectorHeight;
  for (std::uint32_t y = 0; y < correspondences.height; ++y) {
    for (std::uint32_t x = 0; x < correspondences.width; ++x) {
      const auto [u, v] = camera.ProjectorPosition(x, y);
      if (u < kPeriod || u > kProjectorWidth - kPeriod || v < kPeriod || v > kProjectorHeight - kPeriod) continue;
      ++e.checked;
      if (!(quality(x, y) > 0.0f)) ++e.invalid;
      const double truth = alongX ? u : v;
      e.maxError = std::max(e.maxError, std::abs(correspondences(x, y) * extent - truth));
    }
  }
  return e;
}

// Noise σ = 1.5 grey levels on an amplitude of 0.8·127.5 = 102 levels and 4
// shifts gives a phase σ of 1.5 / (102·√2) rad = 0.0023 periods = 0.04 px;
// bilinear sampling of a 16-pixel sine bends it by up to (2π/16)²/8 ≈ 0.02 rad
// (0.05 px), the 8-bit rounding adds under 0.01 px. Five sigmas plus the bias
// stay below 0.3 px; a wrong stripe index would cost 8 or 16 px.
constexpr double kTolerance = 0.3;

void ExpectRoundTrip(SLScan& scan, const testing::SyntheticCameraOptions& options) {
  testing::SyntheticCamera camera(options);
  const auto store = camera.Capture(scan, kProjectorWidth, kProjectorHeight);
  const auto result = scan.Evaluate(*store, {});
  ASSERT_TRUE(result);
  ASSERT_TRUE(result->CorrespondencesX());
  ASSERT_TRUE(result->CorrespondencesY());
  ASSERT_TRUE(result->Quality());
  const Errors ex = Compare(camera, *result->CorrespondencesX(), *result->Quality(), true);
  const Errors ey = Compare(camera, *result->CorrespondencesY(), *result->Quality(), false);

  EXPECT_GT(ex.checked, 20000u);
  EXPECT_LT(ex.maxError, kTolerance);
  EXPECT_LT(ey.maxError, kTolerance);
  EXPECT_EQ(ex.invalid, 0u);
}

TEST(ScanRoundTrip, CodedLightWithInversePatterns) {
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 0, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  ExpectRoundTrip(scan, Camera(1.5));
}

TEST(ScanRoundTrip, CodedLightAgainstMeanBrightness) {
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 1, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  ExpectRoundTrip(scan, Camera(1.5));
}

TEST(ScanRoundTrip, CodedLightThreeShiftsFlippedAxis) {
  // Camera x runs against projector x: the stripe index falls along a row.
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 3, kPeriod, 0, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  auto options = Camera(1.0);
  options.mapX = {-1.1, 0.15, 240.6};
  ExpectRoundTrip(scan, options);
}

TEST(ScanRoundTrip, PSKTwoShiftsPerLevel) {
  SLPSKScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 4, 2, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  ExpectRoundTrip(scan, Camera(1.5));
}

TEST(ScanRoundTrip, PSKThreeShiftsPerLevel) {
  SLPSKScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 3, 3, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  ExpectRoundTrip(scan, Camera(1.5));
}

TEST(ScanRoundTrip, PSKFourShiftsFiveSymbols) {
  SLPSKScan scan(kProjectorWidth, kProjectorHeight, 5, kPeriod, 5, 4, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  ExpectRoundTrip(scan, Camera(1.5));
}

TEST(ScanRoundTrip, ProgressCountsStepsAndEndsWithOne) {
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 0, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  scan.PrepareTextureScan(0);
  testing::SyntheticCamera camera(Camera(0.0));
  const auto store = camera.Capture(scan, kProjectorWidth, kProjectorHeight);
  std::vector<double> calls;
  const auto result = scan.Evaluate(*store, [&](double f) {
    calls.push_back(f);
    return false;
  });
  ASSERT_TRUE(result);
  // 3 steps per orientation, the texture, the final quality step.
  const std::vector<double> expected{1 / 8.0, 2 / 8.0, 3 / 8.0, 4 / 8.0, 5 / 8.0, 6 / 8.0, 7 / 8.0, 1.0};
  EXPECT_EQ(calls, expected);
  ASSERT_TRUE(result->Texture());
  // Grey camera, white screen: red light reads 20 + 0.8·85, black 20.
  EXPECT_EQ((*result->Texture())(50, 50), img::RGB8::FromRGB(68, 68, 68));
}

TEST(ScanRoundTrip, MeanThresholdHasFourStepsPerOrientation) {
  SLCodedLightScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 1, 10.0f);
  scan.PrepareScanForOrientation(0);
  testing::SyntheticCamera camera(Camera(0.0));
  const auto store = camera.Capture(scan, kProjectorWidth, kProjectorHeight);
  std::vector<double> calls;
  ASSERT_TRUE(scan.Evaluate(*store, [&](double f) {
    calls.push_back(f);
    return false;
  }));
  EXPECT_EQ(calls, (std::vector<double>{0.2, 0.4, 0.6, 0.8, 1.0}));
}

TEST(ScanRoundTrip, CancelStopsAfterTheStepThatAsked) {
  SLPSKScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 4, 2, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  testing::SyntheticCamera camera(Camera(0.0));
  const auto store = camera.Capture(scan, kProjectorWidth, kProjectorHeight);
  int calls = 0;
  EXPECT_FALSE(scan.Evaluate(*store, [&](double) { return ++calls == 2; }));
  EXPECT_EQ(calls, 2);
}

TEST(ScanRoundTrip, ColourTextureFromOneFrame) {
  SLPSKScan scan(kProjectorWidth, kProjectorHeight, 4, kPeriod, 4, 2, 10.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareTextureScan(1);
  testing::SyntheticCamera camera(Camera(0.0));
  const auto store = camera.Capture(scan, kProjectorWidth, kProjectorHeight);
  const auto result = scan.Evaluate(*store, {});
  ASSERT_TRUE(result && result->Texture() && result->CorrespondencesX());
  EXPECT_FALSE(result->CorrespondencesY());
  // GrayPattern(128) seen in colour: 20 + 0.8·128 = 122.4 in every channel.
  EXPECT_EQ((*result->Texture())(10, 20), img::RGB8::FromRGB(122, 122, 122));
}

// A capture cut short after `keep` patterns in display order.
std::shared_ptr<SLScannedImagesStore> Truncated(const SLScan& scan, const SLScannedImagesStore& full,
                                                std::size_t keep) {
  auto store = std::make_shared<SLScannedImagesStore>();
  const auto patterns = scan.AllPatterns();
  for (std::size_t i = 0; i < keep && i < patterns.size(); ++i) store->AddGrayImage(patterns[i], full.GrayImageOf(patterns[i]));
  return store;
}

TEST(ScanRoundTrip, IncompleteCapturesGiveNoCorrespondencesNeverACrash) {
  SLCodedLightScan coded(kProjectorWidth, kProjectorHeight, 4, kPeriod, 0, 10.0f);
  coded.PrepareScanForOrientation(1);
  coded.PrepareScanForOrientation(0);
  SLPSKScan psk(kProjectorWidth, kProjectorHeight, 4, kPeriod, 4, 3, 10.0f);
  psk.PrepareScanForOrientation(1);
  psk.PrepareScanForOrientation(0);
  auto options = Camera(0.0);
  options.width = 40;
  options.height = 30;
  testing::SyntheticCamera camera(options);
  for (SLScan* scan : std::vector<SLScan*>{&coded, &psk}) {
    const auto full = camera.Capture(*scan, kProjectorWidth, kProjectorHeight);
    const std::uint32_t firstOrientation = scan->Sequences()[0]->PatternCount() + scan->Sequences()[1]->PatternCount() +
                                           (scan == &coded ? scan->Sequences()[2]->PatternCount() : 0);
    for (std::size_t keep = 0; keep < scan->PatternCount(); ++keep) {
      const auto result = scan->Evaluate(*Truncated(*scan, *full, keep), {});
      ASSERT_TRUE(result);
      EXPECT_FALSE(result->CorrespondencesY()) << keep;
      EXPECT_EQ(bool(result->CorrespondencesX()), keep >= firstOrientation) << keep;
    }
  }
}

}  // namespace
}  // namespace scan
