#include "surf/mesh/DepthMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "cam/CameraModelTsai.h"

namespace surf {
namespace {

// A pinhole camera (f = 100 pixels, centre (cx, cy)) moved by (10, 20, 30):
// pixel (x, y) at depth d is the world point ((x − cx)·d/100 + 10, (y − cy)·d/100 + 20, d + 30).
std::unique_ptr<cam::CameraModel> Pinhole(double cx = 1.0, double cy = 2.0) {
  auto camera = std::make_unique<cam::CameraModelTsai>();
  camera->SetIntrinsics(cx, cy, 100.0, 1.0, 0.0);
  camera->SetResolution(8, 8);
  math::Frame<double> wTc;
  wTc.SetTrans(10.0, 20.0, 30.0);
  camera->SetFrame_wTc(wTc);
  return camera;
}

std::unique_ptr<DepthMap> MakeMap(std::uint32_t w, std::uint32_t h, std::initializer_list<float> depths) {
  auto depth = std::make_unique<img::UniImage<float>>(w, h);
  auto quality = std::make_unique<img::UniImage<std::uint8_t>>(w, h);
  std::copy(depths.begin(), depths.end(), depth->data);
  *quality = 200;
  return std::make_unique<DepthMap>(std::move(depth), std::move(quality), Pinhole());
}

TEST(DepthMap, ConstructorRejectsMissingPartsInOrder) {
  auto expectThrow = [](auto&& make, const char* text) {
    try {
      make();
      ADD_FAILURE() << "no exception for " << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), text);
    }
  };
  expectThrow([] { DepthMap(nullptr, nullptr, nullptr); }, "depthImage must not be nullptr");
  expectThrow([] { DepthMap(std::make_unique<img::UniImage<float>>(2, 2), nullptr, nullptr); },
              "qualityImage must not be nullptr");
  expectThrow(
      [] {
        DepthMap(std::make_unique<img::UniImage<float>>(2, 2), std::make_unique<img::UniImage<std::uint8_t>>(2, 2),
                 nullptr);
      },
      "cameraModel must not be nullptr");
  expectThrow(
      [] {
        DepthMap(std::make_unique<img::UniImage<float>>(2, 2), std::make_unique<img::UniImage<std::uint8_t>>(2, 3),
                 Pinhole());
      },
      "depthImage and qualityImage must have the same dimensions");
}

TEST(DepthMap, CopyIsDeepWithNewGuid) {
  auto map = MakeMap(2, 1, {5.0f, 0.0f});
  EXPECT_FLOAT_EQ(map->GetMeanDepth(), 5.0f);
  DepthMap copy(*map);
  EXPECT_NE(copy.GetGuid(), map->GetGuid());
  EXPECT_NE(copy.GetDepthImage().data, map->GetDepthImage().data);
  EXPECT_NE(&copy.GetCameraModel(), &map->GetCameraModel());
  map->GetDepthImage().data[0] = 7.0f;
  EXPECT_FLOAT_EQ(copy.GetDepthImage().data[0], 5.0f);
  EXPECT_FLOAT_EQ(copy.GetMeanDepth(), 5.0f);  // the cache travels with the copy
}

TEST(DepthMap, TwoByTwoCellGivesTwoTrianglesInCornerOrder) {
  auto map = MakeMap(2, 2, {100.0f, 100.0f, 100.0f, 100.0f});
  std::vector<float> vertices, tex;
  std::vector<std::uint32_t> indices{99};
  ASSERT_TRUE(map->ComputeTriangleMesh(vertices, indices, tex, false, 1.0f));
  EXPECT_EQ(indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 2, 1}));
  // Vertex order A = (0, 0), B = (0, 1), C = (1, 0), D = (1, 1); with cx = 1,
  // cy = 2, depth 100: x = (px − 1) + 10, y = (py − 2) + 20, z = 130.
  const std::vector<float> expected{9, 18, 130, 9, 19, 130, 10, 18, 130, 10, 19, 130};
  ASSERT_EQ(vertices.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_FLOAT_EQ(vertices[i], expected[i]) << i;
  EXPECT_EQ(tex, (std::vector<float>{0.25f, 0.25f, 0.25f, 0.75f, 0.75f, 0.25f, 0.75f, 0.75f}));
}

