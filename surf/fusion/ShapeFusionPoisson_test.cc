#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>
#include <utility>

#include "surf/fusion/ShapeFusion.h"
#include "surf/testing/SyntheticScans.h"
#include "surf/testing/TexturedScans.h"

namespace surf {
namespace {

using math::Frame4d;
using math::Vec3d;
using ::testing::HasSubstr;

constexpr int kResolution = 64;

// Six turntable views of a lumpy blob, each placed in world (object)
// coordinates by its node frame: the sides and top are seen, the bottom is
// a hole the reconstruction closes.
struct BlobList {
  testing::LumpyBlob blob{30.0, 8, 7};
  ShapeFusion list;

  BlobList() {
    testing::ScanSpec spec;
    spec.samplesAround = 120;
    spec.viewDirection = Vec3d{1.0, 0.0, 0.6}.GetNormalized();
    auto views = testing::MakeTurntableScans(blob, spec, 6, std::numbers::pi / 3, {0, 0, 1}, {0, 0, 0});
    for (std::size_t k = 0; k < views.scans.size(); ++k) {
      GeoItem item;
      item.geo = std::shared_ptr<v3d::Geo>(views.scans[k].release());
      const int index = list.AddGeo(std::move(item));
      list.SetGeoFrame(index, views.truth[k].GetInverse());
    }
  }

