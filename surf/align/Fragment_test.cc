#include "surf/align/Fragment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "surf/testing/SyntheticScans.h"
#include "v3d/Geo.h"

namespace surf {
namespace {

using math::Vec3f;

Fragment::InitOptions Seeded(std::uint64_t seed) {
  Fragment::InitOptions options;
  options.shuffleSeed = seed;
  return options;
}

Fragment::InitOptions Textured(const img::RGBImage* texture, int percentage) {
  Fragment::InitOptions options;
  options.useTexture = true;
  options.useTexturePercentage = percentage;
  options.texture = texture;
  return options;
}

// A unit square of two triangles (0,1,2), (0,2,3) in z = 0 with normals +z.
std::unique_ptr<v3d::Geo> Square(bool normals = true) {
  auto geo = std::make_unique<v3d::Geo>();
  v3d::Mesh* mesh = geo->AddMesh(3);
  if (normals) mesh->AddVertexNormals();
  mesh->AddVertex(Vec3f(0.f, 0.f, 0.f));
  mesh->AddVertex(Vec3f(1.f, 0.f, 0.f));
  mesh->AddVertex(Vec3f(1.f, 1.f, 0.f));
  mesh->AddVertex(Vec3f(0.f, 1.f, 0.f));
  mesh->AddPrim(0, 1, 2);
  mesh->AddPrim(0, 2, 3);
  return geo;
}

TEST(Fragment, StatisticsOfASquare) {
  auto geo = Square();
  Fragment f;
  EXPECT_EQ(f.GetId(), -1);
  ASSERT_TRUE(f.Init(*geo, Seeded(5)));
  EXPECT_EQ(f.GetNumVertices(), 4);
  EXPECT_NEAR(f.GetCentroid()[0], 0.5f, 1e-6f);
  EXPECT_NEAR(f.GetCentroid()[1], 0.5f, 1e-6f);
  EXPECT_NEAR(f.GetRadius(), std::sqrt(0.5f), 1e-6f);
  // Edges a–b, b–c, c–a of each triangle count when their first index is
  // the larger: (0,1,2) gives 2–0 (√2), (0,2,3) gives 3–0 (1).
  EXPECT_EQ(f.GetEdgeCount(), 2);
  EXPECT_NEAR(f.GetResolution(), (1.f + std::sqrt(2.f)) / 2.f, 1e-6f);
  EXPECT_FLOAT_EQ(f.GetNormals()[2][2], 1.f);
  Fragment inverted;
  Fragment::InitOptions options;
  options.normalsInverted = true;
  ASSERT_TRUE(inverted.Init(*geo, options));
  EXPECT_FLOAT_EQ(inverted.GetNormals()[2][2], -1.f);
}

TEST(Fragment, ShuffleIsASeededPermutation) {
  testing::ScanSpec spec;
  spec.samplesAround = 80;
  auto geo = testing::MakeScan(testing::LumpyBlob(40.0, 8, 3), spec);
  Fragment a, b, c;
  ASSERT_TRUE(a.Init(*geo, Seeded(11)));
  ASSERT_TRUE(b.Init(*geo, Seeded(11)));
  ASSERT_TRUE(c.Init(*geo, Seeded(12)));
  EXPECT_EQ(a.GetShuffledOrder(), b.GetShuffledOrder());
  EXPECT_NE(a.GetShuffledOrder(), c.GetShuffledOrder());
  std::vector<std::uint32_t> sorted = a.GetShuffledOrder();
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::uint32_t> identity(sorted.size());
  std::iota(identity.begin(), identity.end(), 0u);
  EXPECT_EQ(sorted, identity);
}

TEST(Fragment, BadVerticesAreSkippedAndMapped) {
  auto geo = Square();
  v3d::Mesh* mesh = geo->GetMesh(0);
  mesh->mGetVertexCoords()[1] = Vec3f(NAN, 0.f, 0.f);
  mesh->mGetVertexNormals()[3] = Vec3f();  // no direction
  Fragment f;
  ASSERT_TRUE(f.Init(*geo, {}));
  EXPECT_EQ(f.GetNumVertices(), 2);
  EXPECT_EQ(f.GetNumSourceVertices(), 4u);
  EXPECT_EQ(f.ToFragmentIndex(0), 0);
  EXPECT_EQ(f.ToFragmentIndex(1), -1);
  EXPECT_EQ(f.ToFragmentIndex(2), 1);
  EXPECT_EQ(f.ToFragmentIndex(9), -1);
  EXPECT_EQ(f.GetSourceIndex(1), 2u);
  EXPECT_EQ(f.MakeVertexSet({2, 3, 77}), (std::vector<bool>{false, true}));
  // No triangle keeps all its corners: no edges, resolution radius / 200.
  EXPECT_EQ(f.GetEdgeCount(), 0);
  EXPECT_FLOAT_EQ(f.GetResolution(), f.GetRadius() / 200.f);
}

TEST(Fragment, EmptyScansAndScansWithoutNormals) {
  Fragment f;
  v3d::Geo empty;
  ASSERT_TRUE(f.Init(empty, {}));
  EXPECT_EQ(f.GetNumVertices(), 0);
  EXPECT_EQ(f.GetTree().FindNearest(Vec3f(), 1.f), KDTree::kNone);
  auto geo = Square(false);
  ASSERT_TRUE(f.Init(*Square(), {}));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(f.Init(*geo, {}));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Error: Fragment::Init"), std::string::npos);
  EXPECT_EQ(f.GetNumVertices(), 0);
}

TEST(Fragment, TextureRestrictionKeepsTheStrongestEdges) {
  // A 4 × 4 grid of vertices whose texture coordinates walk across a
  // 64 × 64 texture that is dark left of x = 32 and bright right of it.
  auto geo = std::make_unique<v3d::Geo>();
  v3d::Mesh* mesh = geo->AddMesh(3);
  mesh->AddVertexNormals();
  mesh->AddVertexTexCoords();
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) mesh->AddVertex(Vec3f(float(x), float(y), 0.f));
  }
  auto& uv = mesh->mGetVertexTexCoords();
  for (int i = 0; i < 16; ++i) uv[i] = math::Vec2f((i % 4 == 1 ? 32.f : 5.f + 5.f * (i % 4)) / 63.f, 0.5f);
  img::RGBImage texture(64, 64);
  for (std::uint32_t y = 0; y < 64; ++y) {
    for (std::uint32_t x = 0; x < 64; ++x) texture(x, y) = x < 32 ? img::RGB8{20, 20, 20} : img::RGB8{200, 200, 200};
  }
  Fragment f;
  // Keep (100 − 75)% of 16 = 4 vertices: the four at the edge (column 1).
  ASSERT_TRUE(f.Init(*geo, Textured(&texture, 75)));
  ASSERT_EQ(f.GetSelection().size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(f.GetSelection()[i], i % 4 == 1) << i;
  // 99 % and more keeps at least two.
  ASSERT_TRUE(f.Init(*geo, Textured(&texture, 100)));
  EXPECT_GE(std::count(f.GetSelection().begin(), f.GetSelection().end(), true), 2);
}

TEST(Fragment, SurfaceFeatureWeightsAndBins) {
  testing::ScanSpec spec;
  spec.samplesAround = 80;
  auto geo = testing::MakeScan(testing::LumpyBlob(40.0, 8, 3), spec);
  Fragment f;
  Fragment::InitOptions options;
  options.useSurfaceFeatures = true;
  options.surfaceFeatures.firstPassPairs = 20000;
  options.surfaceFeatures.secondPassPairs = 200000;
  options.surfaceFeatures.seed = 4;
  ASSERT_TRUE(f.Init(*geo, options));
  ASSERT_TRUE(f.GetUseWeights());
  const auto& w = f.GetVertexWeights();
  ASSERT_EQ(w.size(), std::size_t(f.GetNumVertices()));
  EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](float x) { return x >= 0.f && x <= 1.f; }));
  // Few first-pass pairs leave most bins unmarked: weights are mostly high,
  // but not all equal.
  const auto [lo, hi] = std::minmax_element(w.begin(), w.end());
  EXPECT_LT(*lo, *hi);
  ASSERT_TRUE(f.GetVertexBins());
  std::size_t binned = 0;
  for (std::size_t b = 0; b < f.GetVertexBins()->GetNumBins(); ++b) binned += f.GetVertexBins()->GetBin(b).size();
  EXPECT_EQ(binned, w.size());
}

