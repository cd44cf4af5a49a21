#include "surf/fusion/ShapeFusion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "surf/fusion/MeshMeasures.h"
#include "surf/mesh/MeshTools.h"
#include "surf/testing/SyntheticScans.h"
#include "surf/testing/TestMeshes.h"
#include "v3d/GeoTools.h"

namespace surf {
namespace {

using math::Frame4d;
using math::Vec3d;
using math::Vec3f;

constexpr double kDeg = std::numbers::pi / 180.0;

// A small grid scan; with a texture of w × 8 pixels.
GeoItem Grid(bool texture, std::uint32_t w = 16) { return MakeGeoItem(testing::MakeGrid(2, 2, texture, w, 8)); }

// The scene texture of a scan's first mesh, or null.
const v3d::Texture* SceneTexture(const ShapeFusion& list, int index) {
  return list.GetScene().GetTexture(list.GetGeo(index)->GetMesh(0)->GetTextureID());
}

// The texture of testing::MakeGrid: w × 8 pixels, (b, g, r) = (x, y, x + y).
img::RGBImage GridTexture(std::uint32_t w) {
  img::RGBImage image(w, 8);
  for (std::uint32_t y = 0; y < 8; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) image(x, y) = {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x + y)};
  }
  return image;
}

bool SameImage(const img::RGBImage& a, const img::RGBImage& b) {
  return a.SameSize(b) && std::equal(a.data, a.data + a.size, b.data);
}

std::size_t NumTextures(const v3d::Scene& scene) {
  std::size_t n = 0;
  for (int slot = 0; slot < v3d::Scene::kMaxTextures; ++slot) n += scene.GetTexture(slot) != nullptr;
  return n;
}

// ---------------------------------------------------------------- colours and counters

TEST(ShapeFusion, ScansGetPaletteColoursByLowestUsageAcrossRemovals) {
  ShapeFusion list;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list.AddGeo(Grid(false)), i);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.GetGeoColorIndex(i), i);
    EXPECT_EQ(list.GetGeo(i)->GetMesh(0)->GetGlobalColor(), GetScanColor(i));
  }
  const utils::Guid removed = list.GetGeo(1)->GetGuid();
  list.RemoveGeo(1);
  EXPECT_EQ(list.GetColorMap().Find(removed), -1);
  EXPECT_EQ(list.GetGeoColorIndex(1), 2);  // the old scan 2 keeps its colour
  // The freed index 1 is the first of lowest usage.
  const int added = list.AddGeo(Grid(false));
  EXPECT_EQ(list.GetGeoColorIndex(added), 1);
  EXPECT_EQ(list.GetGeo(added)->GetMesh(0)->GetGlobalColor(), GetScanColor(1));
}

TEST(ShapeFusion, ChangeGeoColorWrapsAroundThePalette) {
  ShapeFusion list;
  for (int i = 0; i < kNumScanColors; ++i) list.AddGeo(Grid(false));
  EXPECT_EQ(list.GetGeoColorIndex(47), 47);
  // Every index is used once: the next one after 47 of that count is 0.
  EXPECT_EQ(list.ChangeGeoColor(47), 0);
  EXPECT_EQ(list.GetGeo(47)->GetMesh(0)->GetGlobalColor(), GetScanColor(0));
  // Now 47 is the only unused index: every scan moves there.
  EXPECT_EQ(list.ChangeGeoColor(3), 47);
  EXPECT_THROW(list.ChangeGeoColor(48), std::out_of_range);
}

