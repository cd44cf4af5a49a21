#include "surf/fusion/Fusion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;
using ::testing::HasSubstr;

struct Cloud {
  std::vector<Vec3f> positions, normals;
};

// Evenly spread samples of a sphere (Fibonacci spiral), outward normals;
// keep(p − centre) chooses which to keep.
template <typename Keep>
Cloud SphereSamples(const Vec3d& centre, double radius, int count, Keep keep) {
  Cloud cloud;
  const double golden = std::numbers::pi * (3.0 - std::sqrt(5.0));
  for (int i = 0; i < count; ++i) {
    const double z = 1.0 - 2.0 * (i + 0.5) / count, r = std::sqrt(1.0 - z * z), phi = golden * i;
    const Vec3d n(r * std::cos(phi), r * std::sin(phi), z);
    if (!keep(n * radius)) continue;
    cloud.positions.push_back(Vec3f(centre + n * radius));
    cloud.normals.push_back(Vec3f(n));
  }
  return cloud;
}

Cloud FullSphere(const Vec3d& centre, double radius, int count) {
  return SphereSamples(centre, radius, count, [](const Vec3d&) { return true; });
}

struct LoggedFusion {
  Fusion fusion;
  std::string log;
  LoggedFusion() : fusion([this](const std::string& text) { log += text; }) {}
};

FusionOptions LowResolution(int resolution = 64) {
  FusionOptions options;
  options.resolution = resolution;
  options.threads = 1;
  return options;
}

TEST(FusionDepth, FromResolution) {
  const FusionDepth d512 = ComputeFusionDepth(512);
  EXPECT_EQ(d512.depth, 9);
  EXPECT_EQ(d512.kernelDepth, 7);
  EXPECT_DOUBLE_EQ(d512.scale, 1.2);
  const FusionDepth d500 = ComputeFusionDepth(500);
  EXPECT_EQ(d500.depth, 9);
  EXPECT_EQ(d500.kernelDepth, 7);
  EXPECT_DOUBLE_EQ(d500.scale, 1.2 * 512.0 / 500.0);
  EXPECT_EQ(ComputeFusionDepth(513).depth, 10);
  EXPECT_EQ(ComputeFusionDepth(4).kernelDepth, 0);
  EXPECT_EQ(ComputeFusionDepth(8192).depth, 13);
  for (int bad : {0, -512, 3, 8193, 100000}) EXPECT_THROW(ComputeFusionDepth(bad), std::invalid_argument) << bad;
}

