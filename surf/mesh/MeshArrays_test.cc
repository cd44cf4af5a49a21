#include "surf/mesh/MeshArrays.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "surf/mesh/GeoItem.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec3f;

TEST(UnifyIdenticalVertices, TwoTrianglesSharingAnEdgeKeepFourVertices) {
  // Two separate triangles as STL stores them: six vertices, two shared.
  const std::vector<Vec3f> positions{{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f},
                                     {1.f, 0.f, 0.f}, {1.f, 1.f, 0.f}, {0.f, 1.f, 0.f}};
  const VertexUnification u = UnifyIdenticalVertices(positions, {0, 1, 2, 3, 4, 5});
  EXPECT_EQ(u.numVertices, 4u);
  EXPECT_EQ(u.indices, (std::vector<std::uint32_t>{0, 1, 2, 1, 3, 2}));
  EXPECT_EQ(u.mapping, (std::vector<std::int32_t>{0, 1, 2, -1, 3, -1}));
  EXPECT_EQ(u.keptTriangles, (std::vector<std::uint32_t>{0, 1}));
}

TEST(UnifyIdenticalVertices, MergesOnlyEqualCoordinatesAndSignedZeros) {
  const float next = std::nextafter(1.f, 2.f);
  const std::vector<Vec3f> positions{{0.f, 0.f, 1.f}, {-0.f, 0.f, 1.f}, {0.f, 0.f, next}, {5.f, 5.f, 5.f}};
  // Triangle (0, 2, 3) and (1, 2, 3): vertex 1 equals vertex 0 (−0 = +0),
  // vertex 2 differs by one ulp and survives.
  const VertexUnification u = UnifyIdenticalVertices(positions, {0, 2, 3, 1, 3, 2});
  EXPECT_EQ(u.numVertices, 3u);
  EXPECT_EQ(u.mapping, (std::vector<std::int32_t>{0, -1, 1, 2}));
  EXPECT_EQ(u.indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 1}));
}

TEST(UnifyIdenticalVertices, DropsDegenerateTrianglesUnusedVerticesAndNeverMergesNaN) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Vec3f> positions{{0.f, 0.f, 0.f}, {0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {9.f, 9.f, 9.f},
                                     {nan, 0.f, 0.f}, {nan, 0.f, 0.f}};
  // (0, 1, 2) collapses; (2, 4, 5) keeps its two NaN vertices apart; 3 is unused.
  const VertexUnification u = UnifyIdenticalVertices(positions, {0, 1, 2, 2, 4, 5});
  EXPECT_EQ(u.keptTriangles, (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(u.mapping, (std::vector<std::int32_t>{-1, -1, 0, -1, 1, 2}));
  EXPECT_EQ(u.indices, (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST(UnifyIdenticalVertices, RejectsIndicesPastTheVerticesAndRemapsOfTheWrongSize) {
  EXPECT_THROW(UnifyIdenticalVertices(std::vector<Vec3f>(2), {0, 1, 2}), std::invalid_argument);
  const VertexUnification u = UnifyIdenticalVertices({{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}}, {0, 1, 2});
  EXPECT_THROW(u.Remap(std::vector<float>(2)), std::invalid_argument);
}

TEST(UnifyIdenticalVertices, ArraysKeepTheAttributesOfTheFirstOccurrence) {
  MeshArrays mesh;
  mesh.positions = {{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}, {1.f, 0.f, 0.f}};
  mesh.colors = {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
  mesh.indices = {0, 3, 2};
  UnifyIdenticalVertices(mesh);
  ASSERT_EQ(mesh.positions.size(), 3u);
  EXPECT_EQ(mesh.colors[1], v3d::Color4ub(2, 0, 0));
  EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2}));
}

TEST(MeshArrays, IsValidNamesTheFault) {
  MeshArrays mesh = testing::MakeGrid(2, 2, false);
  std::string error;
  EXPECT_TRUE(mesh.IsValid(&error));
  mesh.indices.push_back(0);
  EXPECT_FALSE(mesh.IsValid(&error));
  EXPECT_NE(error.find("whole triangles"), std::string::npos);
  mesh.indices.insert(mesh.indices.end(), {1, 9});
  EXPECT_FALSE(mesh.IsValid(&error));
  EXPECT_NE(error.find("index 9"), std::string::npos);
  mesh.indices.resize(mesh.indices.size() - 3);
  mesh.normals.pop_back();
  EXPECT_FALSE(mesh.IsValid(&error));
  EXPECT_NE(error.find("normals"), std::string::npos);
}

TEST(GeoItem, ArraysSurviveAGeoAndComeBackWithTheFrameApplied) {
  const MeshArrays grid = testing::MakeGrid(3, 2);
  GeoItem item = MakeGeoItem(grid);
  ASSERT_EQ(item.textures.size(), 1u);
  EXPECT_EQ(item.geo->GetMesh(0)->GetTextureID(), 0);
  MeshArrays back = FlattenGeoItem(item);
  EXPECT_EQ(back.positions, grid.positions);
  EXPECT_EQ(back.indices, grid.indices);
  EXPECT_EQ(back.texCoords, grid.texCoords);
  EXPECT_EQ(back.colors, grid.colors);
  ASSERT_TRUE(back.texture.SameSize(grid.texture));
  EXPECT_TRUE(std::equal(back.texture.data, back.texture.data + back.texture.size, grid.texture.data));

  // A translation by (10, 20, 30) moves positions, not normals.
  math::Frame4d frame;
  frame.SetTrans(10.0, 20.0, 30.0);
  item.geo->SetFrame(frame);
  back = FlattenGeoItem(item);
  EXPECT_EQ(back.positions[4], grid.positions[4] + Vec3f(10.f, 20.f, 30.f));
  EXPECT_EQ(back.normals[4], grid.normals[4]);
}

TEST(GeoItem, FlatteningSplitsQuadsSkipsLinesAndDropsAttributesNotEveryMeshHas) {
  GeoItem item = MakeGeoItem(testing::MakeGrid(1, 1, false));
  v3d::Mesh& quads = *item.geo->AddMesh(4);
  for (int i = 0; i < 4; ++i) quads.AddVertex(Vec3f(float(i), 5.f, 0.f));
  quads.AddPrim(0, 1, 2, 3);
  v3d::Mesh& lines = *item.geo->AddMesh(2);
  lines.AddVertex(Vec3f(0.f, 0.f, 0.f));
  lines.AddVertex(Vec3f(1.f, 0.f, 0.f));
  lines.AddPrim(0, 1);
  const MeshArrays flat = FlattenGeoItem(item);
  EXPECT_EQ(flat.positions.size(), 8u);
  EXPECT_EQ(flat.indices, (std::vector<std::uint32_t>{0, 1, 3, 0, 3, 2, 4, 5, 6, 4, 6, 7}));
  EXPECT_TRUE(flat.normals.empty());
  EXPECT_TRUE(flat.texCoords.empty());
}

}  // namespace
}  // namespace surf
