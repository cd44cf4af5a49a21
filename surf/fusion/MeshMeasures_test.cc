#include "surf/fusion/MeshMeasures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>
#include <utility>
#include <vector>

#include "v3d/GeoTools.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;
constexpr double kPi = std::numbers::pi;

// Edges a, b, c of 2, 3 and 4 mm from a corner away from the origin: the
// volume does not depend on where the box lies.
TEST(MeshMeasures, BoxAreaAndVolume) {
  v3d::Geo geo;
  v3d::CreateParallelepiped(geo, Vec3f(10.f, -5.f, 7.f), Vec3f(2.f, 0.f, 0.f), Vec3f(0.f, 3.f, 0.f),
                            Vec3f(0.f, 0.f, 4.f));
  EXPECT_NEAR(ComputeTriangleMeshArea(geo), 2.0 * (2 * 3 + 3 * 4 + 4 * 2), 1e-9);
  EXPECT_NEAR(ComputeTriangleMeshVolume(geo), 24.0, 1e-9);

  // Wound the other way the volume changes sign.
  v3d::Geo inverted;
  v3d::CreateParallelepiped(inverted, Vec3f(10.f, -5.f, 7.f), Vec3f(0.f, 3.f, 0.f), Vec3f(2.f, 0.f, 0.f),
                            Vec3f(0.f, 0.f, 4.f));
  EXPECT_NEAR(ComputeTriangleMeshVolume(inverted), -24.0, 1e-9);
}

TEST(MeshMeasures, RawArraysSkipTrianglesOutOfRangeAndQuadsCountAsTwoTriangles) {
  const std::vector<float> positions = {0, 0, 0, 2, 0, 0, 2, 3, 0, 0, 3, 0};
  const std::vector<std::uint32_t> indices = {0, 1, 2, 0, 2, 3, 0, 2, 9};
  EXPECT_NEAR(ComputeTriangleMeshArea(positions.data(), 4, indices.data(), 3), 6.0, 1e-12);
  // The plane z = 0 through the origin encloses nothing.
  EXPECT_EQ(ComputeTriangleMeshVolume(positions.data(), 4, indices.data(), 3), 0.0);

  v3d::Geo geo;
  v3d::Mesh& quad = *geo.AddMesh(4);
  for (std::size_t i = 0; i < 4; ++i) quad.AddVertex(Vec3f(positions[3 * i], positions[3 * i + 1], 5.f));
  quad.AddPrim(0, 1, 2, 3);
  geo.AddMesh(2)->AddPrim(0, 1);  // lines add nothing
  EXPECT_NEAR(ComputeTriangleMeshArea(geo), 6.0, 1e-12);
  // A square at height 5 wound counter-clockwise from above: the cone to
  // the origin has volume area · height / 3.
  EXPECT_NEAR(ComputeTriangleMeshVolume(geo), 6.0 * 5.0 / 3.0, 1e-12);
}

// An icosahedron subdivided `levels` times, its vertices on the sphere of
// radius r about the origin, wound counter-clockwise from outside.
void MakeIcosphere(double r, int levels, std::vector<float>& positions, std::vector<std::uint32_t>& indices) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  std::vector<Vec3d> v = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                          {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  std::vector<std::uint32_t> f = {0, 11, 5, 0, 5,  1,  0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                                  4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3, 9,  4, 3,  4,  2, 3, 2, 6, 3,
                                  6, 8,  3,  8, 9,  4, 9, 5, 2, 4, 11, 6, 2, 10, 8,  6, 7, 9, 8, 1};
  for (auto& p : v) p = p * (r / p.Length());
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> middle;
    auto mid = [&](std::uint32_t a, std::uint32_t b) {
      const auto key = std::minmax(a, b);
      if (const auto it = middle.find(key); it != middle.end()) return it->second;
      Vec3d m = (v[a] + v[b]) * 0.5;
      v.push_back(m * (r / m.Length()));
      return middle[key] = static_cast<std::uint32_t>(v.size() - 1);
    };
    std::vector<std::uint32_t> next;
    for (std::size_t i = 0; i < f.size(); i += 3) {
      const std::uint32_t a = f[i], b = f[i + 1], c = f[i + 2];
      const std::uint32_t ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
      next.insert(next.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
    }
    f = std::move(next);
  }
  positions.clear();
  for (const auto& p : v) positions.insert(positions.end(), {float(p[0]), float(p[1]), float(p[2])});
  indices = f;
}

// A convex polyhedron inscribed in the sphere lies inside it and contains
// the ball of radius d = sqrt(r² − ρ²), ρ the largest circumradius of its
// faces (the nearest face plane). Hence 4π d² ≤ area ≤ 4π r² (the flat face
// over a solid angle Ω has at least the area d² Ω) and 4/3 π d³ ≤ volume
// ≤ 4/3 π r³.
TEST(MeshMeasures, SphereAgainstTheFormulaWithinTheTessellationBounds) {
  const double r = 50.0;
  std::vector<float> positions;
  std::vector<std::uint32_t> indices;
  MakeIcosphere(r, 4, positions, indices);
  ASSERT_EQ(indices.size(), 3u * 20 * 256);
  double rho = 0.0;
  for (std::size_t i = 0; i < indices.size(); i += 3) {
    auto p = [&](int k) {
      const std::size_t j = 3 * std::size_t(indices[i + k]);
      return Vec3d(positions[j], positions[j + 1], positions[j + 2]);
    };
    const double a = (p(1) - p(0)).Length(), b = (p(2) - p(1)).Length(), c = (p(0) - p(2)).Length();
    const double area = 0.5 * ((p(1) - p(0)) ^ (p(2) - p(0))).Length();
    rho = std::max(rho, a * b * c / (4.0 * area));
  }
  const double d = std::sqrt(r * r - rho * rho);
  const double area = ComputeTriangleMeshArea(positions.data(), positions.size() / 3, indices.data(),
                                               indices.size() / 3);
  const double volume = ComputeTriangleMeshVolume(positions.data(), positions.size() / 3, indices.data(),
                                                   indices.size() / 3);
  // Float vertices lie within about 1e-5 mm of the sphere.
  const double slack = 1e-6;
  EXPECT_LE(area, 4.0 * kPi * r * r * (1 + slack));
  EXPECT_GE(area, 4.0 * kPi * d * d * (1 - slack));
  EXPECT_LE(volume, 4.0 / 3.0 * kPi * r * r * r * (1 + slack));
  EXPECT_GE(volume, 4.0 / 3.0 * kPi * d * d * d * (1 - slack));
  // The bounds are tight: within 0.5 % of the sphere.
  EXPECT_LT(1.0 - d * d / (r * r), 0.005);
}

}  // namespace
}  // namespace surf
