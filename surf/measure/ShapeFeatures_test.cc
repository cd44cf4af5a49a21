// Planes and spheres found among points of known shapes: a noisy sphere of
// known centre and radius, a rotated chamfered box whose 26 face directions
// are known, hand-made point sets for the fits, and sets too small to
// report.
#include "surf/measure/ShapeFeatures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "foundation/math/Frame.h"
#include "sim/Procedural.h"
#include "surf/measure/testing/MeasureMeshes.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;

constexpr double kDeg = std::numbers::pi / 180.0;

std::vector<std::uint32_t> All(std::size_t n) {
  std::vector<std::uint32_t> indices(n);
  for (std::uint32_t i = 0; i < n; ++i) indices[i] = i;
  return indices;
}

TEST(ShapeFits, ExactPointsGiveTheirShapeAndDegenerateSetsFail) {
  // Points on the sphere of radius 7 about (1, 2, 3), a cap of it only.
  std::vector<Vec3f> sphere;
  for (int i = 0; i < 200; ++i) {
    const double theta = 0.6 * (i % 20) / 20.0, phi = 2 * std::numbers::pi * (i / 20) / 10.0;
    sphere.emplace_back(Vec3d(1 + 7 * std::sin(theta) * std::cos(phi),
                              2 + 7 * std::sin(theta) * std::sin(phi), 3 + 7 * std::cos(theta)));
  }
  Vec3d centre;
  double radius = 0;
  ASSERT_TRUE(FitSphere(sphere, All(sphere.size()), centre, radius));
  EXPECT_NEAR((centre - Vec3d(1, 2, 3)).Length(), 0, 1e-4);
  EXPECT_NEAR(radius, 7, 1e-4);

  std::vector<Vec3f> plane;
  for (int i = 0; i < 50; ++i)
    plane.emplace_back(float(i % 7), float(i / 7), float(2 + 0.5 * (i % 7) - 0.25 * (i / 7)));
  Vec3d point, normal;
  ASSERT_TRUE(FitPlane(plane, All(plane.size()), point, normal));
  const Vec3d truth = Vec3d(-0.5, 0.25, 1).GetNormalized();
  EXPECT_NEAR(std::abs(math::Dot(normal, truth)), 1.0, 1e-10);
  EXPECT_NEAR(math::Dot(point - Vec3d(0, 0, 2), truth), 0, 1e-5);

  // Collinear points fit no plane; coplanar points no sphere; too few neither.
  std::vector<Vec3f> line{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
  EXPECT_FALSE(FitPlane(line, All(4), point, normal));
  std::vector<Vec3f> flat{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}};
  EXPECT_FALSE(FitSphere(flat, All(5), centre, radius));
  EXPECT_FALSE(FitSphere(flat, All(3), centre, radius));
  EXPECT_FALSE(FitPlane(flat, All(2), point, normal));
}

TEST(ShapeFeatures, NoisySphereGivesItsCentreAndRadius) {
  MeshArrays sphere = testing::ToArrays(sim::MakeSphere({30.0}, 0.6).mesh);
  testing::AddNormalNoise(sphere, 0.01, 7);
  const Vec3d centre(5, -3, 12);
  for (Vec3f& p : sphere.positions) p += Vec3f(centre);
  FeatureOptions options;
  const ShapeFeatures found = DetectShapeFeatures(sphere.positions, sphere.normals, options);
  EXPECT_TRUE(found.planes.empty());
  ASSERT_EQ(found.spheres.size(), 1u);
  const SphereFeature& s = found.spheres[0];
  EXPECT_NEAR((s.centre - centre).Length(), 0, 0.002);
  EXPECT_NEAR(s.radius, 30.0, 0.002);
  EXPECT_GT(s.points.size(), sphere.positions.size() * 99 / 100);  // 4.5 sigma
  EXPECT_NEAR(s.rms, 0.01, 0.002);
}

