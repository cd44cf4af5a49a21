// Deviations against references of known geometry: planes at known
// offsets, a sparse reference of two triangles, spheres of known radii, and
// the edge cases (clamping, no overlap, frames, non-finite vertices).
#include "surf/measure/Deviation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sim/Procedural.h"
#include "surf/measure/ClosestPoint.h"
#include "surf/measure/testing/MeasureMeshes.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;
using testing::MakeGeo;
using testing::MakePlaneGrid;

constexpr DeviationMethod kMethods[] = {DeviationMethod::kVertex, DeviationMethod::kTriangle};

DeviationResult Deviations(const v3d::Geo& test, const v3d::Geo& reference, DeviationMethod method,
                           float tolerance = 0.1f) {
  DeviationOptions options;
  options.tolerance = tolerance;
  options.method = method;
  return ComputeDeviations(test, reference, options);
}

// The deviations of the test's first mesh.
std::vector<float> Values(const v3d::Geo& test, const v3d::Geo& reference, DeviationMethod method,
                          float tolerance = 0.1f) {
  return Deviations(test, reference, method, tolerance).perMesh.at(0);
}

TEST(ClosestPointOnTriangle, RegionsOfFaceEdgesAndCorners) {
  const Vec3d a(0, 0, 0), b(4, 0, 0), c(0, 4, 0);
  const auto point = [&](const Vec3d& p) {
    const Vec3d w = ClosestPointOnTriangle(p, a, b, c);
    EXPECT_NEAR(w[0] + w[1] + w[2], 1.0, 1e-12);
    return a * w[0] + b * w[1] + c * w[2];
  };
  EXPECT_NEAR((point({1, 1, 3}) - Vec3d(1, 1, 0)).Length(), 0, 1e-12);   // face
  EXPECT_NEAR((point({2, -3, 1}) - Vec3d(2, 0, 0)).Length(), 0, 1e-12);  // edge ab
  EXPECT_NEAR((point({3, 3, 0}) - Vec3d(2, 2, 0)).Length(), 0, 1e-12);   // edge bc
  EXPECT_NEAR((point({-1, -1, 0}) - a).Length(), 0, 1e-12);              // corners
  EXPECT_NEAR((point({9, -1, 0}) - b).Length(), 0, 1e-12);
  EXPECT_NEAR((point({-1, 9, 2}) - c).Length(), 0, 1e-12);
  // A degenerate triangle (all on a line) gives the nearest point of the segment.
  const Vec3d w = ClosestPointOnTriangle({1, 1, 0}, a, b, Vec3d(2, 0, 0));
  EXPECT_NEAR((a * w[0] + b * w[1] + Vec3d(2, 0, 0) * w[2] - Vec3d(1, 0, 0)).Length(), 0, 1e-12);
}

TEST(Deviation, PlaneAtKnownOffsetsIsSignedClampedOrTheTolerance) {
  // Reference vertices 0.1 mm apart: every test vertex has one within 2t.
  const auto reference = MakeGeo(MakePlaneGrid(100, 0.1, 0.0));
  // A finer, shifted grid well inside the reference, at each height.
  struct Case {
    double height;
    float expected;
  } cases[] = {{0.04, 0.04f},  {-0.05, -0.05f}, {0.15, 0.1f},
               {-0.15, -0.1f}, {0.25, 0.1f},    {-0.25, 0.1f}};
  for (const DeviationMethod method : kMethods) {
    for (const Case& c : cases) {
      auto grid = MakePlaneGrid(10, 0.73, c.height);
      const auto test = MakeGeo(grid);
      const DeviationResult result = Deviations(*test, *reference, method);
      ASSERT_EQ(result.perMesh.size(), 1u);
      EXPECT_EQ(result.vertices, grid.positions.size());
      for (const float d : result.perMesh[0])
        ASSERT_NEAR(d, c.expected, 2e-6) << DeviationMethodName(method) << " h " << c.height;
      // Beyond 2t there is no reference: every vertex gets t.
      EXPECT_EQ(result.withReference, std::abs(c.height) > 0.2 ? 0u : result.vertices);
    }
  }
}

TEST(Deviation, SparseReferenceIsFoundOnlyByTheTriangles) {
  // Two triangles 100 mm across: a test point in the middle is 50 mm from
  // every reference vertex but 0.03 mm above the surface.
  MeshArrays square;
  square.positions = {{-50, -50, 0}, {50, -50, 0}, {50, 50, 0}, {-50, 50, 0}};
  square.normals.assign(4, Vec3f(0, 0, 1));
  square.indices = {0, 1, 2, 0, 2, 3};
  MeshArrays point = MakePlaneGrid(1, 1.0, 0.03);
  const auto reference = MakeGeo(square);
  const auto test = MakeGeo(point);
  for (const float d : Values(*test, *reference, DeviationMethod::kVertex)) EXPECT_EQ(d, 0.1f);
  for (const float d : Values(*test, *reference, DeviationMethod::kTriangle))
    EXPECT_NEAR(d, 0.03f, 1e-6);
}

