#include "surf/mesh/MeshEditing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "surf/mesh/BoundaryLoops.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;

// An icosahedron subdivided `levels` times, projected onto the sphere.
MeshArrays MakeIcosphere(double radius, int levels) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  std::vector<Vec3d> points{{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                            {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  std::vector<std::uint32_t> faces{0, 11, 5, 0, 5,  1, 0, 1, 7, 0, 7, 10, 0, 10, 11, 1, 5, 9, 5, 11,
                                   4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3, 9,  4, 3,  4,  2, 3, 2, 6, 3,
                                   6, 8,  3, 8, 9, 4, 9, 5, 2, 4, 11, 6, 2, 10, 8,  6, 7, 9, 8, 1};
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> middles;
    const auto middle = [&](std::uint32_t a, std::uint32_t b) {
      const auto key = std::minmax(a, b);
      const auto [it, added] = middles.emplace(key, std::uint32_t(points.size()));
      if (added) points.push_back((points[a] + points[b]) * 0.5);
      return it->second;
    };
    std::vector<std::uint32_t> finer;
    for (std::size_t k = 0; k < faces.size(); k += 3) {
      const std::uint32_t a = faces[k], b = faces[k + 1], c = faces[k + 2];
      const std::uint32_t ab = middle(a, b), bc = middle(b, c), ca = middle(c, a);
      finer.insert(finer.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
    }
    faces = finer;
  }
  MeshArrays mesh;
  for (const Vec3d& p : points) mesh.positions.push_back(Vec3f(p.GetNormalized() * radius));
  mesh.indices = faces;
  return mesh;
}

// Distance from p to the triangle abc (Ericson, Real-Time Collision Detection, 5.1.5).
double PointTriangleDistance(const Vec3d& p, const Vec3d& a, const Vec3d& b, const Vec3d& c) {
  const Vec3d ab = b - a, ac = c - a, ap = p - a;
  const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return (p - a).Length();
  const Vec3d bp = p - b;
  const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return (p - b).Length();
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return (p - (a + ab * (d1 / (d1 - d3)))).Length();
  const Vec3d cp = p - c;
  const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return (p - c).Length();
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return (p - (a + ac * (d2 / (d2 - d6)))).Length();
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    return (p - (b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6))))).Length();
  }
  const double denominator = 1.0 / (va + vb + vc);
  return (p - (a + ab * (vb * denominator) + ac * (vc * denominator))).Length();
}

double DistanceToMesh(const Vec3d& p, const MeshArrays& mesh) {
  double best = 1e30;
  for (std::size_t k = 0; k < mesh.indices.size(); k += 3) {
    best = std::min(best, PointTriangleDistance(p, Vec3d(mesh.positions[mesh.indices[k]]),
                                                Vec3d(mesh.positions[mesh.indices[k + 1]]),
                                                Vec3d(mesh.positions[mesh.indices[k + 2]])));
  }
  return best;
}

TEST(ShrinkMesh, RemovesOneRingOfBorderTriangles) {
  const std::uint32_t nx = 5, ny = 4;
  MeshArrays grid = testing::MakeGrid(nx, ny, false);
  // Expected survivors: the triangles without an edge on the grid's outline.
  const auto onOutline = [&](const Vec3f& p, const Vec3f& q) {
    return (p[0] == q[0] && (p[0] == 0.f || p[0] == float(nx))) ||
           (p[1] == q[1] && (p[1] == 0.f || p[1] == float(ny)));
  };
  std::size_t expected = 0;
  for (std::size_t k = 0; k < grid.indices.size(); k += 3) {
    bool border = false;
    for (int e = 0; e < 3; ++e) {
      border = border || onOutline(grid.positions[grid.indices[k + e]], grid.positions[grid.indices[k + (e + 1) % 3]]);
    }
    expected += !border;
  }
  const std::size_t total = grid.NumTriangles();
  EXPECT_EQ(ShrinkMesh(grid), total - expected);
  EXPECT_EQ(grid.NumTriangles(), expected);
  ASSERT_TRUE(grid.IsValid());
  // Unused vertices are gone and the attributes moved with their vertices.
  std::vector<int> used(grid.positions.size(), 0);
  for (std::uint32_t i : grid.indices) used[i] = 1;
  EXPECT_TRUE(std::all_of(used.begin(), used.end(), [](int u) { return u; }));
  for (std::size_t i = 0; i < grid.positions.size(); ++i) {
    EXPECT_EQ(grid.texCoords[i][0], grid.positions[i][0] / float(nx));
    EXPECT_EQ(grid.colors[i].g, std::uint8_t(grid.positions[i][1] * 5));
  }
}

