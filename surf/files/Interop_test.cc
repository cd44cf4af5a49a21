// Files written here open in another library's readers (Open3D's OBJ, PLY
// and STL readers), and an STL file written by it loads here. Open3D stays
// inside this one test.

#include <gtest/gtest.h>
#include <open3d/geometry/TriangleMesh.h>
#include <open3d/io/TriangleMeshIO.h>
#include <open3d/utility/Logging.h>

#include "surf/files/ObjFile.h"
#include "surf/files/PlyFile.h"
#include "surf/files/StlFile.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec3f;

Vec3f ToVec(const Eigen::Vector3d& v) {
  return {static_cast<float>(v.x()), static_cast<float>(v.y()), static_cast<float>(v.z())};
}

open3d::geometry::TriangleMesh ReadWithOpen3d(const std::filesystem::path& path) {
  open3d::utility::SetVerbosityLevel(open3d::utility::VerbosityLevel::Error);
  open3d::geometry::TriangleMesh mesh;
  EXPECT_TRUE(open3d::io::ReadTriangleMesh(path.string(), mesh)) << path;
  return mesh;
}

// Every triangle of the other reader has the corners of ours, in order.
void ExpectSameTriangles(const open3d::geometry::TriangleMesh& theirs, const MeshArrays& ours) {
  ASSERT_EQ(theirs.triangles_.size(), ours.NumTriangles());
  for (std::size_t t = 0; t < ours.NumTriangles(); ++t) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(ToVec(theirs.vertices_[theirs.triangles_[t][k]]), ours.positions[ours.indices[3 * t + k]]);
    }
  }
}

TEST(Interop, Open3dReadsOurObjWithMaterialAndTexture) {
  testing::TempFolder folder;
  MeshArrays grid = testing::MakeGrid(4, 3, true, 12, 9);
  grid.colors.clear();
  ASSERT_TRUE(SaveObj(folder / "grid.obj", grid));
  const auto theirs = ReadWithOpen3d(folder / "grid.obj");
  ExpectSameTriangles(theirs, grid);
  // Open3D keeps the file's coordinates: v grows upwards there.
  ASSERT_EQ(theirs.triangle_uvs_.size(), grid.indices.size());
  for (std::size_t c = 0; c < grid.indices.size(); ++c) {
    EXPECT_FLOAT_EQ(theirs.triangle_uvs_[c].x(), grid.texCoords[grid.indices[c]][0]);
    EXPECT_FLOAT_EQ(theirs.triangle_uvs_[c].y(), 1.f - grid.texCoords[grid.indices[c]][1]);
  }
  // Its reader may add an empty texture for a default material of its own.
  std::vector<const open3d::geometry::Image*> textures;
  for (const auto& image : theirs.textures_) {
    if (!image.IsEmpty()) textures.push_back(&image);
  }
  ASSERT_EQ(textures.size(), 1u);
  const open3d::geometry::Image& texture = *textures[0];
  ASSERT_EQ(texture.width_, 12);
  ASSERT_EQ(texture.height_, 9);
  ASSERT_EQ(texture.num_of_channels_, 3);
  // It keeps the image bottom row first, matching its v that grows upwards:
  // both address the same texel.
  for (std::uint32_t y = 0; y < 9; ++y) {
    for (std::uint32_t x = 0; x < 12; ++x) {
      const std::uint8_t* rgb = texture.PointerAt<std::uint8_t>(int(x), int(8 - y), 0);
      EXPECT_EQ(img::RGB8::FromRGB(rgb[0], rgb[1], rgb[2]), grid.texture(x, y));
    }
  }
}

