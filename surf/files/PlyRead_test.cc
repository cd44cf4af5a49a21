#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <sstream>

#include "surf/files/PlyFile.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec2f;
using math::Vec3f;

const ImportOptions kQuiet{{}, nullptr};

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Parses text; the error line, when it fails, goes to error.
bool Parse(const std::string& text, MeshArrays& mesh, std::string* error = nullptr) {
  std::ostringstream captured;
  std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
  const bool ok = ParsePly(Bytes(text), mesh, kQuiet, "t.ply");
  std::cerr.rdbuf(old);
  if (error) *error = captured.str();
  return ok;
}

template <typename T>
void PutBigEndian(std::string& out, T value) {
  auto bits = std::bit_cast<std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>(value);
  if constexpr (sizeof(T) == 2) bits = __builtin_bswap16(bits);
  if constexpr (sizeof(T) == 4) bits = __builtin_bswap32(bits);
  if constexpr (sizeof(T) == 8) bits = __builtin_bswap64(bits);
  out.append(reinterpret_cast<const char*>(&bits), sizeof(T));
}

TEST(LoadPly, ReadsBackWhatSavePlyWritesInBothEncodings) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(4, 3, true, 12, 9);
  ASSERT_TRUE(SavePly(folder / "b.ply", grid, PlyEncoding::kBinary));
  MeshArrays binary;
  ASSERT_TRUE(LoadPly(folder / "b.ply", binary, kQuiet));
  EXPECT_EQ(binary.positions, grid.positions);
  EXPECT_EQ(binary.indices, grid.indices);
  EXPECT_EQ(binary.normals, grid.normals);
  EXPECT_EQ(binary.colors, grid.colors);
  ASSERT_EQ(binary.texCoords.size(), grid.texCoords.size());
  for (std::size_t i = 0; i < grid.texCoords.size(); ++i) {
    EXPECT_EQ(binary.texCoords[i][0], grid.texCoords[i][0]);
    EXPECT_NEAR(binary.texCoords[i][1], grid.texCoords[i][1], 2e-7f);  // 1 − v twice
  }
  ASSERT_TRUE(binary.texture.SameSize(grid.texture));  // from "comment TextureFile b.png"
  EXPECT_TRUE(std::equal(binary.texture.data, binary.texture.data + binary.texture.size, grid.texture.data));

  ASSERT_TRUE(SavePly(folder / "a.ply", grid, PlyEncoding::kAscii));
  MeshArrays ascii;
  ASSERT_TRUE(LoadPly(folder / "a.ply", ascii, kQuiet));
  EXPECT_EQ(ascii.positions, grid.positions);  // shortest round-trip form
  EXPECT_EQ(ascii.indices, grid.indices);
  EXPECT_TRUE(ascii.normals.empty() && ascii.colors.empty() && ascii.texCoords.empty());
}

// As other programs write it: comments and obj_info, CRLF line ends, float
// texture coordinates named s/t, extra vertex and face properties, an extra
// element between vertices and faces, polygons of four and five corners.
TEST(ParsePly, AsciiOfOtherProgramsWithPolygonsAndExtraProperties) {
  const std::string text =
      "ply\r\nformat ascii 1.0\r\ncomment made elsewhere\r\nobj_info some info\r\ncomment TEXTUREFILE my tex.png\r\n"
      "element vertex 6\r\nproperty float x\r\nproperty float y\r\nproperty float z\r\n"
      "property uchar red\r\nproperty uchar green\r\nproperty uchar blue\r\n"
      "property float quality\r\nproperty float s\r\nproperty float t\r\n"
      "element material 2\r\nproperty list uchar int ids\r\nproperty double shine\r\n"
      "element face 2\r\nproperty uchar flags\r\nproperty list uchar int vertex_indices\r\n"
      "property list uchar float texcoord\r\nend_header\r\n"
      "0 0 0 255 0 0 0.5 0 0\r\n1 0 0 0 255 0 0.5 1 0\r\n1 1 0 0 0 255 0.5 1 1\r\n"
      "0 1 0 10 20 30 0.5 0 1\r\n2 0 0 1 2 3 0.5 0.25 0.75\r\n2 1 1e-1 4 5 6 0.5 1 0.5\r\n"
      "2 1 2 12.5\r\n0 3.5\r\n"
      "0 4 0 1 2 3 8 0 0 1 0 1 1 0 1\r\n"
      "1 5 1 4 5 2 2 10 10 10 10 10 10 10 10 10 10 10\r\n";
  MeshArrays mesh;
  std::string texture;
  std::ostringstream captured;
  std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
  const bool ok = ParsePly(Bytes(text), mesh, kQuiet, "t.ply", &texture);
  std::cerr.rdbuf(old);
  ASSERT_TRUE(ok) << captured.str();
  EXPECT_EQ(texture, "my tex.png");  // the rest of the line, in any case of the keyword
  ASSERT_EQ(mesh.positions.size(), 6u);
  EXPECT_EQ(mesh.positions[5], Vec3f(2.f, 1.f, 0.1f));
  EXPECT_EQ(mesh.colors[3], v3d::Color4ub(10, 20, 30, 255));
  // The quad becomes (0 1 2) (0 2 3), the pentagon (1 4 5) (1 5 2) (1 2 2).
  EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2, 0, 2, 3, 1, 4, 5, 1, 5, 2, 1, 2, 2}));
  // Per-vertex coordinates win over the faces' texcoord lists; v is flipped.
  ASSERT_EQ(mesh.texCoords.size(), 6u);
  EXPECT_EQ(mesh.texCoords[4], Vec2f(0.25f, 0.25f));
  EXPECT_TRUE(mesh.normals.empty());
}