TEST(ShapeFusion, NodeStateChangesStepTheRedrawIdAndWrapToOne) {
  ShapeFusion list;
  list.AddGeo(Grid(false));
  v3d::Scene& scene = list.GetScene();
  auto step = [&](const auto& change) {
    const std::uint32_t before = scene.GetRedrawID();
    change();
    return scene.GetRedrawID() - before;
  };
  EXPECT_EQ(step([&] { list.SetGeoSelected(0, true); }), 1u);
  EXPECT_TRUE(list.GetGeo(0)->IsSelected());
  EXPECT_EQ(step([&] { list.SetGeoVisibility(0, 0); }), 1u);
  EXPECT_EQ(list.GetGeo(0)->GetVisibility(), 0u);
  EXPECT_EQ(step([&] { list.SetGlobalVisibility(0x3); }), 1u);
  EXPECT_EQ(scene.GetGlobalVisibility(), 0x3u);
  EXPECT_EQ(step([&] { list.SetGeoFrame(0, math::FTrans(1.0, 2.0, 3.0)); }), 1u);
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), math::FTrans(1.0, 2.0, 3.0));
  EXPECT_EQ(step([&] { list.ChangeGeoColor(0); }), 1u);

  scene.SetRedrawID(0xFFFFFFFF);
  list.SetGeoSelected(0, false);
  EXPECT_EQ(scene.GetRedrawID(), 1u);
  EXPECT_THROW(list.SetGeoFrame(1, Frame4d()), std::out_of_range);
  EXPECT_THROW(list.SetGeoSelected(-1, true), std::out_of_range);  // no fusion result yet
}

TEST(ShapeFusion, DisplaySwitchesSetRenderFlagsOnAllScansAndNewOnes) {
  ShapeFusion list;
  list.AddGeo(Grid(false));
  EXPECT_EQ(list.GetGeo(0)->GetRenderFlags(), kRenderShowTextures);
  list.SyncShowEdges(true);
  list.SyncShowTextures(false);
  EXPECT_EQ(list.GetGeo(0)->GetRenderFlags(), kRenderShowEdges);
  list.AddGeo(Grid(false));
  EXPECT_EQ(list.GetGeo(1)->GetRenderFlags(), kRenderShowEdges);
  list.SyncShowNormals(true);
  EXPECT_EQ(list.GetGeo(0)->GetRenderFlags(), kRenderShowEdges | kRenderShowNormals);
  EXPECT_EQ(list.GetDisplayFlags(), kRenderShowEdges | kRenderShowNormals);
}

// ---------------------------------------------------------------- list editing

TEST(ShapeFusion, SwapAndRemoveKeepFragmentsAndColoursInStep) {
  ShapeFusion list;
  for (int i = 0; i < 3; ++i) list.AddGeo(Grid(false));
  const v3d::Geo* geos[3] = {list.GetGeo(0), list.GetGeo(1), list.GetGeo(2)};
  const Fragment* fragments[3] = {list.GetFragment(0), list.GetFragment(1), list.GetFragment(2)};
  list.SwapGeoIndices(0, 2);
  EXPECT_EQ(list.GetGeo(0), geos[2]);
  EXPECT_EQ(list.GetFragment(0), fragments[2]);
  EXPECT_EQ(list.GetFragment(2), fragments[0]);
  EXPECT_EQ(list.GetGeoColorIndex(0), 2);
  EXPECT_EQ(list.GetGeo(0)->GetMesh(0)->GetGlobalColor(), GetScanColor(2));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list.GetFragment(i)->GetId(), i);
  list.SwapGeoIndices(1, 1);
  EXPECT_EQ(list.GetGeo(1), geos[1]);

  const std::int32_t removedNode = list.GeoIndex2NodeID(1);
  list.RemoveGeo(1);
  ASSERT_EQ(list.GetNumGeos(), 2);
  EXPECT_EQ(list.GetFragment(1), fragments[0]);
  EXPECT_EQ(list.GetFragment(1)->GetId(), 1);
  EXPECT_EQ(list.GetGeoColorIndex(1), 0);
  EXPECT_EQ(list.GetScene().GetNode(removedNode), nullptr);
  EXPECT_EQ(list.NodeID2GeoIndex(removedNode), ShapeFusion::kNoGeo);
  EXPECT_EQ(list.NodeID2GeoIndex(list.GeoIndex2NodeID(1)), 1);
  EXPECT_EQ(list.GetGeoByNodeID(list.GeoIndex2NodeID(0)), geos[2]);
  EXPECT_THROW(list.RemoveGeo(2), std::out_of_range);
  EXPECT_EQ(list.GetGeo(5), nullptr);
  EXPECT_EQ(list.GetFragment(-1), nullptr);
  EXPECT_EQ(list.GeoIndex2NodeID(7), -1);
}