TEST(FusionDepth, ValidationMessage) {
  std::string error;
  EXPECT_TRUE(ValidateFusionDepth(ComputeFusionDepth(512), &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(ValidateFusionDepth({9, 10, 1.2}, &error));
  EXPECT_EQ(error, "[ERROR] KernelDepth can't be greater than Depth: 10 <= 9\n");
}

TEST(FusionVoxelSize, FromUnionOfBoxes) {
  // Union x −10…30 (40), y 0…25, z −5…5: largest extent 40 mm.
  const std::vector<FusionBox> boxes{{{-10, 0, -5}, {10, 20, 5}}, {{0, 5, 0}, {30, 25, 1}}};
  EXPECT_DOUBLE_EQ(CalculateFusionVoxelSize(boxes, 512), 1.2 * 40.0 / 512.0);
  EXPECT_DOUBLE_EQ(CalculateFusionVoxelSize(boxes, 500), 1.2 * 40.0 / 500.0);
  EXPECT_EQ(CalculateFusionVoxelSize({}, 512), 0.0);
  EXPECT_THROW(CalculateFusionVoxelSize(boxes, 0), std::invalid_argument);
  EXPECT_THROW(CalculateFusionVoxelSize(boxes, 100000), std::invalid_argument);
}

TEST(FilterFusionTriangles, EdgeCases) {
  // Vertex 1 is unsupported (−1), vertex 3 in a small closed hole (−0.3).
  const std::vector<float> values{1.0f, -1.0f, 1.0f, -0.3f, 1.0f};
  const std::vector<std::uint32_t> triangles{0, 2, 4, 0, 1, 2, 2, 3, 4, 1, 3, 4};
  EXPECT_EQ(FilterFusionTriangles(triangles, values, 1.0), triangles);
  EXPECT_EQ(FilterFusionTriangles(triangles, values, 5.0), triangles);
  EXPECT_EQ(FilterFusionTriangles(triangles, values, 0.5), (std::vector<std::uint32_t>{0, 2, 4, 2, 3, 4}));
  EXPECT_EQ(FilterFusionTriangles(triangles, values, 0.3), (std::vector<std::uint32_t>{0, 2, 4, 2, 3, 4}));
  EXPECT_EQ(FilterFusionTriangles(triangles, values, 0.29), (std::vector<std::uint32_t>{0, 2, 4}));
  EXPECT_EQ(FilterFusionTriangles(triangles, values, 0.0), (std::vector<std::uint32_t>{0, 2, 4}));
  // An index without a value drops its triangle.
  EXPECT_EQ(FilterFusionTriangles({0, 2, 7}, values, 0.5), std::vector<std::uint32_t>{});
}

TEST(Fusion, RejectsMismatchedAndInvalidSamples) {
  LoggedFusion run;
  run.fusion.AddPointCloud({{0, 0, 0}, {1, 0, 0}}, {{0, 0, 1}});
  EXPECT_EQ(run.log, "Error in Fusion::AddPointCloud: #vertices != #normals.\n");
  EXPECT_EQ(run.fusion.GetNumSamples(), 0u);
  const float nan = std::nanf("");
  run.fusion.AddPointCloud({{0, 0, 0}, {nan, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 0, 2}, {0, 0, 1}, {0, nan, 1}, {0, 0, 0}});
  EXPECT_EQ(run.fusion.GetNumSamples(), 1u);
}

TEST(Fusion, EmptyInputFails) {
  LoggedFusion run;
  EXPECT_FALSE(run.fusion.Reconstruct(LowResolution()));
  EXPECT_THAT(run.log, HasSubstr("No triangles! Can't generate fused surface.\n"));
  EXPECT_TRUE(run.fusion.GetTriangles().empty());
}

TEST(Fusion, RefusesBadResolutionAndTooLittleMemory) {
  LoggedFusion run;
  const Cloud sphere = FullSphere({0, 0, 0}, 20.0, 2000);
  run.fusion.AddPointCloud(sphere.positions, sphere.normals);
  for (int bad : {0, -1, 100000}) {
    run.log.clear();
    EXPECT_FALSE(run.fusion.Reconstruct(LowResolution(bad)));
    EXPECT_THAT(run.log, HasSubstr("Error: the fusion resolution"));
  }
  FusionOptions options = LowResolution(512);
  options.memoryLimit = 1 << 20;
  run.log.clear();
  EXPECT_FALSE(run.fusion.Reconstruct(options));
  EXPECT_THAT(run.log, HasSubstr("Error: the fusion at depth 9 needs about"));
  // The estimate grows with the depth.
  EXPECT_GT(run.fusion.EstimateMemory(ComputeFusionDepth(1024)), run.fusion.EstimateMemory(ComputeFusionDepth(256)));
}

// A fully sampled sphere: a closed mesh within a fraction of a voxel of the
// sphere, facing outwards, every vertex supported.
TEST(Fusion, SphereIsClosedAndAccurate) {
  const Vec3d centre(5.0, -3.0, 2.0);
  const double radius = 20.0;
  LoggedFusion run;
  const Cloud sphere = FullSphere(centre, radius, 20000);
  run.fusion.AddPointCloud(sphere.positions, sphere.normals);
  std::vector<double> fractions;
  ASSERT_TRUE(run.fusion.Reconstruct(LowResolution(), [&](double f) {
    fractions.push_back(f);
    return false;
  }));
  const double voxel = run.fusion.GetVoxelSize();
  EXPECT_NEAR(voxel, 1.2 * 2.0 * radius / 64.0, 0.01 * voxel);  // the samples' extent is almost 2·radius
  EXPECT_TRUE(testing::IsClosedAndOriented(run.fusion.GetTriangles()));
  const auto& positions = run.fusion.GetPositions();
  ASSERT_GT(positions.size(), 1000u);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const Vec3d d = Vec3d(positions[i]) - centre;
    ASSERT_NEAR(d.Length(), radius, 0.25 * voxel) << i;
    ASSERT_GT(Dot(Vec3d(run.fusion.GetNormals()[i]), d.GetNormalized()), 0.9) << i;
    ASSERT_EQ(run.fusion.GetValues()[i], 1.0f) << i;
  }
  // The marks, in order, and progress rising to 1.
  std::size_t at = 0;
  for (int k = 1; k <= 12; ++k) {
    at = run.log.find("Fusion " + std::to_string(k) + "\n", at);
    ASSERT_NE(at, std::string::npos) << k;
  }
  EXPECT_NE(run.log.find("Fusion finished\n", at), std::string::npos);
  EXPECT_THAT(run.log, HasSubstr("PostProcessFusion\n"));
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_EQ(fractions.back(), 1.0);
}

TEST(Fusion, DelaunayPostProcessingKeepsTheSphere) {
  const double radius = 20.0;
  LoggedFusion run;
  const Cloud sphere = FullSphere({0, 0, 0}, radius, 20000);
  run.fusion.AddPointCloud(sphere.positions, sphere.normals);
  FusionOptions options = LowResolution();
  options.delaunay = true;
  ASSERT_TRUE(run.fusion.Reconstruct(options));
  EXPECT_TRUE(testing::IsClosedAndOriented(run.fusion.GetTriangles()));
  // One smoothing pass pulls a vertex inwards by about e²/(3·radius) more.
  for (const Vec3f& p : run.fusion.GetPositions()) ASSERT_NEAR(p.Length(), radius, 0.3 * run.fusion.GetVoxelSize());
}

// A sphere without its cap above z = 0.8·radius (a hole 24 mm across on a
// 40 mm object): the reconstruction closes the hole; its vertices are
// unsupported with a value of about minus the hole's size over the
// object's, so a filter of 0.7 keeps it and 0.3 opens it again.
TEST(Fusion, ClosedHoleIsGradedBySize) {
  const double radius = 20.0;
  LoggedFusion run;
  const Cloud sphere = SphereSamples({0, 0, 0}, radius, 20000, [&](const Vec3d& p) { return p[2] < 0.8 * radius; });
  run.fusion.AddPointCloud(sphere.positions, sphere.normals);
  ASSERT_TRUE(run.fusion.Reconstruct(LowResolution()));
  const auto& values = run.fusion.GetValues();
  const auto& positions = run.fusion.GetPositions();
  const double voxel = run.fusion.GetVoxelSize();
  // The hole's diameter less the supported band of two voxels at either
  // side, over the object's extent 2·radius.
  const double holeRadius = radius * std::sqrt(1.0 - 0.8 * 0.8);
  const double expected = -2.0 * (holeRadius - 2.0 * voxel) / (2.0 * radius);
  float lowest = 1.0f;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if (positions[i][2] > 0.8 * radius + 3.0 * voxel) {
      ASSERT_LT(values[i], 0.0f) << i;
    }
    if (positions[i][2] < 0.8 * radius - 3.0 * voxel) {
      ASSERT_EQ(values[i], 1.0f) << i;
    }
    lowest = std::min(lowest, values[i]);
  }
  EXPECT_NEAR(lowest, expected, 0.1);
  const auto& all = run.fusion.GetTriangles();
  EXPECT_EQ(FilterFusionTriangles(all, values, 0.7), all);
  EXPECT_EQ(FilterFusionTriangles(all, values, 1.0), all);
  const std::vector<std::uint32_t> opened = FilterFusionTriangles(all, values, 0.3);
  EXPECT_LT(opened.size(), all.size());
  for (std::uint32_t i : opened) ASSERT_LT(positions[i][2], 0.8 * radius + 3.0 * voxel);
}