TEST(Interop, Open3dReadsOurPlyInBothEncodings) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(5, 2, false);
  ASSERT_TRUE(SavePly(folder / "ascii.ply", grid, PlyEncoding::kAscii));
  ASSERT_TRUE(SavePly(folder / "binary.ply", grid, PlyEncoding::kBinary));
  ExpectSameTriangles(ReadWithOpen3d(folder / "ascii.ply"), grid);
  const auto binary = ReadWithOpen3d(folder / "binary.ply");
  ExpectSameTriangles(binary, grid);
  ASSERT_EQ(binary.vertex_normals_.size(), grid.positions.size());
  ASSERT_EQ(binary.vertex_colors_.size(), grid.positions.size());
  for (std::size_t i = 0; i < grid.positions.size(); ++i) {
    EXPECT_EQ(ToVec(binary.vertex_normals_[i]), grid.normals[i]);
    EXPECT_DOUBLE_EQ(binary.vertex_colors_[i].x() * 255.0, grid.colors[i].r);
    EXPECT_DOUBLE_EQ(binary.vertex_colors_[i].y() * 255.0, grid.colors[i].g);
    EXPECT_DOUBLE_EQ(binary.vertex_colors_[i].z() * 255.0, grid.colors[i].b);
  }
}

TEST(Interop, AnStlWrittenByOpen3dLoadsWithUnifiedVertices) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(4, 3, false);
  open3d::geometry::TriangleMesh mesh;
  for (const Vec3f& p : grid.positions) mesh.vertices_.emplace_back(p[0], p[1], p[2]);
  for (std::size_t t = 0; t < grid.NumTriangles(); ++t) {
    mesh.triangles_.emplace_back(grid.indices[3 * t], grid.indices[3 * t + 1], grid.indices[3 * t + 2]);
  }
  mesh.ComputeTriangleNormals();
  ASSERT_TRUE(open3d::io::WriteTriangleMesh((folder / "theirs.stl").string(), mesh));

  MeshArrays ours;
  ASSERT_TRUE(LoadStl(folder / "theirs.stl", ours, {{}, nullptr}));
  EXPECT_EQ(ours.positions.size(), 20u);  // (4 + 1) · (3 + 1) after unification
  ASSERT_EQ(ours.NumTriangles(), 24u);
  for (std::size_t c = 0; c < grid.indices.size(); ++c) {
    EXPECT_EQ(ours.positions[ours.indices[c]], grid.positions[grid.indices[c]]);
  }
}

// PLY files as Open3D writes them (its own property names, float colours in
// ASCII, uchar colours in binary) load here with every attribute.
TEST(Interop, PlyWrittenByOpen3dLoadsInBothEncodings) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(4, 3, false);
  open3d::geometry::TriangleMesh mesh;
  for (std::size_t i = 0; i < grid.positions.size(); ++i) {
    const Vec3f& p = grid.positions[i];
    mesh.vertices_.emplace_back(p[0], p[1], p[2]);
    mesh.vertex_normals_.emplace_back(grid.normals[i][0], grid.normals[i][1], grid.normals[i][2]);
    mesh.vertex_colors_.emplace_back(grid.colors[i].r / 255.0, grid.colors[i].g / 255.0, grid.colors[i].b / 255.0);
  }
  for (std::size_t t = 0; t < grid.NumTriangles(); ++t) {
    mesh.triangles_.emplace_back(grid.indices[3 * t], grid.indices[3 * t + 1], grid.indices[3 * t + 2]);
  }
  for (const bool ascii : {true, false}) {
    const auto path = folder / (ascii ? "ascii.ply" : "binary.ply");
    ASSERT_TRUE(open3d::io::WriteTriangleMesh(path.string(), mesh, ascii));
    MeshArrays ours;
    ASSERT_TRUE(LoadPly(path, ours, {{}, nullptr})) << path;
    EXPECT_EQ(ours.indices, grid.indices);
    ASSERT_EQ(ours.positions.size(), grid.positions.size());
    ASSERT_EQ(ours.colors.size(), grid.colors.size());
    ASSERT_EQ(ours.normals.size(), grid.normals.size());
    for (std::size_t i = 0; i < grid.positions.size(); ++i) {
      // Doubles printed as ASCII by Open3D come back to the same float.
      EXPECT_EQ(ours.positions[i], grid.positions[i]);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(ours.normals[i][k], grid.normals[i][k], 1e-6f);  // renormalised
      EXPECT_EQ(ours.colors[i].r, grid.colors[i].r);
      EXPECT_EQ(ours.colors[i].g, grid.colors[i].g);
      EXPECT_EQ(ours.colors[i].b, grid.colors[i].b);
    }
  }
}

}  // namespace
}  // namespace surf