  // Largest distance of a result vertex from the blob's surface (mm).
  double MaxDeviation() const {
    double worst = 0.0;
    for (const auto& p : list.GetGeo(-1)->GetMesh(0)->GetVertexCoords()) {
      const Vec3d q(p);
      worst = std::max(worst, std::abs(q.Length() - blob.PointInDirection(q).Length()));
    }
    return worst;
  }
};

bool Fuse(ShapeFusion& list, float holeClosing = 1.0f, const utils::ProgressCallback& progress = {}) {
  return list.StartFusionPoisson(progress, kResolution, holeClosing, false, false, 0.0f, 0, "Fused");
}

// Every edge used by exactly two triangles.
bool IsClosed(const std::vector<std::uint32_t>& triangles) {
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = triangles[t + e], b = triangles[t + (e + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  }
  for (const auto& [edge, count] : uses) {
    if (count != 2) return false;
  }
  return !uses.empty();
}

TEST(ShapeFusionPoisson, FusesTheVisibleScansIntoOneClosedMeshOnTheSurface) {
  BlobList scans;
  const double voxel = scans.list.CalculateFusionVoxelSize(kResolution);
  ::testing::internal::CaptureStdout();
  ASSERT_FALSE(Fuse(scans.list));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Fuse meshes\n"), std::string::npos);
  EXPECT_NE(out.find("Fusion result has "), std::string::npos);

  const v3d::Geo* result = scans.list.GetGeo(-1);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->GetName(), "Fused");
  EXPECT_EQ(result->GetVisibility(), 2u);
  const v3d::Mesh& mesh = *result->GetMesh(0);
  EXPECT_EQ(mesh.GetGlobalColor(), (v3d::Color4ub{200, 200, 180, 255}));
  EXPECT_EQ(mesh.GetVertexQualities().size(), mesh.GetNumVertices());
  EXPECT_EQ(mesh.GetPrims(), scans.list.GetUnfilteredFusionTriangles());
  EXPECT_TRUE(IsClosed(mesh.GetPrims()));
  // Seen surface within a voxel and a half of the truth; the closed bottom
  // may bulge further, so only the supported vertices are held to it.
  double worst = 0.0;
  for (std::size_t i = 0; i < mesh.GetNumVertices(); ++i) {
    if (mesh.GetVertexQualities()[i] < 1.0f) continue;
    const Vec3d q(mesh.GetVertexCoords()[i]);
    worst = std::max(worst, std::abs(q.Length() - scans.blob.PointInDirection(q).Length()));
  }
  EXPECT_LT(worst, 1.5 * voxel);
}

TEST(ShapeFusionPoisson, HoleFilteringDropsTheClosedBottomAndRestoresItAtOne) {
  BlobList scans;
  ASSERT_FALSE(Fuse(scans.list, 0.0f));
  const std::size_t all = scans.list.GetUnfilteredFusionTriangles().size();
  const auto& filtered = scans.list.GetGeo(-1)->GetMesh(0)->GetPrims();
  EXPECT_LT(filtered.size(), all);
  const auto& values = scans.list.GetGeo(-1)->GetMesh(0)->GetVertexQualities();
  for (std::uint32_t v : filtered) EXPECT_GE(values[v], 0.0f);

  scans.list.FilterFusionResult(1.0);
  EXPECT_EQ(scans.list.GetGeo(-1)->GetMesh(0)->GetPrims().size(), all);
  scans.list.ClearUnfilteredFusionResult();
  scans.list.FilterFusionResult(0.0);  // nothing to filter from any more
  EXPECT_EQ(scans.list.GetGeo(-1)->GetMesh(0)->GetPrims().size(), all);
}

TEST(ShapeFusionPoisson, FailureAndCancelKeepThePreviousResult) {
  BlobList scans;
  ASSERT_FALSE(Fuse(scans.list));
  const v3d::Geo* previous = scans.list.GetGeo(-1);
  const std::size_t triangles = previous->GetMesh(0)->GetNumPrims();

  // Cancel at the first report, and in the middle of the reconstruction.
  for (double at : {0.0, 0.3}) {
    EXPECT_TRUE(Fuse(scans.list, 1.0f, [at](double f) { return f >= at; }));
    EXPECT_EQ(scans.list.GetGeo(-1), previous);
    EXPECT_EQ(previous->GetMesh(0)->GetNumPrims(), triangles);
  }
  // No visible scan: nothing to fuse.
  for (int i = 0; i < scans.list.GetNumGeos(); ++i) scans.list.SetGeoVisibility(i, 0);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(Fuse(scans.list));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Fusion failed.\n"), std::string::npos);
  EXPECT_EQ(scans.list.GetGeo(-1), previous);
  EXPECT_EQ(scans.list.GetNumGeos(), 6);
}

TEST(ShapeFusionPoisson, TexturedScansGiveATexturedResult) {
  ShapeFusion list;
  const testing::SurfaceColour colour = [](const Vec3d& p) { return Vec3d{128 + p[0], 128 + p[1], 128 + p[2]}; };
  for (const Vec3d& view : {Vec3d{0, 0, -1}, Vec3d{0, 0, 1}, Vec3d{1, 0, 0}, Vec3d{-1, 0, 0}, Vec3d{0, 1, 0},
                            Vec3d{0, -1, 0}}) {
    testing::SphereScanSpec spec;
    spec.viewDirection = view;
    spec.grid = 41;
    spec.textureWidth = spec.textureHeight = 128;
    const auto scan = testing::ScanSphere(spec, colour);
    std::vector<float> vertices, uv;
    for (const auto& p : scan.positions) vertices.insert(vertices.end(), {p[0], p[1], p[2]});
    for (const auto& t : scan.texCoords) uv.insert(uv.end(), {t[0], t[1]});
    const int index = list.AddGeo(vertices, scan.indices, uv);
    ASSERT_GE(index, 0);
    list.SetGeoFrame(index, scan.worldTscan);
    ASSERT_TRUE(list.AddTexture(index, scan.texture));
  }
  ASSERT_FALSE(Fuse(list));
  EXPECT_TRUE(list.HasTexture(-1));
  const v3d::Mesh& mesh = *list.GetGeo(-1)->GetMesh(0);
  EXPECT_EQ(mesh.GetVertexTexCoords().size(), mesh.GetNumVertices());
  EXPECT_EQ(mesh.GetVertexQualities().size(), mesh.GetNumVertices());
  EXPECT_EQ(mesh.GetVertexNormals().size(), mesh.GetNumVertices());
}

TEST(ShapeFusionPoisson, VoxelSizeFollowsTheVisibleScansWorldBox) {
  ShapeFusion list;
  EXPECT_EQ(list.CalculateFusionVoxelSize(512), 0.0);
  // A 100 mm square, turned on its side by the node frame: still 100 mm.
  const int a = list.AddGeo({0, 0, 0, 100, 0, 0, 100, 100, 0, 0, 100, 0}, {0, 1, 2, 0, 2, 3}, {});
  list.SetGeoFrame(a, math::FRotX(std::numbers::pi / 2));
  EXPECT_NEAR(list.CalculateFusionVoxelSize(512), 1.2 * 100.0 / 512, 1e-9);
  // A far-away scan widens the box unless it is hidden.
  const int b = list.AddGeo({300, 0, 0, 301, 0, 0, 301, 1, 0}, {0, 1, 2}, {});
  EXPECT_NEAR(list.CalculateFusionVoxelSize(512), 1.2 * 301.0 / 512, 1e-9);
  list.SetGeoVisibility(b, 0);
  EXPECT_NEAR(list.CalculateFusionVoxelSize(512), 1.2 * 100.0 / 512, 1e-9);
  EXPECT_NEAR(list.CalculateFusionVoxelSize(512, false), 1.2 * 301.0 / 512, 1e-9);
  EXPECT_EQ(list.CalculateFusionVoxelSize(0), 0.0);
}

TEST(ShapeFusionPoisson, MeshToolsOnTheResult) {
  BlobList scans;
  ASSERT_FALSE(Fuse(scans.list));
  const std::size_t triangles = scans.list.GetGeo(-1)->GetMesh(0)->GetNumPrims();
  scans.list.ShrinkMesh(-1);  // closed: nothing to shrink
  EXPECT_EQ(scans.list.GetGeo(-1)->GetMesh(0)->GetNumPrims(), triangles);

  const double deviation = scans.MaxDeviation();
  scans.list.SimplifyMesh(-1, 0.5);
  const std::size_t simplified = scans.list.GetGeo(-1)->GetMesh(0)->GetNumPrims();
  EXPECT_LE(simplified, triangles / 2 + 1);
  EXPECT_GT(simplified, triangles / 4);
  EXPECT_TRUE(scans.list.GetUnfilteredFusionTriangles().empty());
  // Halving a mesh of cells about a voxel wide moves it by a fraction of one.
  EXPECT_LT(scans.MaxDeviation(), deviation + 0.5 * scans.list.CalculateFusionVoxelSize(kResolution));
  EXPECT_THROW(scans.list.SimplifyMesh(-1, 0.0), std::invalid_argument);
  EXPECT_THROW(scans.list.Smoothing(17, true), std::out_of_range);
}

// Bad input through the scan list: resolutions outside 4…8192, a depth the
// allowed memory cannot hold and scans without normals are refused with a
// message, and the previous result stays.
TEST(ShapeFusionPoisson, BadInputFailsWithAMessageAndKeepsThePreviousResult) {
  BlobList scans;
  ASSERT_FALSE(Fuse(scans.list));
  const v3d::Geo* previous = scans.list.GetGeo(-1);
  const std::size_t triangles = previous->GetMesh(0)->GetNumPrims();
  const auto expectRefused = [&](int resolution, const std::string& message) {
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(scans.list.StartFusionPoisson({}, resolution, 1.0f, false, false, 0.0f, 0, "Fused"));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr(message)) << resolution;
    EXPECT_THAT(out, HasSubstr("Fusion failed.\n"));
    EXPECT_EQ(scans.list.GetGeo(-1), previous);
    EXPECT_EQ(previous->GetMesh(0)->GetNumPrims(), triangles);
  };
  expectRefused(0, "Error: the fusion resolution 0 is outside");
  expectRefused(100000, "Error: the fusion resolution 100000 is outside");