TEST(Fusion, CancelKeepsThePreviousResult) {
  LoggedFusion run;
  const Cloud sphere = FullSphere({0, 0, 0}, 20.0, 5000);
  run.fusion.AddPointCloud(sphere.positions, sphere.normals);
  ASSERT_TRUE(run.fusion.Reconstruct(LowResolution(32)));
  const std::vector<std::uint32_t> before = run.fusion.GetTriangles();
  for (double cancelAt : {0.0, 0.8}) {
    EXPECT_FALSE(run.fusion.Reconstruct(LowResolution(64), [&](double f) { return f >= cancelAt; }));
    EXPECT_TRUE(run.fusion.WasCancelled());
    EXPECT_EQ(run.fusion.GetTriangles(), before);
  }
}

// An object standing on the ground of a tilted reference frame: the ground
// grid closes it at the bottom and is cut away afterwards with the dome the
// reconstruction puts over it, leaving no triangle below the cut and
// nothing beyond the object's footprint or away from its surface.
TEST(Fusion, GroundIsAddedAndRemoved) {
  const double radius = 15.0;
  // The reference frame: z up from the ground, here world y; origin on the ground.
  const math::Frame4d world_T_reference = math::FTrans(10.0, -4.0, 3.0) * math::FRotX(-std::numbers::pi / 2.0);
  // A sphere resting on the ground, seen only above 3 mm.
  Cloud cloud = SphereSamples({0, 0, radius}, radius, 20000, [&](const Vec3d& p) { return p[2] + radius > 3.0; });
  for (std::size_t i = 0; i < cloud.positions.size(); ++i) {
    cloud.positions[i] = Vec3f(world_T_reference.MultP(Vec3d(cloud.positions[i])));
    cloud.normals[i] = Vec3f(world_T_reference.MultV(Vec3d(cloud.normals[i])));
  }
  LoggedFusion run;
  run.fusion.AddPointCloud(cloud.positions, cloud.normals);
  run.fusion.PreprocessGround(world_T_reference);
  EXPECT_EQ(run.fusion.GetNumSamples(), cloud.positions.size() + 40000);
  EXPECT_THAT(run.log, HasSubstr("Corona preprocessing...done\n"));
  ASSERT_TRUE(run.fusion.Reconstruct(LowResolution()));
  const std::size_t before = run.fusion.GetTriangles().size();
  run.fusion.PostprocessGround();
  EXPECT_THAT(run.log, HasSubstr("Corona postprocessing...done\n"));
  const auto& triangles = run.fusion.GetTriangles();
  const auto& positions = run.fusion.GetPositions();
  EXPECT_LT(triangles.size(), before);
  ASSERT_FALSE(triangles.empty());
  const math::Frame4d reference_T_world = world_T_reference.GetInverse();
  const double voxel = run.fusion.GetVoxelSize();
  // The grid lies one spacing (1.3·2·radius/200) below the lowest sample,
  // the cut half a spacing or a voxel above it.
  const double spacing = 1.3 * 2.0 * radius / 200.0;
  double lowestSample = 1e9;
  for (const Vec3f& p : cloud.positions) lowestSample = std::min(lowestSample, reference_T_world.MultP(Vec3d(p))[2]);
  const double lowest = lowestSample - spacing + std::max(0.5 * spacing, voxel);
  for (std::size_t k = 0; k < triangles.size(); k += 3) {
    double top = -1e9;
    for (int c = 0; c < 3; ++c) top = std::max(top, reference_T_world.MultP(Vec3d(positions[triangles[k + c]]))[2]);
    ASSERT_GE(top, lowest - 0.05 * voxel) << k;
  }
  for (const Vec3f& p : positions) {
    const Vec3d q = reference_T_world.MultP(Vec3d(p));
    ASSERT_LT(std::hypot(q[0], q[1]), radius + 2.0 * voxel);
    ASSERT_LT(std::abs((q - Vec3d(0, 0, radius)).Length() - radius), 3.0 * voxel);
  }
  EXPECT_EQ(run.fusion.GetValues().size(), positions.size());
  EXPECT_EQ(run.fusion.GetNormals().size(), positions.size());
}

}  // namespace
}  // namespace surf