TEST(ShapeFusion, AddGeoFromArraysNamesAndPreparesTheScan) {
  ShapeFusion list;
  const std::vector<float> vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const std::vector<std::uint32_t> triangles = {0, 1, 2};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(list.AddGeo(vertices, triangles, {}), 0);
  EXPECT_EQ(list.AddGeo(vertices, triangles, {0, 0, 1, 0, 0, 1}, "Front A"), 1);
  EXPECT_EQ(list.AddGeo(vertices, triangles, {}), 2);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Generate geometry...done.\n"), std::string::npos);
  EXPECT_EQ(list.GetGeo(0)->GetName(), "Scan_1");
  EXPECT_EQ(list.GetGeo(1)->GetName(), "Front A");
  EXPECT_EQ(list.GetGeo(2)->GetName(), "Scan_2");
  EXPECT_TRUE(list.GetGeo(1)->GetMesh(0)->HasVertexTexCoords());
  // Counter-clockwise in the xy plane: normals along +z.
  EXPECT_EQ(list.GetGeo(0)->GetMesh(0)->GetVertexNormals()[1], Vec3f(0.f, 0.f, 1.f));

  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list.AddGeo({}, triangles, {}), -1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Error: ShapeFusion::AddGeo"), std::string::npos);
  EXPECT_EQ(list.GetNumGeos(), 3);
  EXPECT_THROW(list.AddGeo(GeoItem{}), std::invalid_argument);
}

TEST(ShapeFusion, AddGeoFromFilesOfEachKind) {
  testing::TempFolder folder;
  ShapeFusion list;
  EXPECT_EQ(list.AddGeo(std::filesystem::path()), -1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list.AddGeo(folder / "missing.stl"), -2);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Mesh file could not be loaded!"), std::string::npos);

  GeoItem item = Grid(true);
  item.geo->SetName("stored");
  ASSERT_TRUE(SaveMesh(folder / "a.tarvelinmesh", item, {}, GeoSource::kScanList));
  ASSERT_TRUE(SaveMesh(folder / "b.stl", item));
  ASSERT_TRUE(SaveMesh(folder / "c.zentomesh", item, {}, GeoSource::kFusionResult));
  EXPECT_EQ(list.AddGeo(folder / "a.tarvelinmesh"), 0);
  EXPECT_EQ(list.GetGeo(0)->GetName(), "stored");
  EXPECT_TRUE(list.HasTexture(0));
  ImportOptions quiet;
  quiet.marks = nullptr;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(list.AddGeo(folder / "b.stl", quiet), 1);
  ::testing::internal::GetCapturedStdout();
  // STL has no normals: the scan gets vertex normals.
  EXPECT_TRUE(list.GetGeo(1)->GetMesh(0)->HasVertexNormals());
  EXPECT_EQ(list.AddGeo(folder / "c.zentomesh"), kAddedFusionResult);
  ASSERT_NE(list.GetGeo(-1), nullptr);
  EXPECT_EQ(list.NodeID2GeoIndex(list.GeoIndex2NodeID(-1)), ShapeFusion::kFusionResultIndex);
  EXPECT_EQ(list.GetNumGeos(), 2);
}

TEST(ShapeFusion, DuplicateCopiesGeometryAndTexturesIntoNewSlots) {
  ShapeFusion list;
  list.AddGeo(Grid(true));
  list.SetGeoFrame(0, math::FTrans(0.0, 0.0, 5.0));
  list.InvertNormals(0);
  EXPECT_EQ(list.DuplicateGeo(0), 1);
  const v3d::Geo& copy = *list.GetGeo(1);
  EXPECT_EQ(copy.GetName(), list.GetGeo(0)->GetName() + "_copy");
  EXPECT_NE(copy.GetGuid(), list.GetGeo(0)->GetGuid());
  EXPECT_EQ(copy.GetFrame(), list.GetGeo(0)->GetFrame());
  EXPECT_EQ(copy.GetMesh(0)->GetVertexCoords(), list.GetGeo(0)->GetMesh(0)->GetVertexCoords());
  EXPECT_TRUE(list.GetNormalsInverted(1));
  ASSERT_NE(SceneTexture(list, 1), nullptr);
  EXPECT_NE(SceneTexture(list, 1), SceneTexture(list, 0));
  EXPECT_EQ(SceneTexture(list, 1)->GetData(), SceneTexture(list, 0)->GetData());
  EXPECT_NE(list.GetGeoColorIndex(1), list.GetGeoColorIndex(0));
  // Removing the original leaves the copy's texture in place.
  list.RemoveGeo(0);
  EXPECT_NE(SceneTexture(list, 0), nullptr);
  EXPECT_EQ(NumTextures(list.GetScene()), 1u);
}