TEST(Fragment, NormalSmoothingByHand) {
  // The square with vertex 1's normal along +x. One pass: vertex 1 has the
  // edges 0–1 and 1–2 once each, so n1 = unit((1,0,0) + ½(0,0,1) + ½(0,0,1));
  // vertex 0 has 0–1 and 0–3 once and the diagonal 0–2 twice, so
  // n0 = unit((0,0,1) + ½(1,0,0) + (0,0,1) + ½(0,0,1)) = unit(0.5, 0, 2.5).
  // The noise: the neighbour means (edges counted per triangle side) are
  // off by atan(1/3) at vertices 0 and 2, 90° at 1 and 0° at 3; the median
  // (the upper middle) is atan(1/3), far above one pass's worth, so the
  // limit of 1 pass holds.
  auto geo = Square();
  geo->GetMesh(0)->mGetVertexNormals()[1] = Vec3f(1.f, 0.f, 0.f);
  Fragment f;
  Fragment::InitOptions options;
  options.normalSmoothingPasses = 1;
  ASSERT_TRUE(f.Init(*geo, options));
  EXPECT_NEAR(f.GetNormalNoise(), std::atan(1.f / 3.f), 1e-6f);
  EXPECT_EQ(f.GetNormalSmoothingPasses(), 1);
  const float h = std::sqrt(0.5f);
  EXPECT_NEAR(f.GetNormals()[1][0], h, 1e-6f);
  EXPECT_NEAR(f.GetNormals()[1][2], h, 1e-6f);
  const float l = std::sqrt(0.25f + 6.25f);
  EXPECT_NEAR(f.GetNormals()[0][0], 0.5f / l, 1e-6f);
  EXPECT_NEAR(f.GetNormals()[0][2], 2.5f / l, 1e-6f);
  // The tree rates with the smoothed normals too.
  EXPECT_EQ(f.GetTree().GetNormals()[1], f.GetNormals()[1]);
  // Without passes the normals stay as the scan has them.
  ASSERT_TRUE(f.Init(*geo, Seeded(1)));
  EXPECT_EQ(f.GetNormals()[1], Vec3f(1.f, 0.f, 0.f));
  EXPECT_EQ(f.GetNormalSmoothingPasses(), 0);
}

