#include "surf/files/ObjFile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "foundation/img/ImageIO.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec2f;
using math::Vec3f;

ImportOptions Quiet() { return {{}, nullptr}; }

bool Parse(const std::string& text, MeshArrays& mesh, const std::filesystem::path& folder = "/nonexistent") {
  std::istringstream in(text);
  return ParseObj(in, folder, mesh, Quiet(), text.size());
}

// Parses text that must fail; returns what went to standard error.
std::string ParseError(const std::string& text) {
  MeshArrays mesh = testing::MakeGrid(1, 1, false);
  const std::size_t before = mesh.positions.size();
  ::testing::internal::CaptureStderr();
  const bool parsed = Parse(text, mesh);
  const std::string error = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(parsed) << text;
  EXPECT_EQ(mesh.positions.size(), before) << "the mesh must stay unchanged";
  return error;
}

const char kSquare[] =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n";

TEST(ParseObj, ReadsTheThreeFaceFormsWithTheSameResult) {
  for (const char* faces : {"f 1/1/1 2/2/2 3/3/3\nf 1/1/1 3/3/3 4/4/4\n", "f 1/1 2/2 3/3\r\nf 1/1 3/3 4/4\r\n"}) {
    MeshArrays mesh;
    ASSERT_TRUE(Parse(std::string(kSquare) + faces, mesh)) << faces;
    EXPECT_EQ(mesh.positions.size(), 4u);
    EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
    ASSERT_EQ(mesh.texCoords.size(), 4u);
    EXPECT_EQ(mesh.texCoords[2], Vec2f(1.f, 0.f));  // v flipped into row order
    EXPECT_EQ(mesh.texCoords[0], Vec2f(0.f, 1.f));
  }
  MeshArrays mesh;
  ASSERT_TRUE(Parse(std::string(kSquare) + "f 1//1 2//2 3//3\nf 1 3 4\n", mesh));
  EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3}));
  EXPECT_TRUE(mesh.texCoords.empty());  // not every corner has one
  // Normals are kept when their indices are the position indices.
  ASSERT_TRUE(Parse(std::string(kSquare) + "f 1/1/1 2/2/2 3/3/3\n", mesh));
  EXPECT_EQ(mesh.normals.size(), 4u);
}

TEST(ParseObj, SplitsAVertexForEachDistinctTextureCoordinate) {
  // A cube-map seam: position 2 is used with two texture coordinates.
  const std::string text =
      "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 2 1 0\n"
      "vt 0 0\nvt 0.5 0\nvt 0.5 1\nvt 0.75 1\nvt 1 0\n"
      "f 1/1 2/2 3/3\nf 2/5 4/4 3/4\n";
  MeshArrays mesh;
  ASSERT_TRUE(Parse(text, mesh));
  // Pairs in order of first use: (1,1) (2,2) (3,3) (2,5) (4,4) (3,4).
  ASSERT_EQ(mesh.positions.size(), 6u);
  EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(mesh.positions[3], Vec3f(1.f, 0.f, 0.f));
  EXPECT_EQ(mesh.texCoords[3], Vec2f(1.f, 1.f));
  EXPECT_EQ(mesh.positions[5], Vec3f(1.f, 1.f, 0.f));
  EXPECT_EQ(mesh.texCoords[5], Vec2f(0.75f, 0.f));
  // The same pair twice is one vertex.
  ASSERT_TRUE(Parse(text + "f 1/1 2/2 4/5\n", mesh));
  EXPECT_EQ(mesh.positions.size(), 7u);
  EXPECT_EQ(mesh.indices[7], 1u);
  EXPECT_EQ(mesh.indices[6], 0u);
}

TEST(ParseObj, BadIndicesCornersAndNumbersGiveTheirMessages) {
  EXPECT_NE(ParseError("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n").find("index error in OBJ"), std::string::npos);
  EXPECT_NE(ParseError("v 0 0 0\nv 1 0 0\nv 0 1 0\nf -1 -2 -3\n").find("index error in OBJ"), std::string::npos);
  EXPECT_NE(ParseError("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n").find("index error in OBJ"), std::string::npos);
  EXPECT_NE(ParseError("v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/2 2/1 3/1\n").find("index error in OBJ"),
            std::string::npos);
  EXPECT_NE(ParseError("v 0 0 0\nf 1/x 1 1\n").find("  index error in OBJ (line 2)"), std::string::npos);
  EXPECT_NE(ParseError("v 0 0 0\nv 1 0 0\nf 99999999999999999999 1 2\n").find("index error"), std::string::npos);
  EXPECT_NE(ParseError("v 0 0 0\nv 1 0 0\nf 1 2\n").find("a face with 2 corners"), std::string::npos);
  EXPECT_NE(ParseError(std::string(kSquare) + "f 1 2 3 4\n").find("a face with 4 corners"), std::string::npos);
  EXPECT_NE(ParseError("v 0 zero 0\n").find("  vertex error in OBJ (line 1)"), std::string::npos);
  EXPECT_NE(ParseError("v 0 0\n").find("  vertex error in OBJ"), std::string::npos);
  EXPECT_NE(ParseError("vt 0.5\n").find("  texture coordinate error in OBJ"), std::string::npos);
  EXPECT_NE(ParseError("vn 0 0 1e99999\n").find("  surface normal error in OBJ"), std::string::npos);
  EXPECT_NE(ParseError("# " + std::string(kMaxObjLineLength + 10, 'x') + "\nv 0 0 0\n").find("a line longer than"),
            std::string::npos);
}