TEST(ShapeFusion, InvertNormalsFlipsNormalsAndWinding) {
  ShapeFusion list;
  GeoItem box{std::make_shared<v3d::Geo>(), {}};
  v3d::CreateParallelepiped(*box.geo, Vec3f(0.f, 0.f, 0.f), Vec3f(2.f, 0.f, 0.f), Vec3f(0.f, 3.f, 0.f),
                            Vec3f(0.f, 0.f, 4.f));
  v3d::CalcVertexNormals(*box.geo);
  list.AddGeo(box);
  const v3d::Mesh& mesh = *list.GetGeo(0)->GetMesh(0);
  const std::vector<std::uint32_t> prims = mesh.GetPrims();
  const std::vector<Vec3f> normals = mesh.GetVertexNormals();
  EXPECT_NEAR(ComputeTriangleMeshVolume(*list.GetGeo(0)), 24.0, 1e-9);

  list.InvertNormals(0);
  EXPECT_TRUE(list.GetNormalsInverted(0));
  EXPECT_NEAR(ComputeTriangleMeshVolume(*list.GetGeo(0)), -24.0, 1e-9);
  for (std::size_t t = 0; t < prims.size(); t += 3) {
    EXPECT_EQ(mesh.GetPrims()[t], prims[t]);
    EXPECT_EQ(mesh.GetPrims()[t + 1], prims[t + 2]);
    EXPECT_EQ(mesh.GetPrims()[t + 2], prims[t + 1]);
  }
  for (std::size_t i = 0; i < normals.size(); ++i) EXPECT_EQ(mesh.GetVertexNormals()[i], -normals[i]);
  // The flipped normals agree with the flipped winding.
  v3d::Geo recomputed(*list.GetGeo(0));
  v3d::CalcVertexNormals(recomputed);
  for (std::size_t i = 0; i < normals.size(); ++i) {
    EXPECT_GT(math::Dot(recomputed.GetMesh(0)->GetVertexNormals()[i], mesh.GetVertexNormals()[i]), 0.99f);
  }
  list.InvertNormals(0);
  EXPECT_EQ(mesh.GetPrims(), prims);
  EXPECT_FALSE(list.GetNormalsInverted(0));
}

