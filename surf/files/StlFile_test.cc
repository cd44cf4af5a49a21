#include "surf/files/StlFile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec3f;

// A binary STL file written byte by byte, independent of SaveStl.
std::string StlBytes(const std::vector<std::array<Vec3f, 3>>& triangles, std::uint32_t storedCount) {
  std::string bytes(80, 'h');
  bytes.append(reinterpret_cast<const char*>(&storedCount), 4);
  for (const auto& t : triangles) {
    const float normal[3] = {9.f, 9.f, 9.f};  // ignored by readers
    bytes.append(reinterpret_cast<const char*>(normal), 12);
    for (const Vec3f& v : t) bytes.append(reinterpret_cast<const char*>(v.data()), 12);
    bytes.append("\x01\x02", 2);
  }
  return bytes;
}

std::span<const std::uint8_t> Span(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

const std::vector<std::array<Vec3f, 3>> kTwoTriangles{
    {{{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}}},
    {{{1.f, 0.f, 0.f}, {1.f, 1.f, 0.f}, {0.f, 1.f, 0.f}}}};

ImportOptions Quiet() { return {{}, nullptr}; }

TEST(ParseStl, TwoTrianglesSharingAnEdgeGiveFourVertices) {
  MeshArrays mesh;
  ASSERT_TRUE(ParseStl(Span(StlBytes(kTwoTriangles, 2)), mesh, Quiet()));
  ASSERT_EQ(mesh.positions.size(), 4u);
  EXPECT_EQ(mesh.positions[3], Vec3f(1.f, 1.f, 0.f));
  EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2, 1, 3, 2}));
  EXPECT_TRUE(mesh.normals.empty());
}

TEST(ParseStl, AcceptsOnlyTheExactSizeAndLeavesTheMeshUnchanged) {
  MeshArrays mesh = testing::MakeGrid(1, 1, false);
  const MeshArrays before = mesh;
  const std::string good = StlBytes(kTwoTriangles, 2);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(ParseStl(Span(good + "x"), mesh, Quiet()));            // 84 + 50·n + 1
  EXPECT_FALSE(ParseStl(Span(good.substr(0, 133)), mesh, Quiet()));   // truncated
  EXPECT_FALSE(ParseStl(Span(good.substr(0, 83)), mesh, Quiet()));    // no count
  // 84 + 50·n overflows 32 bits for this count; the file is only 184 bytes.
  EXPECT_FALSE(ParseStl(Span(StlBytes(kTwoTriangles, 0xFFFFFFFFu)), mesh, Quiet()));
  EXPECT_FALSE(ParseStl(Span(StlBytes(kTwoTriangles, 85899346u)), mesh, Quiet()));
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("The file has 185 bytes, a binary STL file of 2 triangles has 184."), std::string::npos);
  EXPECT_EQ(mesh.positions, before.positions);
  EXPECT_EQ(mesh.indices, before.indices);
}

TEST(ParseStl, RejectsAsciiStlAndReadsAnEmptyBinaryFile) {
  const std::string ascii = "solid cube\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n"
                            "   vertex 1 0 0\n   vertex 0 1 0\n  endloop\n endfacet\nendsolid cube\n";
  MeshArrays mesh;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(ParseStl(Span(ascii), mesh, Quiet()));
  ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ParseStl(Span(StlBytes({}, 0)), mesh, Quiet()));
  EXPECT_TRUE(mesh.positions.empty());
}

TEST(ParseStl, PrintsMarksAndHonoursCancellation) {
  std::ostringstream marks;
  MeshArrays mesh;
  ASSERT_TRUE(ParseStl(Span(StlBytes(kTwoTriangles, 2)), mesh, {{}, &marks}));
  EXPECT_EQ(marks.str(), ">>>>>>>\n");  // one per record reported, then ">>>>>"
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(ParseStl(Span(StlBytes(kTwoTriangles, 2)), mesh, {[](double) { return true; }, nullptr}));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Cancelled"), std::string::npos);
}

TEST(SaveStl, WritesTheHeaderTextUnitNormalsAndReadsBack) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(4, 3, false);
  ASSERT_TRUE(SaveStl(folder / "grid.stl", grid));
  const std::string bytes = testing::ReadFileBytes(folder / "grid.stl");
  ASSERT_EQ(bytes.size(), 84u + 50u * grid.NumTriangles());
  EXPECT_EQ(bytes.substr(0, sizeof(kStlHeaderText) - 1), kStlHeaderText);
  EXPECT_EQ(bytes[sizeof(kStlHeaderText) - 1], '\0');
  Vec3f normal;
  std::memcpy(normal.data(), bytes.data() + 84, 12);
  // The plane z = 0.5·x − 0.25·y has the normal (−0.5, 0.25, 1)/|…|.
  const Vec3f expected = Vec3f(-0.5f, 0.25f, 1.f).GetNormalized();
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(normal[k], expected[k], 1e-6f);

  MeshArrays back;
  ASSERT_TRUE(LoadStl(folder / "grid.stl", back, Quiet()));
  ASSERT_EQ(back.positions.size(), grid.positions.size());
  ASSERT_EQ(back.indices.size(), grid.indices.size());
  for (std::size_t i = 0; i < grid.indices.size(); ++i) {
    EXPECT_EQ(back.positions[back.indices[i]], grid.positions[grid.indices[i]]) << i;
  }
}

TEST(LoadStl, ReportsAFileThatCannotBeOpened) {
  MeshArrays mesh;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadStl("/nonexistent/part.stl", mesh, Quiet()));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Can't open /nonexistent/part.stl\n");
}

}  // namespace
}  // namespace surf
