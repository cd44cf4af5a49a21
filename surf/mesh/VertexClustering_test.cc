#include "surf/mesh/VertexClustering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace surf {
namespace {

// A z = 0 grid of n × n vertices at the given spacing, two triangles per
// cell, normals +z.
MeshArrays Grid(int n, float spacing) {
  MeshArrays mesh;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      mesh.positions.push_back({x * spacing + 0.013f, y * spacing + 0.017f, 0.f});
      mesh.normals.push_back({0.f, 0.f, 1.f});
    }
  for (int y = 0; y + 1 < n; ++y)
    for (int x = 0; x + 1 < n; ++x) {
      const auto i = std::uint32_t(y * n + x);
      mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + std::uint32_t(n), i + 1, i + std::uint32_t(n) + 1,
                                               i + std::uint32_t(n)});
    }
  return mesh;
}

double MeanEdge(const MeshArrays& m) {
  double sum = 0.0;
  for (std::size_t t = 0; t < m.indices.size(); t += 3)
    for (int k = 0; k < 3; ++k)
      sum += (math::Vec3d(m.positions[m.indices[t + k]]) - math::Vec3d(m.positions[m.indices[t + (k + 1) % 3]]))
                 .Length();
  return sum / double(m.indices.size());
}

TEST(ClusterVertices, DenseGridBecomesOneVertexPerCellWithEdgesOfTheCellSize) {
  const MeshArrays dense = Grid(200, 0.1f);  // 20 mm square
  const MeshArrays coarse = ClusterVertices(dense, 1.0);
  ASSERT_TRUE(coarse.IsValid());
  EXPECT_EQ(coarse.positions.size(), 400u);  // 20 × 20 cells of 10 × 10 vertices
  EXPECT_NEAR(MeanEdge(coarse), 1.0 * (2.0 + std::sqrt(2.0)) / 3.0, 0.05);
  for (const auto& n : coarse.normals) EXPECT_FLOAT_EQ(n[2], 1.f);
  // A cell's vertex is the mean of its ten by ten grid points.
  for (const auto& p : coarse.positions) {
    EXPECT_NEAR(std::fmod(double(p[0]) - 0.013, 1.0), 0.45, 1e-4);
    EXPECT_FLOAT_EQ(p[2], 0.f);
  }
  std::set<std::array<std::uint32_t, 3>> triangles;
  for (std::size_t t = 0; t < coarse.indices.size(); t += 3) {
    std::array<std::uint32_t, 3> k{coarse.indices[t], coarse.indices[t + 1], coarse.indices[t + 2]};
    EXPECT_TRUE(k[0] != k[1] && k[1] != k[2] && k[0] != k[2]);
    std::sort(k.begin(), k.end());
    EXPECT_TRUE(triangles.insert(k).second) << "duplicate triangle";
  }
  // Orientation is kept: every triangle still faces +z.
  for (std::size_t t = 0; t < coarse.indices.size(); t += 3) {
    const math::Vec3f a = coarse.positions[coarse.indices[t]], b = coarse.positions[coarse.indices[t + 1]],
                      c = coarse.positions[coarse.indices[t + 2]];
    EXPECT_GT(((b - a) ^ (c - a))[2], 0.f);
  }
}

TEST(ClusterVertices, NonFiniteVerticesAreDroppedWithTheirTriangles) {
  MeshArrays mesh = Grid(3, 1.0f);
  mesh.positions[4][0] = std::numeric_limits<float>::quiet_NaN();  // the centre vertex
  const MeshArrays out = ClusterVertices(mesh, 0.5);
  EXPECT_EQ(out.positions.size(), 8u);
  EXPECT_EQ(out.NumTriangles(), 2u);  // of the eight, only the two corner triangles avoid the centre
}

TEST(ClusterVertices, BadArgumentsThrow) {
  const MeshArrays mesh = Grid(3, 1.0f);
  EXPECT_THROW(ClusterVertices(mesh, 0.0), std::invalid_argument);
  EXPECT_THROW(ClusterVertices(mesh, std::numeric_limits<double>::infinity()), std::invalid_argument);
  MeshArrays broken = mesh;
  broken.indices.push_back(99);
  EXPECT_THROW(ClusterVertices(broken, 1.0), std::invalid_argument);
  EXPECT_TRUE(ClusterVertices(MeshArrays(), 1.0).positions.empty());
}

}  // namespace
}  // namespace surf
