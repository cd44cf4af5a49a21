#include "apps/tarvelin/SurfaceDistance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tarvelin {
namespace {

// A unit-square grid of n × n cells in the plane z = 0 over [0, n]².
sim::TriMesh Plane(int n) {
  sim::TriMesh mesh;
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) mesh.positions.push_back(math::Vec3f{float(x), float(y), 0.f});
  const auto index = [n](int x, int y) { return std::uint32_t(y * (n + 1) + x); };
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      mesh.triangles.push_back({index(x, y), index(x + 1, y), index(x + 1, y + 1)});
      mesh.triangles.push_back({index(x, y), index(x + 1, y + 1), index(x, y + 1)});
    }
  return mesh;
}

TEST(PointTriangleDistance, CoversFaceEdgeAndCorner) {
  const math::Vec3d a{0, 0, 0}, b{2, 0, 0}, c{0, 2, 0};
  EXPECT_DOUBLE_EQ(PointTriangleDistance({0.5, 0.5, 3}, a, b, c), 3.0);             // above the face
  EXPECT_DOUBLE_EQ(PointTriangleDistance({1, -4, 3}, a, b, c), 5.0);               // beside edge ab
  EXPECT_NEAR(PointTriangleDistance({2, 2, 0}, a, b, c), std::sqrt(2.0), 1e-12);   // beside edge bc
  EXPECT_DOUBLE_EQ(PointTriangleDistance({-3, -4, 0}, a, b, c), 5.0);              // beyond corner a
  EXPECT_DOUBLE_EQ(PointTriangleDistance({5, -4, 0}, a, b, c), 5.0);               // beyond corner b
}

TEST(SurfaceDistance, MatchesThePlaneInsideAndItsBorderOutside) {
  const SurfaceDistance surface(Plane(20), 1.5);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> inside(0.0, 20.0), height(-4.0, 4.0);
  for (int i = 0; i < 200; ++i) {
    const math::Vec3d p{inside(random), inside(random), height(random)};
    EXPECT_NEAR(surface.Distance(p, 10.0), std::abs(p[2]), 1e-9);
  }
  // Off the border: the nearest point is on the edge x = 20, several cells away.
  EXPECT_NEAR(surface.Distance({24, 10, 3}, 10.0), 5.0, 1e-9);
  // Beyond the search limit the limit is given.
  EXPECT_DOUBLE_EQ(surface.Distance({10, 10, 50}, 10.0), 10.0);
}

TEST(PointProximity, FindsPointsWithinTheRadiusOnly) {
  const PointProximity near({{0, 0, 0}, {10, 0, 0}}, 2.0);
  EXPECT_TRUE(near.HasPointWithin({1.9, 0, 0}));
  EXPECT_TRUE(near.HasPointWithin({10, 1.2, -1.2}));
  EXPECT_FALSE(near.HasPointWithin({5, 0, 0}));
  EXPECT_FALSE(near.HasPointWithin({1.5, 1.5, 0}));  // 2.12 away
}

}  // namespace
}  // namespace tarvelin