TEST(Deviation, SpheresOfKnownRadiiMatchTheAnalyticDistance) {
  // Reference: a sphere of 30 mm; test: one of 30.06 mm around a centre
  // 0.02 mm away, so every test vertex lies 0.04…0.08 mm outside.
  const sim::ProceduralMesh sphere = sim::MakeSphere({30.0}, 0.5);
  const sim::ProceduralMesh bigger = sim::MakeSphere({30.06}, 0.7);
  const auto reference = MakeGeo(testing::ToArrays(sphere.mesh));
  math::Frame4d offset;
  offset.SetTrans(Vec3d(0.02, 0, 0));
  const auto test = MakeGeo(testing::ToArrays(bigger.mesh), offset);
  const double bound = sphere.tessellationError + bigger.tessellationError + 1e-5;
  const auto& positions = test->GetMesh(0)->GetVertexCoords();
  const DeviationResult triangle = Deviations(*test, *reference, DeviationMethod::kTriangle);
  // A tolerance of 1 mm, so that a reference vertex lies within 2t of each.
  const DeviationResult vertex = Deviations(*test, *reference, DeviationMethod::kVertex, 1.0f);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const double truth = (offset.MultP(Vec3d(positions[i]))).Length() - 30.0;
    ASSERT_NEAR(triangle.perMesh[0][i], truth, bound) << i;
    // Along the nearest vertex's normal: within the tessellation's slope.
    ASSERT_NEAR(vertex.perMesh[0][i], truth, 0.01) << i;
  }
  // Inside the reference the deviation is negative.
  const auto smaller = MakeGeo(testing::ToArrays(sim::MakeSphere({29.95}, 0.7).mesh));
  for (const float d : Values(*smaller, *reference, DeviationMethod::kTriangle))
    ASSERT_NEAR(d, -0.05, bound);
}

TEST(Deviation, NodeFramesAndSeveralReferenceMeshes) {
  // The test grid lies at z = 0 in its own coordinates, 0.07 mm up by its
  // frame; the reference has a second mesh 0.02 mm below the test, whose
  // smaller magnitude wins.
  math::Frame4d up;
  up.SetTrans(Vec3d(0, 0, 0.07));
  const auto test = MakeGeo(MakePlaneGrid(6, 1.0, 0.0), up);
  auto reference = MakeGeo(MakePlaneGrid(20, 1.0, 0.0));
  for (const DeviationMethod method : kMethods) {
    for (const float d : Values(*test, *reference, method)) EXPECT_NEAR(d, 0.07f, 1e-6);
  }
  const MeshArrays second = MakePlaneGrid(20, 1.0, 0.09);
  v3d::Mesh* mesh = reference->AddMesh(3);
  mesh->mGetVertexCoords() = second.positions;
  mesh->mGetVertexNormals() = second.normals;
  mesh->mGetPrims() = second.indices;
  for (const DeviationMethod method : kMethods) {
    for (const float d : Values(*test, *reference, method)) EXPECT_NEAR(d, -0.02f, 1e-6);
  }
}

TEST(Deviation, BadInputGivesClearResults) {
  const auto reference = MakeGeo(MakePlaneGrid(10, 1.0, 0.0));
  MeshArrays grid = MakePlaneGrid(2, 1.0, 0.01);
  grid.positions[4] = Vec3f(std::numeric_limits<float>::quiet_NaN(), 0, 0);
  const auto test = MakeGeo(grid);
  for (const DeviationMethod method : kMethods) {
    const DeviationResult result = Deviations(*test, *reference, method);
    EXPECT_EQ(result.nonFinite, 1u);
    EXPECT_EQ(result.withReference, grid.positions.size() - 1);
    EXPECT_TRUE(std::isnan(result.perMesh[0][4]));
    EXPECT_EQ(DeviationMagnitudes(ConcatenateDeviations(result)).size(), grid.positions.size() - 1);
  }
  // A tolerance of 0 or below, or not a number.
  for (const float t : {0.f, -1.f, std::numeric_limits<float>::quiet_NaN()})
    EXPECT_THROW(Deviations(*test, *reference, DeviationMethod::kVertex, t), std::invalid_argument);
  // An empty reference: every vertex gets t.
  const v3d::Geo empty;
  const DeviationResult none = Deviations(*test, empty, DeviationMethod::kTriangle);
  EXPECT_EQ(none.withReference, 0u);
  EXPECT_EQ(none.perMesh[0][0], 0.1f);
  // The vertex method needs the reference's normals; EnsureVertexNormals adds them.
  MeshArrays bare = MakePlaneGrid(10, 1.0, 0.0);
  bare.normals.clear();
  const auto unnormalled = MakeGeo(bare);
  EXPECT_THROW(Deviations(*test, *unnormalled, DeviationMethod::kVertex), std::invalid_argument);
  EXPECT_NEAR(Values(*test, *unnormalled, DeviationMethod::kTriangle)[0], 0.01f, 1e-6);
  EXPECT_TRUE(EnsureVertexNormals(*unnormalled));
  EXPECT_FALSE(EnsureVertexNormals(*unnormalled));
  EXPECT_NEAR(Values(*test, *unnormalled, DeviationMethod::kVertex)[0], 0.01f, 1e-6);
}

TEST(Deviation, ProgressReportsAndCancels) {
  const auto reference = MakeGeo(MakePlaneGrid(20, 1.0, 0.0));
  const auto test = MakeGeo(MakePlaneGrid(40, 0.5, 0.02));
  DeviationOptions options;
  double last = -1;
  options.progress = [&](double f) {
    EXPECT_GE(f, last);
    last = f;
    return false;
  };
  EXPECT_FALSE(ComputeDeviations(*test, *reference, options).cancelled);
  EXPECT_EQ(last, 1.0);
  options.progress = [](double f) { return f > 0.0; };
  EXPECT_TRUE(ComputeDeviations(*test, *reference, options).cancelled);
}

}  // namespace
}  // namespace surf
