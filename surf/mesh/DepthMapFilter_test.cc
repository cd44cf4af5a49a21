#include "surf/mesh/DepthMapFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "cam/CameraModelTsai.h"

namespace surf {
namespace {

constexpr double kLowest = std::numeric_limits<double>::lowest();
constexpr double kMax = std::numeric_limits<double>::max();

std::unique_ptr<DepthMap> MakeMap(std::uint32_t w, std::uint32_t h, const std::vector<float>& depths,
                                  std::uint8_t quality = 200) {
  auto depth = std::make_unique<img::UniImage<float>>(w, h);
  auto q = std::make_unique<img::UniImage<std::uint8_t>>(w, h);
  std::copy(depths.begin(), depths.end(), depth->data);
  for (std::uint32_t i = 0; i < w * h; ++i) q->data[i] = depths[i] > 0.0f ? quality : 0;
  auto camera = std::make_unique<cam::CameraModelTsai>();
  camera->SetIntrinsics(w / 2.0, h / 2.0, 100.0, 1.0, 0.0);
  return std::make_unique<DepthMap>(std::move(depth), std::move(q), std::move(camera));
}

std::vector<float> Depths(const DepthMap& map) {
  const auto& d = map.GetDepthImage();
  return std::vector<float>(d.data, d.data + d.size);
}

// Only the stages a test names run.
std::unique_ptr<DepthMap> Filter(std::unique_ptr<DepthMap> map, int holes = 0, int smooth = 0,
                                 std::uint8_t quality = 0, double ratio = 0.0, float jump = 1.0f,
                                 double minDepth = kLowest, double maxDepth = kMax,
                                 const DepthMap* background = nullptr, double epsilon = 0.0) {
  return CreateFilteredDepthMap(std::move(map), background, holes, smooth, quality, epsilon, ratio, jump, minDepth,
                                maxDepth);
}

TEST(CreateFilteredDepthMap, RejectsNullSourceAndForeignBackground) {
  try {
    Filter(nullptr);
    ADD_FAILURE();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "sourceDepthMap must not be nullptr");
  }
  auto background = MakeMap(2, 1, {1.0f, 1.0f});
  EXPECT_THROW(Filter(MakeMap(1, 2, {5.0f, 5.0f}), 0, 0, 10, 0.0, 1.0f, kLowest, kMax, background.get()),
               std::invalid_argument);
}

TEST(CreateFilteredDepthMap, ReturnsANewMapWithoutCachedMean) {
  auto map = MakeMap(2, 1, {5.0f, 7.0f});
  const utils::Guid guid = map->GetGuid();
  EXPECT_FLOAT_EQ(map->GetMeanDepth(), 6.0f);
  auto filtered = Filter(std::move(map), 0, 0, 0, 0.0, 1.0f, 6.0);
  EXPECT_NE(filtered->GetGuid(), guid);
  EXPECT_FLOAT_EQ(filtered->GetMeanDepth(), 7.0f);
}

TEST(CreateFilteredDepthMap, QualityAtTheThresholdAndNonFiniteDepthsInvalidate) {
  auto map = MakeMap(4, 1, {1.0f, 2.0f, NAN, INFINITY});
  map->GetQualityImage().data[0] = 50;
  map->GetQualityImage().data[1] = 51;
  auto filtered = Filter(std::move(map), 0, 0, 50);
  EXPECT_EQ(Depths(*filtered), (std::vector<float>{0.0f, 2.0f, 0.0f, 0.0f}));
  EXPECT_EQ(filtered->GetQualityImage().data[0], 0);
  EXPECT_EQ(filtered->GetQualityImage().data[1], 51);
}

TEST(CreateFilteredDepthMap, BackgroundRemovesPointsWithinEpsilonOfIt) {
  auto background = MakeMap(4, 1, {100.0f, 100.0f, 0.0f, 100.0f});
  auto map = MakeMap(4, 1, {98.0f, 97.99f, 500.0f, 120.0f});
  auto filtered = Filter(std::move(map), 0, 0, 0, 0.0, 1.0f, kLowest, kMax, background.get(), 2.0);
  // 98 ≥ 100 − 2 goes; 97.99 stays; background 0 leaves the pixel; behind
  // the background goes.
  EXPECT_EQ(Depths(*filtered), (std::vector<float>{0.0f, 97.99f, 500.0f, 0.0f}));
}

TEST(CreateFilteredDepthMap, HolesOfExactlyHoleSizeAreFilledLinearly) {
  // Row: valid, gap 2, valid, gap 3, valid, gap 1 at the end.
  auto map = MakeMap(10, 1, {10, 0, 0, 13, 0, 0, 0, 17, 18, 0});
  auto filtered = Filter(std::move(map), 2);
  EXPECT_EQ(Depths(*filtered), (std::vector<float>{10, 11, 12, 13, 0, 0, 0, 17, 18, 0}));
  EXPECT_EQ(filtered->GetQualityImage().data[1], 0);  // only depth is filled
  // holeSize 1: single gaps only, the leading gap never.
  auto single = Filter(MakeMap(7, 1, {0, 4, 0, 6, 0, 0, 9}), 1);
  EXPECT_EQ(Depths(*single), (std::vector<float>{0, 4, 5, 6, 0, 0, 9}));
}

TEST(CreateFilteredDepthMap, ColumnsAreFilledBeforeRows) {
  // The centre is a one-pixel gap in its column (2 … 4 → 3) and in its row
  // (10 … 20 → 15); columns run first, so the column value wins, and the
  // filled centre then closes the row gaps beside it.
  auto map = MakeMap(3, 3, {0, 2, 0, 10, 0, 20, 0, 4, 0});
  auto filtered = Filter(std::move(map), 1);
  EXPECT_EQ(Depths(*filtered), (std::vector<float>{0, 2, 0, 10, 3, 20, 0, 4, 0}));
}

TEST(CreateFilteredDepthMap, FragmentJustUnderTheRatioIsRemoved) {
  // A 10 × 10 region and a 3 × 3 fragment (ratio 0.09) separated by a
  // column of invalid pixels.
  std::vector<float> depths(14 * 10, 0.0f);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) depths[y * 14 + x] = 50.0f;
  }
  for (int y = 0; y < 3; ++y) {
    for (int x = 11; x < 14; ++x) depths[y * 14 + x] = 50.0f;
  }
  auto kept = Filter(MakeMap(14, 10, depths), 0, 0, 0, 0.09);
  EXPECT_EQ(kept->GetDepthImage()(12, 1), 50.0f);
  auto removed = Filter(MakeMap(14, 10, depths), 0, 0, 0, 0.0901);
  EXPECT_EQ(removed->GetDepthImage()(12, 1), 0.0f);
  EXPECT_EQ(removed->GetQualityImage()(12, 1), 0);
  EXPECT_EQ(removed->GetDepthImage()(5, 5), 50.0f);
}