TEST(ParsePly, BigEndianDoublesShortsAndFloatColours) {
  std::string text =
      "ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty double x\nproperty double y\n"
      "property double z\nproperty float nx\nproperty float ny\nproperty float nz\nproperty float red\n"
      "property float green\nproperty float blue\nproperty int16 extra\n"
      "element face 1\nproperty list uint16 uint32 vertex_index\nend_header\n";
  const double xyz[3][3] = {{1.5, -2.25, 1e3}, {0.0, 1.0, 2.0}, {-7.0, 8.0, 9.0}};
  const float rgb[3][3] = {{1.f, 0.f, 0.5f}, {2.f, -1.f, 0.2f}, {0.f, 0.f, 0.f}};
  for (int i = 0; i < 3; ++i) {
    for (double v : xyz[i]) PutBigEndian(text, v);
    for (float n : {0.f, 0.f, 1.f}) PutBigEndian(text, n);
    for (float c : rgb[i]) PutBigEndian(text, c);
    PutBigEndian(text, std::int16_t(-5));
  }
  PutBigEndian(text, std::uint16_t(3));
  for (std::uint32_t i : {2u, 1u, 0u}) PutBigEndian(text, i);

  MeshArrays mesh;
  std::string error;
  ASSERT_TRUE(Parse(text, mesh, &error)) << error;
  EXPECT_EQ(mesh.positions[0], Vec3f(1.5f, -2.25f, 1000.f));
  EXPECT_EQ(mesh.normals[2], Vec3f(0.f, 0.f, 1.f));
  // Float colours are fractions of 255, rounded and clamped.
  EXPECT_EQ(mesh.colors[0], v3d::Color4ub(255, 0, 128, 255));
  EXPECT_EQ(mesh.colors[1], v3d::Color4ub(255, 0, 51, 255));
  EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{2, 1, 0}));
}

// Corners of two triangles that share a vertex with different texture
// coordinates: the shared vertex is split, the others are not.
TEST(ParsePly, PerCornerTextureCoordinatesSplitOnlyWhereTheyDiffer) {
  const std::string text =
      "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
      "element face 2\nproperty list uchar int vertex_indices\nproperty list uchar float texcoord\nend_header\n"
      "0 0 0\n1 0 0\n1 1 0\n0 1 0\n"
      "3 0 1 2 6 0 0 0.5 0 0.5 1\n"
      "3 0 2 3 6 0 0 0.9 1 0 1\n";
  MeshArrays mesh;
  ASSERT_TRUE(Parse(text, mesh));
  // Vertex 0 keeps one coordinate; vertex 2 has (0.5, 1) and (0.9, 1).
  ASSERT_EQ(mesh.positions.size(), 5u);
  ASSERT_EQ(mesh.NumTriangles(), 2u);
  for (std::size_t c = 0; c < 6; ++c) {
    const std::uint32_t original[] = {0, 1, 2, 0, 2, 3};
    const Vec3f corners[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    EXPECT_EQ(mesh.positions[mesh.indices[c]], corners[original[c]]);
  }
  EXPECT_EQ(mesh.indices[0], mesh.indices[3]);
  EXPECT_NE(mesh.indices[2], mesh.indices[4]);
  EXPECT_EQ(mesh.texCoords[mesh.indices[4]], Vec2f(0.9f, 0.f));
}

TEST(ParsePly, VerticesWithoutFacesAreAPointCloud) {
  MeshArrays mesh;
  ASSERT_TRUE(Parse("ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
                    "property float z\nend_header\n1 2 3\n4 5 6",  // no line end after the last value
                    mesh));
  EXPECT_EQ(mesh.positions.size(), 2u);
  EXPECT_TRUE(mesh.indices.empty());
}

// Each bad file fails with a message naming the file, the place and the fault.
TEST(ParsePly, BadFilesNameTheirFaultAndPlace) {
  const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {"", "line 1: the file is empty"},
      {"solid cube\n", "line 1: the file does not start with \"ply\""},
      {"ply\nformat binary_middle_endian 1.0\nend_header\n", "line 2: unknown format \"binary_middle_endian\""},
      {"ply\nformat ascii 2.0\nend_header\n", "line 2: unsupported version"},
      {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz, "the header has no \"end_header\" line"},
      {"ply\nelement vertex 1\n" + xyz + "end_header\n1 2 3\n", "no \"format\" line"},
      {"ply\nformat ascii 1.0\nproperty float x\nend_header\n", "line 3: a property before the first element"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty quad x\nend_header\n", "line 4: unknown type \"quad\""},
      {"ply\nformat ascii 1.0\nelement vertex -1\nend_header\n", "line 3: the count \"-1\""},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty list uchar float x\nproperty float y\n"
       "property float z\nend_header\n1 1 2 3\n",
       "line 4: property \"x\" of element \"vertex\" is a list where a scalar is expected"},
      {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "element face 1\nproperty int vertex_indices\n"
       "end_header\n1 2 3\n0\n",
       "is a scalar where a list is expected"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float y\nproperty float z\nend_header\n1 2\n",
       "no \"x\" property"},
      {"ply\nformat ascii 1.0\nelement face 0\nproperty list uchar int vertex_indices\nend_header\n",
       "there is no \"vertex\" element"},
      {"ply\nformat ascii 1.0\nelement vertex 3\n" + xyz + "element face 1\n"
       "property list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
       "line 13: face 0 uses vertex 3, but the file has 3 vertices (0 to 2)"},
      {"ply\nformat ascii 1.0\nelement vertex 2\n" + xyz + "end_header\n0 0 0\n1 zero 0\n",
       "line 9: \"zero\" is not a number inside element \"vertex\" (instance 2 of 2)"},
      {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "element face 1\n"
       "property list char int vertex_indices\nend_header\n0 0 0\n-2 0 0\n",
       "the list \"vertex_indices\" has a negative count"},
      {"ply\nformat binary_little_endian 1.0\nelement vertex 2\n" + xyz + "end_header\n" + std::string(24, '\0') +
           "tail",
       "ok"},
  };
  for (const Case& c : cases) {
    MeshArrays mesh;
    std::string error;
    const bool ok = Parse(c.text, mesh, &error);
    if (c.expected == "ok") {
      EXPECT_TRUE(ok) << error;  // bytes after the last element are ignored
      continue;
    }
    EXPECT_FALSE(ok) << c.text;
    EXPECT_NE(error.find("Error: LoadPly - t.ply: "), std::string::npos) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << "expected \"" << c.expected << "\" in " << error;
    EXPECT_TRUE(mesh.positions.empty());
  }
}

