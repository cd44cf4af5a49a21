#include "surf/fusion/VertexSelection.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <utility>

#include "v3d/Scene.h"

namespace surf {
namespace {

using math::Vec3f;

constexpr v3d::Color4ub kSelection(255, 0, 0, 255);
constexpr int kN = 10;  // grid vertices per side

// A kN × kN grid of vertices (x, y, z) at integer x, y (vertex index
// y·kN + x), each cell split along its (x, y)–(x+1, y+1) diagonal.
std::unique_ptr<v3d::Geo> MakeGridGeo(float z = 0.f) {
  auto geo = std::make_unique<v3d::Geo>();
  v3d::Mesh& mesh = *geo->AddMesh(3);
  mesh.AddVertexNormals();
  for (int y = 0; y < kN; ++y) {
    for (int x = 0; x < kN; ++x) mesh.AddVertex(Vec3f(float(x), float(y), z));
  }
  for (int y = 0; y + 1 < kN; ++y) {
    for (int x = 0; x + 1 < kN; ++x) {
      const std::uint32_t a = y * kN + x, b = a + 1, c = a + kN + 1, d = a + kN;
      mesh.AddPrim(a, b, c);
      mesh.AddPrim(a, c, d);
    }
  }
  return geo;
}

// Clip coordinates ((x − 5)/5, (y − 5)/5, 0, 1 − z): a world point (x, y, 0)
// lands on mask pixel (x, y) of a 10 × 10 mask; points at z > 1 lie behind
// the eye.
math::Mat<4, 4, double> View() {
  math::Mat<4, 4, double> m;
  m(0, 0) = 0.2;
  m(0, 3) = -1.0;
  m(1, 1) = 0.2;
  m(1, 3) = -1.0;
  m(3, 2) = -1.0;
  m(3, 3) = 1.0;
  return m;
}

bool IsSelected(const v3d::Mesh& mesh, std::size_t i) {
  const v3d::Color4ub c = mesh.GetVertexColors()[i];
  return c.r == kSelection.r && c.g == kSelection.g && c.b == kSelection.b;
}

class Selection : public ::testing::Test {
 protected:
  void SetUp() override {
    // The grid node sits one mm to the right in world coordinates: its
    // vertex (x, y) hits pixel (x + 1, y).
    grid = MakeGridGeo();
    grid->SetFrame(math::FTrans(1.0, 0.0, 0.0));
    scene.AddNode(grid.get());
  }
  void TearDown() override { scene.RemoveNode(grid.get()); }
  v3d::Mesh& Mesh() { return *grid->GetMesh(0); }