TEST(ShrinkMesh, LeavesAClosedMeshUnchanged) {
  MeshArrays sphere = MakeIcosphere(10.0, 2);
  const MeshArrays before = sphere;
  EXPECT_EQ(ShrinkMesh(sphere), 0u);
  EXPECT_EQ(sphere.indices, before.indices);
  EXPECT_EQ(sphere.positions, before.positions);
}

TEST(Smoothing, KeepsAPlaneFlatAndLooseVerticesInPlace) {
  MeshArrays grid = testing::MakeGrid(6, 5, false);
  grid.positions.push_back({100.f, 200.f, 300.f});  // no triangle uses it
  grid.normals.push_back({0.f, 0.f, 1.f});
  grid.texCoords.push_back({0.f, 0.f});
  grid.colors.push_back({});
  Smoothing(grid, true);
  const Vec3f planeNormal = Vec3f(-0.5f, 0.25f, 1.f).GetNormalized();
  for (std::size_t i = 0; i + 1 < grid.positions.size(); ++i) {
    const Vec3f& p = grid.positions[i];
    EXPECT_NEAR(p[2], 0.5f * p[0] - 0.25f * p[1], 1e-5f) << i;
    EXPECT_NEAR(Dot(grid.normals[i], planeNormal), 1.0f, 1e-5f) << i;
  }
  EXPECT_EQ(grid.positions.back(), Vec3f(100.f, 200.f, 300.f));
}

TEST(Smoothing, MovesToTheMeanOfIncidentCentroids) {
  // Two triangles sharing edge 0–1: vertices 0 and 1 move to the mean of
  // both centroids, 2 and 3 to their own triangle's centroid.
  MeshArrays mesh;
  mesh.positions = {{0, 0, 0}, {3, 0, 0}, {0, 3, 0}, {3, -3, 3}};
  mesh.indices = {0, 1, 2, 1, 0, 3};
  Smoothing(mesh, false);
  const Vec3f c1(1, 1, 0), c2(2, -1, 1);
  EXPECT_EQ(mesh.positions[0], (c1 + c2) * 0.5f);
  EXPECT_EQ(mesh.positions[1], (c1 + c2) * 0.5f);
  EXPECT_EQ(mesh.positions[2], c1);
  EXPECT_EQ(mesh.positions[3], c2);
  EXPECT_TRUE(mesh.normals.empty());
}

TEST(MakeDelaunay, FlipsTheLongDiagonalOfARhombus) {
  // Rhombus A(−2,0) B(0,−1) C(2,0) D(0,1) split along the long diagonal A–C:
  // the angles at B and D are 2·atan(2) ≈ 127° each, so A–C is flipped to B–D.
  MeshArrays mesh;
  mesh.positions = {{-2, 0, 0}, {0, -1, 0}, {2, 0, 0}, {0, 1, 0}};
  mesh.normals.assign(4, Vec3f(1, 0, 0));
  mesh.indices = {0, 1, 2, 0, 2, 3};
  EXPECT_EQ(MakeDelaunay(mesh), 1u);
  ASSERT_EQ(mesh.indices.size(), 6u);
  for (std::size_t k = 0; k < 6; k += 3) {
    const std::uint32_t* t = &mesh.indices[k];
    EXPECT_TRUE(std::count(t, t + 3, 1u) && std::count(t, t + 3, 3u)) << k;
    const Vec3f n = (mesh.positions[t[1]] - mesh.positions[t[0]]) ^ (mesh.positions[t[2]] - mesh.positions[t[0]]);
    EXPECT_GT(n[2], 0.f) << k;  // still counter-clockwise
  }
  for (const Vec3f& n : mesh.normals) EXPECT_EQ(n, Vec3f(0, 0, 1));
  EXPECT_EQ(MakeDelaunay(mesh), 0u);
}

TEST(MakeDelaunay, RefusesAFlipThatWouldDuplicateAnEdge) {
  // A flat tetrahedron: across edge 0–2 the opposite angles (at 1 and 3)
  // sum to far more than π, but its flip would add edge 1–3, which exists.
  MeshArrays mesh;
  mesh.positions = {{-2, 0, 0}, {0, -0.5f, 0.1f}, {2, 0, 0}, {0, 0.5f, 0.1f}};
  mesh.indices = {0, 1, 2, 0, 2, 3, 0, 3, 1, 1, 3, 2};
  const std::vector<std::uint32_t> before = mesh.indices;
  EXPECT_EQ(MakeDelaunay(mesh), 0u);
  EXPECT_EQ(mesh.indices, before);
}

TEST(MakeDelaunay, LeavesADelaunayGridAlone) {
  MeshArrays grid = testing::MakeGrid(4, 4, false);
  const std::vector<std::uint32_t> before = grid.indices;
  EXPECT_EQ(MakeDelaunay(grid), 0u);
  EXPECT_EQ(grid.indices, before);
}