TEST(Fragment, NormalSmoothingFollowsTheNoiseOnASphere) {
  // A sphere (a blob without bumps) of radius 40 mm at 0.39 mm spacing with
  // 0.02 mm noise along the normal: the triangles' normals scatter by a few
  // degrees, and the passes average over about two spacings, where the
  // sphere turns by under 0.1°.
  testing::ScanSpec spec;
  spec.samplesAround = 640;
  spec.noiseSigma = 0.02;
  auto geo = testing::MakeScan(testing::LumpyBlob(40.0, 0, 1), spec);
  const auto meanError = [](const Fragment& f) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < f.GetNumVertices(); ++i) {
      const Vec3f truth = f.GetPositions()[i].GetNormalized();
      sum += std::acos(std::clamp(double(math::Dot(truth, f.GetNormals()[i])), -1.0, 1.0));
    }
    return sum / f.GetNumVertices() * 180.0 / 3.14159265358979;
  };
  Fragment plain, smoothed;
  Fragment::InitOptions options = Seeded(2);
  ASSERT_TRUE(plain.Init(*geo, options));
  options.normalSmoothingPasses = 8;
  ASSERT_TRUE(smoothed.Init(*geo, options));
  const double before = meanError(plain), after = meanError(smoothed);
  std::printf("mean normal error: %.3f deg as scanned, %.3f deg after %d passes (noise %.3f deg)\n", before, after,
              smoothed.GetNormalSmoothingPasses(), smoothed.GetNormalNoise() * 180.0 / 3.14159265358979);
  EXPECT_GT(before, 2.0);
  EXPECT_LT(after, before / 4.0);
  // 1.9° of noise asks for 6 passes: fewer than allowed.
  EXPECT_EQ(smoothed.GetNormalSmoothingPasses(),
            int(std::ceil(smoothed.GetNormalNoise() / Fragment::kNormalNoisePerPass)));
  EXPECT_GT(smoothed.GetNormalSmoothingPasses(), 2);
  EXPECT_LT(smoothed.GetNormalSmoothingPasses(), 8);
  // Positions and statistics do not change.
  EXPECT_EQ(plain.GetPositions(), smoothed.GetPositions());
  EXPECT_EQ(plain.GetResolution(), smoothed.GetResolution());
  // Without noise there is nothing to smooth: the normals stay.
  spec.noiseSigma = 0.0;
  auto clean = testing::MakeScan(testing::LumpyBlob(40.0, 0, 1), spec);
  ASSERT_TRUE(plain.Init(*clean, Seeded(2)));
  ASSERT_TRUE(smoothed.Init(*clean, options));
  EXPECT_EQ(smoothed.GetNormalSmoothingPasses(), 0);
  EXPECT_EQ(plain.GetNormals(), smoothed.GetNormals());
}

}  // namespace
}  // namespace surf