  v3d::Scene scene;
  std::unique_ptr<v3d::Geo> grid;
};

TEST_F(Selection, MaskSelectsTheVerticesOverItsSetPixels) {
  img::GreyImage mask(kN, kN);
  mask = 0;
  for (int y = 5; y <= 6; ++y) {
    for (int x = 3; x <= 5; ++x) mask(x, y) = 1;
  }
  // A second grid behind the eye (w < 0) and a third outside the group;
  // both leave the scene when they are destroyed.
  auto behind = MakeGridGeo(2.f);
  auto other = MakeGridGeo();
  other->SetVisibility(0x2);
  scene.AddNode(behind.get());
  scene.AddNode(other.get());

  const std::uint32_t redraw = scene.GetRedrawID();
  EXPECT_EQ(ColorAllGeosByBitmapMask(*scene.GetRoot(), mask, kSelection, View(), 0x1), 6u);
  EXPECT_NE(scene.GetRedrawID(), redraw);
  ASSERT_TRUE(Mesh().HasVertexColors());
  std::set<std::size_t> expected;
  for (int y = 5; y <= 6; ++y) {
    for (int x = 2; x <= 4; ++x) expected.insert(std::size_t(y * kN + x));  // pixel x − 1
  }
  for (std::size_t i = 0; i < Mesh().GetNumVertices(); ++i) {
    EXPECT_EQ(IsSelected(Mesh(), i), expected.contains(i)) << i;
    if (!expected.contains(i)) EXPECT_EQ(Mesh().GetVertexColors()[i], Mesh().GetGlobalColor());
  }
  EXPECT_FALSE(behind->GetMesh(0)->HasVertexColors());
  EXPECT_FALSE(other->GetMesh(0)->HasVertexColors());

  // Without the group restriction the third grid (at world x = pixel x)
  // is selected too.
  EXPECT_EQ(ColorAllGeosByBitmapMask(*scene.GetRoot(), mask, kSelection, View()), 12u);
  EXPECT_EQ(CountSelectedVertices(*other, kSelection), 6u);
  EXPECT_TRUE(IsSelected(*other->GetMesh(0), 5 * kN + 3));
}

TEST_F(Selection, VerticesOutsideTheMaskAreNotSelected) {
  img::GreyImage mask(4, 4);
  mask = 1;
  // On a 4 × 4 mask world x lands on pixel round(0.4 x).
  const std::size_t hits = ColorAllGeosByBitmapMask(*grid, mask, kSelection, View());
  // Grid x ∈ 0…9 sits at world x + 1 ∈ 1…10: pixels round(0.4 (x + 1)) < 4
  // for x + 1 ≤ 8, i.e. x ≤ 7; y ≤ 8. 8 × 9 vertices.
  EXPECT_EQ(hits, 8u * 9u);
}

TEST_F(Selection, ExpandGrowsOneRingAlongTheTriangles) {
  Mesh().AddVertexColors();
  Mesh().SetVertexColor(kSelection, 5 * kN + 5);
  EXPECT_EQ(ExpandColorAllGeos(*grid, kSelection), 6u);
  // The neighbours of (5, 5): its four axis neighbours and the two along the
  // cells' diagonals, (4, 4) and (6, 6).
  const std::set<std::size_t> ring = {5 * kN + 4, 5 * kN + 6, 4 * kN + 5, 6 * kN + 5, 4 * kN + 4, 6 * kN + 6};
  for (std::size_t i = 0; i < Mesh().GetNumVertices(); ++i) {
    EXPECT_EQ(IsSelected(Mesh(), i), i == 5 * kN + 5 || ring.contains(i)) << i;
  }
  // The second ring holds 12 more vertices (a hexagon of radius 2 in this
  // triangulation).
  EXPECT_EQ(ExpandColorAllGeos(*grid, kSelection), 12u);
  EXPECT_EQ(CountSelectedVertices(*grid, kSelection), 19u);
}

TEST_F(Selection, InvertSwapsSelectedAndUnselected) {
  Mesh().AddVertexColors();
  for (std::size_t i : {0u, 7u, 42u}) Mesh().SetVertexColor(kSelection, i);
  const std::uint32_t counter = Mesh().GetVertexColorsCounter();
  EXPECT_EQ(InvertVertexColors(*grid, kSelection), std::size_t(kN * kN - 3));
  EXPECT_GT(Mesh().GetVertexColorsCounter(), counter);
  EXPECT_EQ(Mesh().GetVertexColors()[7], Mesh().GetGlobalColor());
  EXPECT_TRUE(IsSelected(Mesh(), 8));
  // A mesh without colours: everything becomes selected.
  v3d::Geo bare;
  bare.AddMesh(1)->AddVertex(Vec3f(0.f, 0.f, 0.f));
  EXPECT_EQ(InvertVertexColors(bare, kSelection), 1u);
}

TEST_F(Selection, RemovingSelectedVerticesDropsTheirTrianglesAndKeepsTheRestInOrder) {
  Mesh().AddVertexColors();
  const std::set<std::size_t> corner = {0, 1, kN, kN + 1};
  for (std::size_t i : corner) Mesh().SetVertexColor(kSelection, i);
  for (std::size_t i = 0; i < Mesh().GetNumVertices(); ++i) {
    Mesh().mGetVertexNormals()[i] = Vec3f(0.f, 0.f, float(i));  // tags each vertex
  }
  const std::vector<std::uint32_t> before = Mesh().GetPrims();
  std::size_t keptTriangles = 0;
  for (std::size_t t = 0; t < before.size(); t += 3) {
    keptTriangles += !corner.contains(before[t]) && !corner.contains(before[t + 1]) && !corner.contains(before[t + 2]);
  }

  EXPECT_EQ(RemoveColoredVerticesFromAllGeos(*grid, kSelection), 4u);
  ASSERT_EQ(Mesh().GetNumVertices(), std::size_t(kN * kN - 4));
  EXPECT_EQ(Mesh().GetNumPrims(), keptTriangles);
  EXPECT_EQ(keptTriangles, 2u * 81u - 8u);  // both triangles of the four corner cells
  // Positions and normals moved together, in the old order.
  std::size_t next = 0;
  for (std::size_t old = 0; old < std::size_t(kN * kN); ++old) {
    if (corner.contains(old)) continue;
    EXPECT_EQ(Mesh().GetVertexCoords()[next], Vec3f(float(old % kN), float(old / kN), 0.f));
    EXPECT_EQ(Mesh().GetVertexNormals()[next][2], float(old));
    ++next;
  }
  EXPECT_EQ(CountSelectedVertices(*grid, kSelection), 0u);
}

TEST_F(Selection, RemovingTheColoursFreesTheArrays) {
  Mesh().AddVertexColors();
  const std::uint32_t counter = Mesh().GetVertexColorsCounter();
  RemoveVertexColorFromAllGeos(*scene.GetRoot());
  EXPECT_FALSE(Mesh().HasVertexColors());
  EXPECT_GT(Mesh().GetVertexColorsCounter(), counter);
  // Nothing selected: nothing removed, nothing changes.
  EXPECT_EQ(RemoveColoredVerticesFromAllGeos(*grid, kSelection), 0u);
  EXPECT_EQ(Mesh().GetNumVertices(), std::size_t(kN * kN));
}

}  // namespace
}  // namespace surf