TEST(LoadObj, FindsTheMaterialBesideTheObjAndItsTexture) {
  testing::TempFolder folder;
  std::filesystem::create_directory(folder / "maps");
  const MeshArrays grid = testing::MakeGrid(1, 1, true, 6, 4);
  ASSERT_TRUE(img::SavePNG(grid.texture, folder / "maps/skin.png"));
  testing::WriteFileBytes(folder / "part.mtl", "# material\nnewmtl a\nKd 1 1 1\nMAP_KD maps\\skin.png\n");
  testing::WriteFileBytes(folder / "part.obj", std::string("mtllib part.mtl\n") + kSquare + "f 1/1 2/2 3/3\n");
  MeshArrays mesh;
  ASSERT_TRUE(LoadObj(folder / "part.obj", mesh, Quiet()));
  ASSERT_TRUE(mesh.texture.SameSize(6, 4));
  EXPECT_TRUE(std::equal(mesh.texture.data, mesh.texture.data + mesh.texture.size, grid.texture.data));

  // The texture named by the MTL is missing: the import fails.
  std::filesystem::remove(folder / "maps/skin.png");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadObj(folder / "part.obj", mesh, Quiet()));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Could not load the texture image"), std::string::npos);

  // Without a map_Kd line the mesh loads untextured after "failed!".
  testing::WriteFileBytes(folder / "part.mtl", "newmtl a\nKd 1 1 1\n");
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(LoadObj(folder / "part.obj", mesh, Quiet()));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "failed!\n");
  EXPECT_TRUE(mesh.texture.IsEmpty());
  EXPECT_EQ(mesh.texCoords.size(), 4u);

  // A material "file" that is a device is never read (it could block).
  testing::WriteFileBytes(folder / "device.obj", std::string("mtllib /dev/stdin\n") + kSquare + "f 1 2 3\n");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadObj(folder / "device.obj", mesh, Quiet()));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Can't open material file /dev/stdin"), std::string::npos);

  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadObj(folder / "missing.obj", mesh, Quiet()));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Can't open " + (folder / "missing.obj").string() + "\n");
}

TEST(SaveMtl, WritesTheOneDefaultMaterial) {
  testing::TempFolder folder;
  ASSERT_TRUE(SaveMtl(folder / "a.mtl", "a.png"));
  EXPECT_EQ(testing::ReadFileBytes(folder / "a.mtl"),
            "newmtl default\nKa 0.6 0.6 0.6\nKd 0.6 0.6 0.6\nKs 0.9 0.9 0.9\nd  1.0\nNs 0.0\nillum 2\nmap_Kd a.png\n");
  EXPECT_FALSE(SaveMtl(folder / "no/such/folder/a.mtl", "a.png"));
}

TEST(SaveObj, RoundTripsPositionsTextureCoordinatesNormalsAndTheTextureExactly) {
  testing::TempFolder folder;
  MeshArrays grid = testing::MakeGrid(5, 4, true, 10, 7);
  grid.positions[3] = Vec3f(0.1f, 1e-7f, -123456.789f);  // values without a short decimal form
  grid.colors.clear();
  ASSERT_TRUE(SaveObj(folder / "scan.obj", grid));
  EXPECT_EQ(folder.FileNames(), (std::vector<std::string>{"scan.mtl", "scan.obj", "scan.png"}));
  const std::string text = testing::ReadFileBytes(folder / "scan.obj");
  EXPECT_EQ(text.rfind("# Mesh file generated with Tarvelin Software Pro\nmtllib scan.mtl\nusemtl default\n", 0), 0u);

  MeshArrays back;
  ASSERT_TRUE(LoadObj(folder / "scan.obj", back, Quiet()));
  EXPECT_EQ(back.positions, grid.positions);
  EXPECT_EQ(back.indices, grid.indices);
  EXPECT_EQ(back.normals, grid.normals);
  ASSERT_EQ(back.texCoords.size(), grid.texCoords.size());
  for (std::size_t i = 0; i < grid.texCoords.size(); ++i) {
    // 1 − (1 − v) is exact for the grid's v = k/4.
    EXPECT_EQ(back.texCoords[i], grid.texCoords[i]) << i;
  }
  ASSERT_TRUE(back.texture.SameSize(grid.texture));
  EXPECT_TRUE(std::equal(back.texture.data, back.texture.data + back.texture.size, grid.texture.data));
}

TEST(SaveObj, RejectsATextureQualityOutOfRangeAndKeepsThePreviousFile) {
  testing::TempFolder folder;
  testing::WriteFileBytes(folder / "scan.obj", "previous");
  ObjExportOptions options;
  options.textureFormat = "jpg";
  options.textureQuality = 101;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveObj(folder / "scan.obj", testing::MakeGrid(2, 2), options));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Texture quality is 101, it is out of limit range 1-100\n");
  EXPECT_EQ(testing::ReadFileBytes(folder / "scan.obj"), "previous");
  options.textureQuality = 90;
  ASSERT_TRUE(SaveObj(folder / "scan.obj", testing::MakeGrid(2, 2), options));
  EXPECT_EQ(folder.FileNames(), (std::vector<std::string>{"scan.jpg", "scan.mtl", "scan.obj"}));
}

}  // namespace
}  // namespace surf