TEST(ShapeFusion, CombineAndUncombineKeepGeometryTexturesAndColours) {
  ShapeFusion list;
  list.AddGeo(Grid(false));     // 0
  list.AddGeo(Grid(true, 16));  // 1
  list.AddGeo(Grid(true, 24));  // 2
  list.SetGeoFrame(1, math::FTrans(10.0, 0.0, 0.0));
  const Frame4d frame2 = math::FTrans(0.0, 0.0, 10.0) * math::FRotZ(std::numbers::pi / 2);
  list.SetGeoFrame(2, frame2);
  // Vertex 3 of scans 1 and 2, and its normal, in the root's coordinates.
  auto place = [](const v3d::Geo& geo, std::size_t mesh, std::size_t i) {
    return geo.GetFrame().MultP(Vec3d(geo.GetMesh(std::int64_t(mesh))->GetVertexCoords()[i]));
  };
  auto turn = [](const v3d::Geo& geo, std::size_t mesh, std::size_t i) {
    return geo.GetFrame().MultV(Vec3d(geo.GetMesh(std::int64_t(mesh))->GetVertexNormals()[i]));
  };
  const Vec3d corner1 = place(*list.GetGeo(1), 0, 3), corner2 = place(*list.GetGeo(2), 0, 3);
  const Vec3d normal2 = turn(*list.GetGeo(2), 0, 3);
  const std::string name = list.GetGeo(2)->GetName() + "+";
  list.GetGeo(2)->SetName(name);

  EXPECT_EQ(list.CombineGeos({2, 1}), 1);  // in the frame of scan 2, at index 1
  ASSERT_EQ(list.GetNumGeos(), 2);
  const v3d::Geo& combined = *list.GetGeo(1);
  ASSERT_EQ(combined.GetNumMeshes(), 2u);
  EXPECT_EQ(combined.GetFrame(), frame2);
  EXPECT_EQ(combined.GetName(), name);
  EXPECT_LT((place(combined, 0, 3) - corner2).Length(), 1e-5);
  EXPECT_LT((place(combined, 1, 3) - corner1).Length(), 1e-5);
  EXPECT_LT((turn(combined, 0, 3) - normal2).Length(), 1e-6);
  EXPECT_TRUE(SameImage(TextureToImage(*list.GetScene().GetTexture(combined.GetMesh(0)->GetTextureID())),
                        GridTexture(24)));
  EXPECT_TRUE(SameImage(TextureToImage(*list.GetScene().GetTexture(combined.GetMesh(1)->GetTextureID())),
                        GridTexture(16)));
  EXPECT_EQ(NumTextures(list.GetScene()), 2u);
  EXPECT_EQ(list.GetGeoColorIndex(1), 2);  // the first scan's colour
  EXPECT_EQ(list.GetColorMap().Get().size(), 2u);

  EXPECT_EQ(list.UncombineGeo(0), 0);  // one mesh: nothing to split
  EXPECT_EQ(list.UncombineGeo(1), 2);
  ASSERT_EQ(list.GetNumGeos(), 3);
  EXPECT_EQ(list.GetGeo(1)->GetName(), name + "_1");
  EXPECT_EQ(list.GetGeo(2)->GetName(), name + "_2");
  EXPECT_EQ(list.GetGeoColorIndex(1), 2);
  EXPECT_TRUE(SameImage(list.GetTextureImage(1), GridTexture(24)));
  EXPECT_TRUE(SameImage(list.GetTextureImage(2), GridTexture(16)));
  EXPECT_EQ(NumTextures(list.GetScene()), 2u);
  EXPECT_LT((place(*list.GetGeo(1), 0, 3) - corner2).Length(), 1e-5);
  EXPECT_LT((place(*list.GetGeo(2), 0, 3) - corner1).Length(), 1e-5);
  EXPECT_THROW(list.CombineGeos({0, 0}), std::invalid_argument);
  EXPECT_THROW(list.CombineGeos({0, 3}), std::out_of_range);
}

TEST(ShapeFusion, MoveToFreePositionPlacesTheScanBesideTheOthers) {
  ShapeFusion list;
  list.AddGeo(Grid(false));
  EXPECT_FALSE(list.MoveToFreePosition(0));  // nothing to avoid
  list.AddGeo(Grid(false));
  list.SetGeoFrame(0, math::FTrans(3.0, 1.0, -2.0));
  ASSERT_TRUE(list.MoveToFreePosition(1));
  math::Vec3d min0, max0, min1, max1;
  GetAxisAlignedBoundingBox(*list.GetGeo(0), min0, max0);
  GetAxisAlignedBoundingBox(*list.GetGeo(1), min1, max1);
  const Vec3d lo0 = list.GetGeo(0)->GetFrame().MultP(min0), hi0 = list.GetGeo(0)->GetFrame().MultP(max0);
  const Vec3d lo1 = list.GetGeo(1)->GetFrame().MultP(min1), hi1 = list.GetGeo(1)->GetFrame().MultP(max1);
  // The grid spans 2 mm in x and y: a gap of a tenth of that.
  EXPECT_NEAR(lo1[0] - hi0[0], 0.2, 1e-12);
  EXPECT_NEAR(lo1[1] + hi1[1], lo0[1] + hi0[1], 1e-12);
  EXPECT_NEAR(lo1[2] + hi1[2], lo0[2] + hi0[2], 1e-12);
}

// ---------------------------------------------------------------- undo