TEST(MakeDelaunay, MakesAJitteredGridDelaunay) {
  // A planar grid with its interior vertices moved at random in the plane:
  // afterwards no interior edge has opposite angles summing to more than π.
  MeshArrays grid = testing::MakeGrid(12, 12, false);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> jitter(-0.45f, 0.45f);
  for (Vec3f& p : grid.positions) {
    if (p[0] == 0.f || p[0] == 12.f || p[1] == 0.f || p[1] == 12.f) continue;
    p[0] += jitter(rng), p[1] += jitter(rng);
    p[2] = 0.5f * p[0] - 0.25f * p[1];
  }
  EXPECT_GT(MakeDelaunay(grid), 20u);
  // Opposite corner of each directed edge.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> opposite;
  for (std::size_t k = 0; k < grid.indices.size(); k += 3) {
    for (int e = 0; e < 3; ++e) {
      opposite[{grid.indices[k + e], grid.indices[k + (e + 1) % 3]}] = grid.indices[k + (e + 2) % 3];
    }
  }
  const auto angle = [&](std::uint32_t apex, std::uint32_t a, std::uint32_t b) {
    const Vec3d u = Vec3d(grid.positions[a] - grid.positions[apex]), v = Vec3d(grid.positions[b] - grid.positions[apex]);
    return std::acos(Dot(u, v) / (u.Length() * v.Length()));
  };
  int interior = 0;
  for (const auto& [edge, c] : opposite) {
    const auto other = opposite.find({edge.second, edge.first});
    if (other == opposite.end()) continue;
    ++interior;
    EXPECT_LE(angle(c, edge.first, edge.second) + angle(other->second, edge.first, edge.second), 3.14159265 + 1e-6);
  }
  EXPECT_GT(interior, 300);
  for (std::size_t k = 0; k < grid.indices.size(); k += 3) {
    const Vec3f& a = grid.positions[grid.indices[k]];
    const Vec3f n = (grid.positions[grid.indices[k + 1]] - a) ^ (grid.positions[grid.indices[k + 2]] - a);
    EXPECT_GT(n[2], 0.f) << k;  // none turned over
  }
  EXPECT_EQ(MakeDelaunay(grid), 0u);
}

TEST(SimplifyMesh, KeepsTheShapeOfASphereAndInterpolatesAttributes) {
  const double radius = 10.0;
  const MeshArrays fine = MakeIcosphere(radius, 4);  // 5120 triangles
  MeshArrays mesh = fine;
  // Attributes that are linear in the position.
  const auto uv = [](const Vec3f& p) { return math::Vec2f(0.5f + p[0] / 40.f, 0.5f + p[1] / 40.f); };
  const auto red = [](const Vec3f& p) { return 128.0 + 10.0 * p[2]; };
  for (const Vec3f& p : mesh.positions) {
    mesh.texCoords.push_back(uv(p));
    mesh.colors.emplace_back(std::uint8_t(std::lround(red(p))), 7, 9, 255);
    mesh.normals.push_back(p.GetNormalized());
  }
  EXPECT_LE(SimplifyMesh(mesh, 500), 500u);
  EXPECT_GE(mesh.NumTriangles(), 480u);
  ASSERT_TRUE(mesh.IsValid());
  EXPECT_TRUE(testing::IsClosedAndOriented(mesh.indices));
  // The sagitta of the largest triangle bounds how far the coarse surface
  // may lie from the sphere: its circumradius r gives r²/(2·radius).
  double maxEdge = 0.0;
  for (std::size_t k = 0; k < mesh.indices.size(); k += 3) {
    for (int e = 0; e < 3; ++e) {
      maxEdge = std::max(maxEdge, double((mesh.positions[mesh.indices[k + e]] -
                                          mesh.positions[mesh.indices[k + (e + 1) % 3]]).Length()));
    }
  }
  const double sagitta = maxEdge * maxEdge / (2.0 * radius);
  for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
    const Vec3f& p = mesh.positions[i];
    ASSERT_NEAR(p.Length(), radius, sagitta) << i;
    ASSERT_GT(Dot(mesh.normals[i], p.GetNormalized()), 0.95f) << i;
    // An attribute is interpolated at the new vertex's projection onto the
    // collapsed edge, at most a sagitta from the vertex itself.
    ASSERT_NEAR(mesh.texCoords[i][0], uv(p)[0], sagitta / 40.0 + 1e-5) << i;
    ASSERT_NEAR(mesh.texCoords[i][1], uv(p)[1], sagitta / 40.0 + 1e-5) << i;
    ASSERT_NEAR(mesh.colors[i].r, red(p), 10.0 * sagitta + 3.0) << i;
    ASSERT_EQ(mesh.colors[i].g, 7);
  }
  // Two-sided: the fine vertices lie near the coarse surface too.
  for (const Vec3f& p : fine.positions) ASSERT_LT(DistanceToMesh(Vec3d(p), mesh), sagitta);
}

