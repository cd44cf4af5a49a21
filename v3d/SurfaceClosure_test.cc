#include "v3d/SurfaceClosure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace v3d {
namespace {

struct Soup {
  std::vector<math::Vec3f> positions;
  std::vector<std::uint32_t> triangles;

  void Add(const Soup& other) {
    const auto offset = static_cast<std::uint32_t>(positions.size());
    positions.insert(positions.end(), other.positions.begin(), other.positions.end());
    for (std::uint32_t i : other.triangles) triangles.push_back(i + offset);
  }
  void Reverse() {
    for (std::size_t t = 0; t + 2 < triangles.size(); t += 3)
      std::swap(triangles[t + 1], triangles[t + 2]);
  }
};

// An axis-aligned cube; corner i at low + size·(i & 1, i >> 1 & 1, i >> 2 & 1).
// Each face is a quad (a, b, c, d) with (b − a) × (c − a) pointing out.
Soup Cube(const math::Vec3f& low, float size) {
  Soup cube;
  for (int i = 0; i < 8; ++i) {
    cube.positions.push_back(
        {low[0] + size * (i & 1), low[1] + size * (i >> 1 & 1), low[2] + size * (i >> 2 & 1)});
  }
  const std::uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2},
                                     {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}};
  for (const auto& f : faces)
    cube.triangles.insert(cube.triangles.end(), {f[0], f[1], f[2], f[0], f[2], f[3]});
  return cube;
}

// A UV sphere as a textured mesh stores it: the seam column repeated (u = 0
// and u = 1) and every pole vertex repeated per column; normals point out
// for counter-clockwise triangles.
Soup SeamedSphere(float radius, int segments) {
  Soup sphere;
  const int rings = segments / 2;
  for (int i = 0; i <= rings; ++i) {
    const double theta = std::numbers::pi * i / rings;
    const double sine = i == 0 || i == rings ? 0.0 : std::sin(theta);  // poles exactly on the axis
    for (int j = 0; j <= segments; ++j) {
      const double phi = 2 * std::numbers::pi * (j % segments) / segments;
      sphere.positions.push_back(math::Vec3f(
          radius * sine * std::cos(phi), radius * sine * std::sin(phi), radius * std::cos(theta)));
    }
  }
  const std::uint32_t row = segments + 1;
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      const std::uint32_t a = i * row + j, b = a + 1, c = a + row, d = c + 1;
      if (i > 0) sphere.triangles.insert(sphere.triangles.end(), {a, c, b});
      if (i + 1 < rings) sphere.triangles.insert(sphere.triangles.end(), {b, c, d});
    }
  }
  return sphere;
}

TEST(SurfaceClosure, ClosedMeshesFaceTheWayTheirTrianglesTurn) {
  Soup cube = Cube({-1.f, 2.f, 5.f}, 3.f);
  EXPECT_EQ(FindClosure(cube.positions, cube.triangles), Closure::kCounterClockwise);
  cube.Reverse();
  EXPECT_EQ(FindClosure(cube.positions, cube.triangles), Closure::kClockwise);

  // Seams and poles repeat vertices: they count as one by position.
  Soup sphere = SeamedSphere(40.f, 48);
  ASSERT_EQ(sphere.positions.size(), 25u * 49u);
  EXPECT_EQ(FindClosure(sphere.positions, sphere.triangles), Closure::kCounterClockwise);
  // −0 and +0 are one position.
  Soup signedZero = Cube({-1.f, -1.f, -1.f}, 1.f);
  signedZero.positions.push_back({-0.f, -0.f, -0.f});
  *std::find(signedZero.triangles.begin(), signedZero.triangles.end(), 7u) =
      8u;  // one corner moved over
  EXPECT_EQ(FindClosure(signedZero.positions, signedZero.triangles), Closure::kCounterClockwise);
  // A triangle collapsed onto an edge covers nothing and is ignored.
  cube.Reverse();
  cube.triangles.insert(cube.triangles.end(), {0, 0, 3});
  EXPECT_EQ(FindClosure(cube.positions, cube.triangles), Closure::kCounterClockwise);
}

TEST(SurfaceClosure, GapsAndEdgesOfMoreThanTwoTrianglesAreOpen) {
  Soup sphere = SeamedSphere(40.f, 48);
  // One seam vertex a step off its twin leaves a slit.
  sphere.positions[49 * 10][0] = std::nextafter(sphere.positions[49 * 10][0], 1e9f);
  EXPECT_EQ(FindClosure(sphere.positions, sphere.triangles), Closure::kOpen);

  Soup holed = Cube({0.f, 0.f, 0.f}, 1.f);
  holed.triangles.resize(holed.triangles.size() - 3);
  EXPECT_EQ(FindClosure(holed.positions, holed.triangles), Closure::kOpen);

  Soup doubled = Cube({0.f, 0.f, 0.f}, 1.f);
  doubled.triangles.insert(doubled.triangles.end(), doubled.triangles.begin(),
                           doubled.triangles.begin() + 3);
  EXPECT_EQ(FindClosure(doubled.positions, doubled.triangles), Closure::kOpen);

  // Two cubes sharing an edge: four triangles along it.
  Soup pair = Cube({0.f, 0.f, 0.f}, 1.f);
  pair.Add(Cube({1.f, 1.f, 0.f}, 1.f));
  EXPECT_EQ(FindClosure(pair.positions, pair.triangles), Closure::kOpen);

  // One flipped triangle: its edges run the same way as their neighbours'.
  Soup flipped = Cube({0.f, 0.f, 0.f}, 1.f);
  std::swap(flipped.triangles[1], flipped.triangles[2]);
  EXPECT_EQ(FindClosure(flipped.positions, flipped.triangles), Closure::kOpen);
}

TEST(SurfaceClosure, EveryPartMustFaceTheSameWay) {
  Soup two = Cube({0.f, 0.f, 0.f}, 1.f);
  two.Add(Cube({3.f, 0.f, 0.f}, 2.f));
  EXPECT_EQ(FindClosure(two.positions, two.triangles), Closure::kCounterClockwise);

  Soup mixed = Cube({0.f, 0.f, 0.f}, 1.f);
  Soup inverted = Cube({3.f, 0.f, 0.f}, 2.f);
  inverted.Reverse();
  mixed.Add(inverted);
  EXPECT_EQ(FindClosure(mixed.positions, mixed.triangles), Closure::kOpen);

  // A sheet of two triangles back to back encloses no volume.
  const std::vector<math::Vec3f> sheet = {{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}};
  EXPECT_EQ(FindClosure(sheet, {0, 1, 2, 0, 2, 1}), Closure::kOpen);
}

TEST(SurfaceClosure, BrokenInputIsOpen) {
  Soup cube = Cube({0.f, 0.f, 0.f}, 1.f);
  EXPECT_EQ(FindClosure({}, {}), Closure::kOpen);
  EXPECT_EQ(FindClosure(cube.positions, {}), Closure::kOpen);
  std::vector<std::uint32_t> pastTheEnd = cube.triangles;
  pastTheEnd[4] = 8;
  EXPECT_EQ(FindClosure(cube.positions, pastTheEnd), Closure::kOpen);
  std::vector<math::Vec3f> notFinite = cube.positions;
  notFinite[3][1] = std::nanf("");
  EXPECT_EQ(FindClosure(notFinite, cube.triangles), Closure::kOpen);
  // A trailing partial triangle is no triangle.
  std::vector<std::uint32_t> trailing = cube.triangles;
  trailing.push_back(0);
  EXPECT_EQ(FindClosure(cube.positions, trailing), Closure::kCounterClockwise);
}

}  // namespace
}  // namespace v3d