TEST(ShapeFusion, UndoAndRedoRestoreNodeFrames) {
  ShapeFusion list;
  list.AddGeo(Grid(false));
  list.AddGeo(Grid(false));
  const Frame4d a0 = list.GetGeo(0)->GetFrame();
  list.RememberCurrentFramesForUndo();
  list.SetGeoFrame(0, math::FTrans(1.0, 0.0, 0.0));
  list.SetGeoFrame(1, math::FRotX(0.5));
  list.RememberCurrentFramesForUndo();
  list.SetGeoFrame(0, math::FTrans(2.0, 0.0, 0.0));
  EXPECT_EQ(list.GetNumUndoSteps(), 2u);

  const std::uint32_t counter1 = list.GetGeo(1)->GetFrameCounter();
  ASSERT_TRUE(list.Undo());
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), math::FTrans(1.0, 0.0, 0.0));
  EXPECT_EQ(list.GetGeo(1)->GetFrameCounter(), counter1);  // unchanged frames are left alone
  ASSERT_TRUE(list.Undo());
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), a0);
  EXPECT_EQ(list.GetGeo(1)->GetFrame(), Frame4d());
  EXPECT_FALSE(list.Undo());
  EXPECT_EQ(list.GetNumRedoSteps(), 2u);
  ASSERT_TRUE(list.Redo());
  EXPECT_EQ(list.GetGeo(1)->GetFrame(), math::FRotX(0.5));
  ASSERT_TRUE(list.Redo());
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), math::FTrans(2.0, 0.0, 0.0));
  EXPECT_FALSE(list.Redo());
  // A scan removed meanwhile is skipped.
  ASSERT_TRUE(list.Undo());
  list.RemoveGeo(0);
  ASSERT_TRUE(list.Undo());
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), Frame4d());
}

// ---------------------------------------------------------------- textures and projects

TEST(ShapeFusion, TextureIdsAreSceneSlots) {
  ShapeFusion list;
  list.AddGeo(Grid(true, 16));
  list.AddGeo(Grid(false));
  list.AddGeo(Grid(true, 24));
  EXPECT_EQ(list.GetGeo(0)->GetMesh(0)->GetTextureID(), 0);
  EXPECT_EQ(list.GetGeo(1)->GetMesh(0)->GetTextureID(), -1);
  EXPECT_EQ(list.GetGeo(2)->GetMesh(0)->GetTextureID(), 1);
  EXPECT_TRUE(list.HasTexture(0));
  EXPECT_FALSE(list.HasTexture(1));
  EXPECT_EQ(list.GetTextureImage(2).width, 24u);
  EXPECT_TRUE(list.GetTextureImage(1).IsEmpty());

  list.RemoveTexture(0);
  EXPECT_FALSE(list.HasTexture(0));
  EXPECT_EQ(list.GetScene().GetTexture(0), nullptr);
  img::RGBImage image(4, 3);
  image = img::RGB8{1, 2, 3};
  ASSERT_TRUE(list.AddTexture(1, image));
  EXPECT_EQ(list.GetGeo(1)->GetMesh(0)->GetTextureID(), 0);  // the freed slot
  EXPECT_EQ(list.GetTextureImage(1).width, 4u);
  EXPECT_EQ(list.GetTextureImage(1)(3, 2), (img::RGB8{1, 2, 3}));
  // Replacing keeps one texture per scan; an empty image removes it.
  ASSERT_TRUE(list.AddTexture(1, image));
  EXPECT_EQ(NumTextures(list.GetScene()), 2u);
  EXPECT_FALSE(list.AddTexture(1, img::RGBImage()));
  EXPECT_FALSE(list.HasTexture(1));
  EXPECT_THROW(list.AddTexture(-1, image), std::out_of_range);  // no fusion result
}