  ShapeFusionParams params;
  params.fusionMemoryLimit = 16u << 20;
  scans.list.SetShapeFusionParams(params);
  expectRefused(kResolution, "needs about");
  params.fusionMemoryLimit = 0;
  scans.list.SetShapeFusionParams(params);

  for (int i = 0; i < scans.list.GetNumGeos(); ++i) scans.list.GetGeo(i)->GetMesh(0)->mGetVertexNormals().clear();
  expectRefused(kResolution, "Error in Fusion::AddPointCloud: #vertices != #normals.\n");
  expectRefused(kResolution, "No triangles! Can't generate fused surface.");
}

// Vertices with a NaN coordinate are left out of the fusion; the rest fuse
// as before.
TEST(ShapeFusionPoisson, NaNVerticesAreLeftOut) {
  BlobList scans;
  const float nan = std::nanf("");
  for (int i = 0; i < scans.list.GetNumGeos(); ++i) {
    auto& positions = scans.list.GetGeo(i)->GetMesh(0)->mGetVertexCoords();
    for (std::size_t k = 0; k < positions.size(); k += 7) positions[k][k % 3] = nan;
  }
  const double voxel = scans.list.CalculateFusionVoxelSize(kResolution);
  EXPECT_GT(voxel, 0.0);
  ASSERT_FALSE(Fuse(scans.list));
  const v3d::Mesh& mesh = *scans.list.GetGeo(-1)->GetMesh(0);
  EXPECT_TRUE(IsClosed(mesh.GetPrims()));
  double worst = 0.0;
  for (std::size_t i = 0; i < mesh.GetNumVertices(); ++i) {
    const Vec3d q(mesh.GetVertexCoords()[i]);
    ASSERT_TRUE(std::isfinite(q[0]) && std::isfinite(q[1]) && std::isfinite(q[2]));
    if (mesh.GetVertexQualities()[i] >= 1.0f) {
      worst = std::max(worst, std::abs(q.Length() - scans.blob.PointInDirection(q).Length()));
    }
  }
  EXPECT_LT(worst, 1.5 * voxel);
}

}  // namespace
}  // namespace surf