// A header that declares four billion vertices in a file of a few hundred
// bytes is refused before anything is reserved.
TEST(ParsePly, CountsBeyondTheFileSizeFailAtOnce) {
  const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
  for (const char* format : {"ascii", "binary_little_endian"}) {
    MeshArrays mesh;
    std::string error;
    const std::string text = std::string("ply\nformat ") + format + " 1.0\nelement vertex 4000000000\n" + xyz +
                             "element face 1\nproperty list uchar int vertex_indices\nend_header\n" +
                             std::string(900, '1');
    EXPECT_FALSE(Parse(text, mesh, &error));
    EXPECT_NE(error.find("line 3: element \"vertex\" declares 4000000000 instances"), std::string::npos) << error;
  }
}

// Every prefix of a valid binary file and files with random bytes changed
// fail cleanly or give a valid mesh; never a crash.
TEST(ParsePly, TruncatedAndCorruptFilesFailCleanly) {
  testing::TempFolder folder;
  MeshArrays grid = testing::MakeGrid(3, 2, false);
  ASSERT_TRUE(SavePly(folder / "g.ply", grid, PlyEncoding::kBinary));
  const std::string whole = testing::ReadFileBytes(folder / "g.ply");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    MeshArrays mesh;
    std::string error;
    EXPECT_FALSE(Parse(whole.substr(0, n), mesh, &error)) << n;
    EXPECT_FALSE(error.empty());
  }
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::string corrupt = whole;
    for (int k = 0; k < 4; ++k) corrupt[random() % corrupt.size()] = static_cast<char>(random());
    MeshArrays mesh;
    if (Parse(corrupt, mesh)) {
      EXPECT_TRUE(mesh.IsValid());
    }
  }
}

TEST(LoadPly, MissingFilesAndTexturesAreReported) {
  testing::TempFolder folder;
  MeshArrays mesh;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadPly(folder / "none.ply", mesh, kQuiet));
  EXPECT_FALSE(LoadPly(folder.Path(), mesh, kQuiet));
  const std::string refused = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(refused.find("Can't open " + (folder / "none.ply").string() + " (No such file"), std::string::npos);
  EXPECT_NE(refused.find("(it is a folder)"), std::string::npos) << refused;
  testing::WriteFileBytes(folder / "empty.ply", "");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadPly(folder / "empty.ply", mesh, kQuiet));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("line 1: the file is empty"), std::string::npos);

  // A texture named in the header but absent: the mesh loads without it.
  MeshArrays grid = testing::MakeGrid(2, 2, true, 4, 4);
  ASSERT_TRUE(SavePly(folder / "t.ply", grid, PlyEncoding::kBinary));
  std::filesystem::remove(folder / "t.png");
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(LoadPly(folder / "t.ply", mesh, kQuiet));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("could not be read; the mesh is loaded without it"), std::string::npos);
  EXPECT_TRUE(mesh.texture.IsEmpty());
  EXPECT_EQ(mesh.texCoords.size(), grid.texCoords.size());
}

}  // namespace
}  // namespace surf