TEST(ShapeFusion, TexturesAndTheListSurviveAProjectRoundTrip) {
  testing::TempFolder folder;
  const auto project = folder / "p.tarvelinproj";
  {
    ShapeFusion list;
    list.AddGeo(Grid(true, 16));
    list.AddGeo(Grid(false));
    list.AddGeo(Grid(true, 24));
    list.RemoveTexture(0);  // slot 0 free, scan 2 stays in slot 1
    list.SetGeoFrame(2, math::FTrans(0.0, 4.0, 0.0));
    list.ChangeGeoColor(1);
    list.SetFusionResult(Grid(true, 32));
    list.SetUnfilteredFusionTriangles({0, 1, 2});
    ASSERT_TRUE(list.SaveProject(project));
    ASSERT_TRUE(list.SaveGeo_zentomesh(folder / "scan2.zentomesh", 2));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(list.SaveGeo_zentomesh(folder / "x.zentomesh", 3));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("ERROR: Invalid geoIndex << 3"), std::string::npos);
  }
  ShapeFusion other;
  other.AddGeo(Grid(true, 8));  // takes slot 0
  ASSERT_TRUE(other.LoadProject(project));
  ASSERT_EQ(other.GetNumGeos(), 4);
  EXPECT_FALSE(other.HasTexture(1));
  EXPECT_FALSE(other.HasTexture(2));
  ASSERT_TRUE(other.HasTexture(3));
  const std::int32_t slot = other.GetGeo(3)->GetMesh(0)->GetTextureID();
  EXPECT_NE(slot, other.GetGeo(0)->GetMesh(0)->GetTextureID());
  EXPECT_EQ(other.GetScene().GetTexture(slot)->GetWidth(), 24);
  EXPECT_TRUE(SameImage(other.GetTextureImage(3), GridTexture(24)));
  EXPECT_EQ(other.GetGeo(3)->GetFrame(), math::FTrans(0.0, 4.0, 0.0));
  ASSERT_NE(other.GetGeo(-1), nullptr);
  EXPECT_EQ(other.GetTextureImage(-1).width, 32u);
  EXPECT_EQ(other.GetUnfilteredFusionTriangles(), (std::vector<std::uint32_t>{0, 1, 2}));
  // The project's colour map replaces the list's (0, 3 after the change,
  // 2): the scan added before, not in it, takes the first least used index.
  EXPECT_EQ(other.GetGeoColorIndex(0), 1);
  EXPECT_EQ(other.GetGeoColorIndex(1), 0);
  EXPECT_EQ(other.GetGeoColorIndex(2), 3);
  EXPECT_EQ(other.GetGeoColorIndex(3), 2);
  EXPECT_EQ(NumTextures(other.GetScene()), 3u);

  // A single mesh file of the scan comes back with its texture.
  EXPECT_EQ(other.AddGeo(folder / "scan2.zentomesh"), 4);
  EXPECT_TRUE(SameImage(other.GetTextureImage(4), GridTexture(24)));

  // A broken project changes nothing.
  testing::WriteFileBytes(folder / "bad.tarvelinproj", testing::ReadFileBytes(project).substr(0, 100));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(other.LoadProject(folder / "bad.tarvelinproj"));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(other.GetNumGeos(), 5);
}

TEST(ShapeFusion, ProjectItemsMatchTheList) {
  ShapeFusion list;
  list.AddGeo(Grid(true));
  list.AddGeo(Grid(false));
  EXPECT_EQ(list.GetNumProjectItems(), 3u);
  list.SetFusionResult(Grid(false));
  list.SetUnfilteredFusionTriangles({0, 1, 2});
  ASSERT_EQ(list.GetNumProjectItems(), 5u);
  ShapeFusion copy;
  for (std::size_t i = 0; i < list.GetNumProjectItems(); ++i) copy.LoadProjectItem(*list.GetProjectItem(i));
  EXPECT_EQ(copy.GetNumGeos(), 2);
  EXPECT_TRUE(copy.HasTexture(0));
  EXPECT_NE(copy.GetGeo(-1), nullptr);
  EXPECT_EQ(copy.GetGeo(1)->GetGuid(), list.GetGeo(1)->GetGuid());
  EXPECT_EQ(copy.GetGeoColorIndex(1), list.GetGeoColorIndex(1));
  EXPECT_EQ(copy.GetUnfilteredFusionTriangles(), list.GetUnfilteredFusionTriangles());
  // The export's texture lists are indexed by scene slot.
  const ScanListData data = list.ExportScanListData();
  EXPECT_EQ(data.scans[0].GetMeshTexture(*data.scans[0].geo->GetMesh(0)), SceneTexture(list, 0));
}

// ---------------------------------------------------------------- registration

// Two views of the lumpy blob 45° apart on a turntable; A (view 0) starts at
// the identity, the truth is its coordinates into B's (at the identity).
class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ScanSpec spec;
    spec.samplesAround = 200;
    spec.noiseSigma = 0.02;
    spec.noiseSeed = 11;
    views = testing::MakeTurntableScans(blob, spec, 2, 45.0 * kDeg, Vec3d(0, 0, 1), Vec3d(4.0, -3.0, 0.0));
    truth = views.truth[1] * views.truth[0].GetInverse();
    ShapeFusionParams params;
    params.seed = 5;
    list.SetShapeFusionParams(params);
    for (auto& scan : views.scans) list.AddGeo(GeoItem{std::shared_ptr<v3d::Geo>(std::move(scan)), {}});
  }

  const testing::LumpyBlob blob{40.0, 14, 7};
  testing::TurntableScans views;
  Frame4d truth;
  ShapeFusion list;
};