TEST(SimplifyMesh, KeepsTheOutlineOfAnOpenGrid) {
  MeshArrays grid = testing::MakeGrid(10, 10, false);
  SimplifyMesh(grid, 20);
  EXPECT_LE(grid.NumTriangles(), 40u);
  // The corners survive and everything stays in the plane.
  for (const Vec3f corner : {Vec3f(0, 0, 0), Vec3f(10, 0, 5), Vec3f(0, 10, -2.5f), Vec3f(10, 10, 2.5f)}) {
    double nearest = 1e9;
    for (const Vec3f& p : grid.positions) nearest = std::min(nearest, double((p - corner).Length()));
    EXPECT_LT(nearest, 1e-4) << corner;
  }
  for (const Vec3f& p : grid.positions) {
    EXPECT_NEAR(p[2], 0.5f * p[0] - 0.25f * p[1], 1e-4f);
    EXPECT_NEAR(grid.texCoords[&p - grid.positions.data()][0], p[0] / 10.f, 1e-4f);
  }
}

TEST(MeshEditing, RejectsBadIndices) {
  MeshArrays mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.indices = {0, 1, 3};
  EXPECT_THROW(ShrinkMesh(mesh), std::invalid_argument);
  EXPECT_THROW(Smoothing(mesh, true), std::invalid_argument);
  EXPECT_THROW(MakeDelaunay(mesh), std::invalid_argument);
  EXPECT_THROW(SimplifyMesh(mesh, 0), std::invalid_argument);
}

TEST(CloseBoundaryLoops, CapsAnOpenTube) {
  // A tube of 16 segments and 3 rings, open at both ends.
  MeshArrays tube;
  const int segments = 16, rings = 3;
  for (int r = 0; r < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      const double a = 2.0 * 3.14159265358979 * s / segments;
      tube.positions.emplace_back(float(5.0 * std::cos(a)), float(5.0 * std::sin(a)), float(r));
    }
  }
  for (int r = 0; r + 1 < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      const std::uint32_t a = r * segments + s, b = r * segments + (s + 1) % segments, c = a + segments,
                          d = b + segments;
      tube.indices.insert(tube.indices.end(), {a, b, d, a, d, c});
    }
  }
  const std::size_t vertices = tube.positions.size();
  EXPECT_EQ(CloseBoundaryLoops(tube.positions, tube.indices), 2u);
  EXPECT_EQ(tube.positions.size(), vertices);  // convex caps need no extra vertex
  EXPECT_TRUE(testing::IsClosedAndOriented(tube.indices));
  // The caps face outwards: down at z = 0, up at the top.
  const std::size_t side = 2 * segments * (rings - 1);
  for (std::size_t k = 3 * side; k < tube.indices.size(); k += 3) {
    const Vec3f& a = tube.positions[tube.indices[k]];
    const Vec3f n = (tube.positions[tube.indices[k + 1]] - a) ^ (tube.positions[tube.indices[k + 2]] - a);
    EXPECT_GT(n[2] * (a[2] - 1.0f), 0.f) << k;
  }
  EXPECT_EQ(CloseBoundaryLoops(tube.positions, tube.indices), 0u);
}

// A flat patch of two triangles is its own border: the back side must use
// the other diagonal, or the patch's diagonal gets four triangles. Both
// diagonals, and every start of the loop, are tried.
TEST(CloseBoundaryLoops, NeverReusesAnEdgeTheMeshHas) {
  for (const bool otherDiagonal : {false, true}) {
    for (std::uint32_t shift = 0; shift < 4; ++shift) {
      MeshArrays patch;
      for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint32_t corner = (k + shift) % 4;
        patch.positions.emplace_back(float(corner == 1 || corner == 2), float(corner >= 2), 0.f);
      }
      const auto at = [&](std::uint32_t corner) { return (corner + 4 - shift) % 4; };
      patch.indices = otherDiagonal
                          ? std::vector<std::uint32_t>{at(0), at(1), at(3), at(1), at(2), at(3)}
                          : std::vector<std::uint32_t>{at(0), at(1), at(2), at(0), at(2), at(3)};
      EXPECT_EQ(CloseBoundaryLoops(patch.positions, patch.indices), 1u);
      EXPECT_TRUE(testing::IsClosedAndOriented(patch.indices)) << otherDiagonal << " " << shift;
    }
  }
}

}  // namespace
}  // namespace surf