TEST(DepthMap, DepthJumpEqualToTheLimitDropsTheTriangle) {
  // A = 10, C = 10.5, B = 11, D = 11: upper-left |A − B| = 1 exactly;
  // lower-right |D − B| = 0, |D − C| = 0.5.
  auto map = MakeMap(2, 2, {10.0f, 10.5f, 11.0f, 11.0f});
  std::vector<float> vertices, tex;
  std::vector<std::uint32_t> indices;
  map->ComputeTriangleMesh(vertices, indices, tex, false, 1.0f);
  EXPECT_EQ(indices, (std::vector<std::uint32_t>{0, 2, 1}));  // D, C, B, created in the order D, B, C
  EXPECT_EQ(vertices.size(), 9u);
  map->ComputeTriangleMesh(vertices, indices, tex, false, 1.0001f);
  EXPECT_EQ(indices.size(), 6u);
}

TEST(DepthMap, LinesAndInvalidDepthsGiveNoTriangles) {
  auto row = MakeMap(4, 1, {1.0f, 2.0f, 0.0f, 3.0f});
  std::vector<float> vertices, tex;
  std::vector<std::uint32_t> indices;
  row->ComputeTriangleMesh(vertices, indices, tex, false, 10.0f);
  EXPECT_TRUE(vertices.empty());
  EXPECT_TRUE(indices.empty());
  row->ComputeTriangleMesh(vertices, indices, tex, true, 10.0f);
  EXPECT_EQ(vertices.size(), 9u);  // one vertex per valid pixel
  EXPECT_TRUE(indices.empty());
  auto column = MakeMap(1, 3, {1.0f, 1.0f, 1.0f});
  column->ComputeTriangleMesh(vertices, indices, tex, false, 10.0f);
  EXPECT_TRUE(vertices.empty());
  // NaN, infinity and negative depths are not valid pixels.
  auto bad = MakeMap(2, 2, {NAN, INFINITY, -1.0f, 5.0f});
  bad->ComputeTriangleMesh(vertices, indices, tex, true, 10.0f);
  EXPECT_EQ(vertices.size(), 3u);
  EXPECT_TRUE(indices.empty());
}

TEST(DepthMap, KeepAllValidPixelsNumbersRowByRow) {
  auto map = MakeMap(3, 2, {1.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f});
  std::vector<float> vertices, tex;
  std::vector<std::uint32_t> indices;
  map->ComputeTriangleMesh(vertices, indices, tex, true, 10.0f);
  // Vertices 0 (0,0), 1 (2,0), 2 (0,1), 3 (1,1), 4 (2,1). Cell 0: only the
  // lower-right triangle D=(1,1), C=(1,0) invalid → none; cell 1: upper-left
  // A=(1,0) invalid, lower-right D=(2,1), B=(1,1), C=(2,0) → D, C, B.
  EXPECT_EQ(vertices.size(), 15u);
  EXPECT_EQ(indices, (std::vector<std::uint32_t>{4, 1, 3}));
}

TEST(DepthMap, MeanDepthAndPixelFootprint) {
  auto map = MakeMap(2, 2, {100.0f, 0.0f, 300.0f, -4.0f});
  EXPECT_FLOAT_EQ(map->GetMeanDepth(), 200.0f);
  map->GetDepthImage().data[0] = 400.0f;
  EXPECT_FLOAT_EQ(map->GetMeanDepth(), 200.0f);  // cached
  map->ResetMeanDepth();
  EXPECT_FLOAT_EQ(map->GetMeanDepth(), 350.0f);
  // f = 100: one pixel at depth 350 covers 3.5 mm in x and y.
  const math::Vec2d size = map->GetPixelSizeAtDepth(350.0f);
  EXPECT_NEAR(size[0], 3.5, 1e-9);
  EXPECT_NEAR(size[1], 3.5, 1e-9);
  EXPECT_NEAR(ComputeAutoBackgroundEpsilon(*map), 2.0 * 3.5 * std::sqrt(2.0), 1e-5);
}

}  // namespace
}  // namespace surf