// The bounds of surf/Registration_test's pair tests (0.02 mm noise, ~1 mm
// vertex spacing).
TEST_F(Registration, CoarseThenFineRecoversTheKnownPose) {
  const std::uint32_t redraw = list.GetScene().GetRedrawID();
  const double score = list.CoarseRegistration(0, 1, false, {});
  EXPECT_GT(score, 0.4);
  EXPECT_EQ(list.GetBestScore(), score);
  EXPECT_NE(list.GetScene().GetRedrawID(), redraw);
  EXPECT_GT(list.GetFragment(0)->GetNumVertices(), 1000);
  IcpParams icp;
  icp.seed = 3;
  const PairAlignmentInfo info = list.FineRegistration(0, 1, true, icp);
  ASSERT_TRUE(info.valid);
  const Frame4d found = list.GetGeo(0)->GetFrame();
  EXPECT_LT(testing::RmsDisplacement(*list.GetGeo(0), found, truth), 0.05);
  EXPECT_LT(testing::AngleDegrees(found, truth), 0.05);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(list.GetBestTransform().m[i], found.m[i], 1e-12);
}

TEST_F(Registration, BadPairsGiveZeroResults) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list.CoarseRegistration(0, 0, false, {}), 0.0);
  EXPECT_EQ(list.CoarseRegistration(0, 2, false, {}), 0.0);
  EXPECT_EQ(list.CoarseRegistration(-1, 1, false, {}), 0.0);
  EXPECT_FALSE(list.FineRegistration(1, 1, false).valid);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Error: ShapeFusion::CoarseRegistration - Scans A and B are the same scan."),
            std::string::npos);
  EXPECT_NE(errors.find("Error: ShapeFusion::CoarseRegistration - Invalid scan index."), std::string::npos);
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), Frame4d());

  // A scan without normals cannot be prepared.
  GeoItem bare{std::make_shared<v3d::Geo>(), {}};
  v3d::Mesh& mesh = *bare.geo->AddMesh(3);
  for (int i = 0; i < 3; ++i) mesh.AddVertex(Vec3f(float(i), 0.f, 0.f));
  const int index = list.AddGeo(bare);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list.CoarseRegistration(0, index, false, {}), 0.0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Error:"), std::string::npos);

  ShapeFusion single;
  single.AddGeo(Grid(false));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(single.CoarseRegistration(0, 1, false, {}), 0.0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("At least two scans are needed."), std::string::npos);
}

TEST_F(Registration, GlobalRefinementMovesTheVisibleScansOnly) {
  // A starts 0.5° and 0.3 mm off the truth; B stays.
  const Frame4d start = testing::TurntablePose(Vec3d(1, 0, 0), Vec3d(), 0.5 * kDeg) *
                        math::FTrans(0.3, -0.2, 0.1) * truth;
  list.SetGeoFrame(0, start);
  GlobalFineParams params;
  params.iterations = 4;
  params.icp.seed = 9;
  params.icp.iterations = 5;
  // Hidden: nothing to align.
  list.SetGeoVisibility(1, 0);
  EXPECT_EQ(list.GlobalFineRegistration(params).eligibleScans, 1);
  EXPECT_EQ(list.GetGeo(0)->GetFrame(), start);
  list.SetGeoVisibility(1, v3d::Node::kDefaultVisibility);
  const GlobalFineResult result = list.GlobalFineRegistration(params);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.eligibleScans, 2);
  // Relative pose of A in B after the refinement.
  const Frame4d relative = list.GetGeo(1)->GetFrame().GetInverse() * list.GetGeo(0)->GetFrame();
  EXPECT_GT(testing::RmsDisplacement(*list.GetGeo(0), start, truth), 0.3);
  EXPECT_LT(testing::RmsDisplacement(*list.GetGeo(0), relative, truth), 0.05);
}

}  // namespace
}  // namespace surf
