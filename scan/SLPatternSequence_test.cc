#include <gtest/gtest.h>

#include "scan/SLCodedLightScan.h"
#include "scan/SLPSKScan.h"
#include "scan/SLStripePatterns.h"

namespace scan {
namespace {

std::vector<std::uint32_t> Order(std::uint32_t n, std::uint32_t slices) {
  SLAlternatingSliceShuffle shuffle(slices);
  std::vector<std::uint32_t> order;
  for (std::uint32_t i = 0; i < n; ++i) order.push_back(shuffle.MapIndex(i, n));
  return order;
}

TEST(SLAlternatingSliceShuffle, AlternatesBetweenSlices) {
  EXPECT_EQ(Order(6, 2), (std::vector<std::uint32_t>{0, 3, 1, 4, 2, 5}));
  EXPECT_EQ(Order(7, 3), (std::vector<std::uint32_t>{0, 3, 5, 1, 4, 6, 2}));
  EXPECT_EQ(Order(4, 0), (std::vector<std::uint32_t>{0, 1, 2, 3}));
  // Every order is a permutation.
  for (std::uint32_t n = 1; n < 20; ++n) {
    for (std::uint32_t slices = 1; slices < 6; ++slices) {
      auto order = Order(n, slices);
      std::sort(order.begin(), order.end());
      for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(order[i], i) << n << " " << slices;
    }
  }
}

TEST(SLPatternSequence, PatternAtUsesTheShuffleAndEndsWithNull) {
  SLPhaseShiftPatternSequence sequence(true, 100, 50, 10.0, 6);
  sequence.SetShuffle(std::make_shared<SLAlternatingSliceShuffle>(2));
  EXPECT_EQ(sequence.PatternAt(1), sequence.Patterns()[3]);
  EXPECT_EQ(sequence.PatternAt(6), nullptr);
  EXPECT_EQ(static_cast<SLSineWavePattern&>(*sequence.Patterns()[3]).Phase(), 0.5);
  EXPECT_EQ(SLPhaseShiftPatternSequence(true, 10, 10, 10.0, 0).PatternCount(), 0u);
  EXPECT_EQ(sequence.Extent(), 100u);
}

TEST(SLScan, CodedLightOn1920x1080HasFortyPatterns) {
  SLCodedLightScan scan(1920, 1080, 4, 16, 0, 5.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareScanForOrientation(0);
  EXPECT_EQ(scan.PatternCount(), 40u);
  ASSERT_EQ(scan.Sequences().size(), 6u);
  for (std::size_t i : {0, 2, 3, 5}) EXPECT_EQ(scan.Sequences()[i]->PatternCount(), 8u);
  EXPECT_EQ(scan.Orientation(1).graySequence, scan.Sequences()[0]);
  EXPECT_EQ(scan.Orientation(0).inverseGraySequence, scan.Sequences()[5]);
  scan.PrepareTextureScan(0);
  EXPECT_EQ(scan.PatternCount(), 44u);
  // Display order of the first Gray sequence: 3 slices of 8 (3, 3, 2).
  const auto& gray = scan.Sequences()[0]->Patterns();
  const std::vector<std::uint32_t> order{0, 3, 6, 1, 4, 7, 2, 5};
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(scan.PatternAtIndex(i), gray[order[i]]) << i;
  // The boundary between two sequences: the first sine pattern.
  EXPECT_EQ(scan.PatternAtIndex(8), scan.Sequences()[1]->Patterns()[0]);
  EXPECT_EQ(scan.PatternAtIndex(44), nullptr);
  const auto all = scan.AllPatterns();
  ASSERT_EQ(all.size(), 44u);
  for (std::uint32_t i = 0; i < 44; ++i) EXPECT_EQ(all[i], scan.PatternAtIndex(i));
}

TEST(SLScan, MeanThresholdScanHasNoInverseSequence) {
  SLCodedLightScan scan(1024, 768, 3, 16, 1, 5.0f);
  scan.PrepareScanForOrientation(0);
  EXPECT_EQ(scan.Sequences().size(), 2u);
  EXPECT_EQ(scan.PatternCount(), 7u + 3u);  // ⌈log2(768/8)⌉ = 7
  EXPECT_FALSE(scan.Orientation(0).inverseGraySequence);
  EXPECT_THROW(scan.PrepareScanForOrientation(2), std::invalid_argument);
  EXPECT_THROW(scan.PrepareTextureScan(3), std::invalid_argument);
}

TEST(SLScan, PSKScanShufflesBothSequences) {
  SLPSKScan scan(1920, 1080, 4, 16, 4, 3, 5.0f);
  scan.PrepareScanForOrientation(1);
  scan.PrepareTextureScan(1);
  const auto& phase = *scan.Orientation(1).phaseSequence;
  const auto& psk = *scan.Orientation(1).pskSequence;
  EXPECT_EQ(scan.PatternAtIndex(1), phase.Patterns()[2]);
  EXPECT_EQ(scan.PatternAtIndex(5), psk.Patterns()[4]);  // 12 patterns, 3 slices: 0, 4, 8, 1, …
  EXPECT_EQ(scan.PatternCount(), 4u + 12u + 1u);
  EXPECT_EQ(scan.TextureSequence()->Patterns()[0]->GetCaptureType(), 1u);
}

TEST(SLScan, DefaultUnitPhase) {
  const auto x = SLScan::GenerateDefaultUnitPhaseX(4, 3);
  const auto y = SLScan::GenerateDefaultUnitPhaseY(4, 3);
  EXPECT_FLOAT_EQ((*x)(2, 1), 2.0f / 8.0f + 0.25f);
  EXPECT_FLOAT_EQ((*y)(2, 1), 1.0f / 6.0f + 0.25f);
}

TEST(SLScannedImagesStore, KeepsTheFirstFrameAndReadsInPatternOrder) {
  SLPhaseShiftPatternSequence sequence(true, 64, 64, 8.0, 4);
  sequence.SetShuffle(std::make_shared<SLAlternatingSliceShuffle>(2));
  SLScannedImagesStore store;
  auto frame = [](std::uint8_t v) {
    auto image = std::make_shared<img::UniImage<img::uint8>>(2, 2);
    *image = v;
    return image;
  };
  // Delivered in display order 0, 2, 1, 3.
  for (std::uint32_t i = 0; i < 4; ++i) {
    const auto pattern = sequence.PatternAt(i);
    const auto index = std::find(sequence.Patterns().begin(), sequence.Patterns().end(), pattern) -
                       sequence.Patterns().begin();
    EXPECT_TRUE(store.AddGrayImage(pattern, frame(std::uint8_t(10 * index))));
  }
  EXPECT_FALSE(store.AddGrayImage(sequence.Patterns()[0], frame(99)));
  EXPECT_EQ(store.Count(), 4u);
  const auto frames = store.GrayImagesOf(sequence);
  ASSERT_EQ(frames.size(), 4u);
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(frames[i]->data[0], 10 * i);
  EXPECT_EQ(store.ColorImageOf(sequence.Patterns()[0]), nullptr);

  // A missing frame ends the list.
  SLScannedImagesStore gap;
  gap.AddGrayImage(sequence.Patterns()[0], frame(1));
  gap.AddGrayImage(sequence.Patterns()[2], frame(3));
  EXPECT_EQ(gap.GrayImagesOf(sequence).size(), 1u);
  auto colour = std::make_shared<img::UniImage<img::RGB8>>(1, 1);
  EXPECT_TRUE(gap.AddColorImage(sequence.Patterns()[1], colour));
  EXPECT_EQ(gap.Count(), 3u);
  EXPECT_EQ(gap.GrayImagesOf(sequence).size(), 1u);
}

}  // namespace
}  // namespace scan