TEST(ShapeFeatures, RotatedBoxGivesPlanesWithItsFaceNormals) {
  const sim::BoxSpec spec;  // 80 × 60 × 40, chamfers of 5 mm
  MeshArrays box = testing::ToArrays(sim::MakeChamferedBox(spec, 0.5).mesh);
  testing::AddNormalNoise(box, 0.005, 3);
  // A turn of 20° about (1, 2, 3) and a shift.
  const Vec3d axis = Vec3d(1, 2, 3).GetNormalized();
  const double c = std::cos(20 * kDeg), s = std::sin(20 * kDeg);
  const auto rotate = [&](const Vec3d& v) {
    return v * c + (axis ^ v) * s + axis * (math::Dot(axis, v) * (1 - c));
  };
  for (Vec3f& p : box.positions) p = Vec3f(rotate(Vec3d(p)) + Vec3d(10, 20, 30));
  for (Vec3f& n : box.normals) n = Vec3f(rotate(Vec3d(n)));

  const ShapeFeatures found = DetectShapeFeatures(box.positions, box.normals, FeatureOptions{});
  EXPECT_TRUE(found.spheres.empty());
  // Every plane is one of the 26 faces (directions in {−1, 0, 1}³): its
  // normal within 0.05° of the turned direction, and it lies on that face.
  int mainFaces = 0;
  for (const PlaneFeature& plane : found.planes) {
    double bestAngle = 180;
    Vec3d bestDirection;
    for (int d = 0; d < 27; ++d) {
      const Vec3d direction(d % 3 - 1, d / 3 % 3 - 1, d / 9 - 1);
      if (direction.LengthSquared() == 0) continue;
      const double angle =
          std::acos(
              std::clamp(math::Dot(plane.normal, rotate(direction.GetNormalized())), -1.0, 1.0)) /
          kDeg;
      if (angle < bestAngle) {
        bestAngle = angle;
        bestDirection = direction;
      }
    }
    EXPECT_LT(bestAngle, 0.05) << "plane at " << plane.point;
    const int nonzero =
        int(std::abs(bestDirection[0]) + std::abs(bestDirection[1]) + std::abs(bestDirection[2]));
    mainFaces += nonzero == 1;
    double offset = 0;  // the face's plane: d·p = Σ size/2 − (k − 1)·chamfer
    for (int k = 0; k < 3; ++k) offset += std::abs(bestDirection[k]) * spec.size[k] / 2;
    offset -= (nonzero - 1) * spec.chamfer;
    EXPECT_NEAR(
        math::Dot(plane.point - Vec3d(10, 20, 30), rotate(bestDirection)) / bestDirection.Length(),
        offset / bestDirection.Length(), 0.01);
  }
  EXPECT_EQ(mainFaces, 6);
}

TEST(ShapeFeatures, TooFewPointsAndBadPointsGiveNothing) {
  MeshArrays grid = testing::MakePlaneGrid(2, 1.0, 0.0);  // 9 points
  EXPECT_TRUE(DetectShapeFeatures(grid.positions, grid.normals, FeatureOptions{}).planes.empty());
  grid = testing::MakePlaneGrid(3, 1.0, 0.0);  // 16 points: a plane
  const ShapeFeatures sixteen = DetectShapeFeatures(grid.positions, grid.normals, FeatureOptions{});
  ASSERT_EQ(sixteen.planes.size(), 1u);
  EXPECT_EQ(sixteen.planes[0].points.size(), 16u);
  EXPECT_NEAR(sixteen.planes[0].normal[2], 1.0, 1e-9);
  // Normals missing or not finite: those points are never used.
  grid.normals.resize(8);
  EXPECT_TRUE(DetectShapeFeatures(grid.positions, grid.normals, FeatureOptions{}).planes.empty());
  EXPECT_TRUE(DetectShapeFeatures({}, {}, FeatureOptions{}).planes.empty());
}

}  // namespace
}  // namespace surf