TEST(CreateFilteredDepthMap, DepthJumpAtTheLimitSeparatesFragments) {
  // Columns 0–5 at depth 10, columns 6–7 at depth 11: a jump of exactly
  // maxDepthJump = 1 splits them (16 of 48 pixels, ratio 1/3).
  std::vector<float> depths(8 * 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) depths[y * 8 + x] = x < 6 ? 10.0f : 11.0f;
  }
  auto split = Filter(MakeMap(8, 6, depths), 0, 0, 0, 0.5, 1.0f);
  EXPECT_EQ(split->GetDepthImage()(7, 0), 0.0f);
  EXPECT_EQ(split->GetDepthImage()(0, 0), 10.0f);
  auto joined = Filter(MakeMap(8, 6, depths), 0, 0, 0, 0.5, 1.0001f);
  EXPECT_EQ(joined->GetDepthImage()(7, 0), 11.0f);
}

TEST(CreateFilteredDepthMap, SmoothingKeepsPlanesAndFlattensSpikes) {
  const std::uint32_t w = 9, h = 7;
  std::vector<float> plane(w * h);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) plane[y * w + x] = 100.0f + 0.25f * x - 0.5f * y;
  }
  auto smoothed = Filter(MakeMap(w, h, plane), 0, 2, 0, 0.0, 5.0f);
  for (std::uint32_t i = 0; i < w * h; ++i) EXPECT_NEAR(Depths(*smoothed)[i], plane[i], 1e-4) << i;

  std::vector<float> spiky(w * h, 100.0f);
  spiky[3 * w + 4] = 101.0f;
  spiky[0] = 0.0f;  // invalid stays invalid
  auto flattened = Filter(MakeMap(w, h, spiky), 0, 1, 0, 0.0, 5.0f);
  // One pass: the centre plane fit over the 3 × 3 window has mean 100 + 1/9
  // and zero slopes.
  EXPECT_NEAR(flattened->GetDepthImage()(4, 3), 100.0f + 1.0f / 9.0f, 1e-5);
  EXPECT_EQ(flattened->GetDepthImage()(0, 0), 0.0f);
  // A neighbour beyond maxDepthJump does not take part: the spike stays.
  auto kept = Filter(MakeMap(w, h, spiky), 0, 1, 0, 0.0, 0.5f);
  EXPECT_EQ(kept->GetDepthImage()(4, 3), 101.0f);
}

TEST(CreateFilteredDepthMap, DepthRangeInvalidatesOutsideAndKeepsZerosInvalid) {
  auto map = MakeMap(4, 1, {0.0f, 99.0f, 100.0f, 201.0f});
  map->GetQualityImage().data[0] = 9;  // a zero depth with a quality
  auto filtered = Filter(std::move(map), 0, 0, 0, 0.0, 1.0f, 100.0, 200.0);
  EXPECT_EQ(Depths(*filtered), (std::vector<float>{0.0f, 0.0f, 100.0f, 0.0f}));
  EXPECT_EQ(filtered->GetQualityImage().data[0], 0);
  // The extreme doubles switch the stage off; one of them alone does not.
  auto open = Filter(MakeMap(2, 1, {1e30f, 5.0f}), 0, 0, 0, 0.0, 1.0f, kLowest, kMax);
  EXPECT_EQ(Depths(*open), (std::vector<float>{1e30f, 5.0f}));
  auto half = Filter(MakeMap(2, 1, {1e30f, 5.0f}), 0, 0, 0, 0.0, 1.0f, 6.0, kMax);
  EXPECT_EQ(Depths(*half), (std::vector<float>{1e30f, 0.0f}));
}

}  // namespace
}  // namespace surf
