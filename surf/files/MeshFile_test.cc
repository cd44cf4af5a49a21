#include "surf/files/MeshFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "surf/testing/TestMeshes.h"
#include "v3d/GeoChunk.h"

namespace surf {
namespace {

using utils::ChunkNode;

// Two textured meshes sharing one texture, a third with a texture of its own
// and a line mesh without texture.
GeoItem MakeItem() {
  GeoItem item = MakeGeoItem(testing::MakeGrid(3, 2, true, 4, 4));
  item.geo->SetName("scan 3");
  math::Frame4d frame = math::FRotZ(0.7);
  frame.SetTrans(5.0, 6.0, 7.0);
  item.geo->SetFrame(frame);
  item.geo->SetVisibility(0x3);
  item.geo->GetMesh(0)->AddVertexQualities();
  v3d::Mesh& second = *item.geo->AddMesh(3);
  second.AddVertex({0.f, 0.f, 9.f});
  second.AddVertex({1.f, 0.f, 9.f});
  second.AddVertex({0.f, 1.f, 9.f});
  second.AddPrim(0, 1, 2);
  second.SetTextureID(0);
  v3d::Mesh& third = *item.geo->AddMesh(3);
  third.mGetVertexCoords() = second.GetVertexCoords();
  third.mGetPrims() = second.GetPrims();
  auto other = std::make_shared<v3d::Texture>();
  other->SetImage(img::GreyImage(3, 2) = 77);
  item.textures.push_back(other);
  third.SetTextureID(1);
  v3d::Mesh& lines = *item.geo->AddMesh(2);
  lines.AddVertex({0.f, 0.f, 0.f});
  lines.AddVertex({0.f, 0.f, 1.f});
  lines.AddPrim(0, 1);
  return item;
}

std::string Bytes(const ChunkNode::Ptr& root) {
  std::ostringstream out;
  root->Save(out);
  return out.str();
}

TEST(MeshFile, WritesSourceGeoAndEachUsedTextureOnce) {
  const GeoItem item = MakeItem();
  const ChunkNode::Ptr root = WriteMeshTree(item, GeoSource::kScanList);
  ASSERT_EQ(root->GetChildren().size(), 4u);
  EXPECT_EQ(root->GetChildren()[0]->GetName(), "source");
  EXPECT_EQ(root->GetChildren()[0]->GetString(), "ScanList");
  EXPECT_EQ(root->GetChildren()[1]->GetName(), "geo");
  EXPECT_EQ(root->GetChildren()[1]->level, 1u);
  EXPECT_EQ(root->GetChildren()[1]->GetChildren()[0]->level, 2u);
  EXPECT_EQ(root->FindChildren("texture").size(), 2u);
  EXPECT_FALSE(WriteMeshTree(item, GeoSource::kNone)->FindChild("source"));
  const auto meshes = root->Child("geo")->FindChildren("mesh");
  EXPECT_TRUE(meshes[1]->FindChild("textureGuid"));
  EXPECT_FALSE(meshes[3]->FindChild("textureGuid"));
}

TEST(MeshFile, RoundTripsByteForByteWithTexturesBoundByGuid) {
  testing::TempFolder folder;
  const GeoItem item = MakeItem();
  ASSERT_TRUE(SaveMeshFile(folder / "a.tarvelinmesh", item, GeoSource::kFusionResult));
  GeoItem loaded;
  GeoSource source = GeoSource::kNone;
  ASSERT_TRUE(LoadMeshFile(folder / "a.tarvelinmesh", loaded, &source));
  EXPECT_EQ(source, GeoSource::kFusionResult);
  ASSERT_TRUE(SaveMeshFile(folder / "b.zentomesh", loaded, source));
  EXPECT_EQ(testing::ReadFileBytes(folder / "a.tarvelinmesh"), testing::ReadFileBytes(folder / "b.zentomesh"));

  EXPECT_EQ(loaded.geo->GetGuid(), item.geo->GetGuid());
  EXPECT_EQ(loaded.geo->GetName(), "scan 3");
  ASSERT_EQ(loaded.textures.size(), 2u);
  for (std::size_t m = 0; m < 3; ++m) {
    const v3d::Texture* texture = loaded.GetMeshTexture(*loaded.geo->GetMesh(m));
    ASSERT_TRUE(texture) << m;
    EXPECT_EQ(texture->GetGuid(), item.GetMeshTexture(*item.geo->GetMesh(m))->GetGuid());
    EXPECT_EQ(texture->GetData(), item.GetMeshTexture(*item.geo->GetMesh(m))->GetData());
  }
  EXPECT_EQ(loaded.geo->GetMesh(3)->GetTextureID(), -1);
}

TEST(MeshFile, ATextureGuidWithoutItsTextureLeavesTheMeshUntextured) {
  GeoItem item = MakeGeoItem(testing::MakeGrid(1, 1));
  ChunkNode::Ptr root = WriteMeshTree(item, GeoSource::kScanList);
  utils::Guid other = utils::Guid::NewGuid();
  root->Child("geo")->Child("mesh")->Child("textureGuid")->SetData(other.Data(), 16);
  const GeoItem loaded = ReadMeshTree(*root);
  EXPECT_EQ(loaded.geo->GetMesh(0)->GetTextureID(), -1);
  EXPECT_EQ(loaded.textures.size(), 1u);
}

TEST(MeshFile, OptionalAttributesFollowTheirChunks) {
  MeshArrays grid = testing::MakeGrid(1, 1, false);
  grid.colors.clear();
  ChunkNode::Ptr root = WriteMeshTree(MakeGeoItem(grid), GeoSource::kNone);
  ASSERT_FALSE(root->Child("geo")->Child("mesh")->FindChild("colors"));
  // An empty payload switches the attribute on with default values.
  root->Child("geo")->Child("mesh")->Child("normals")->SetData(nullptr, 0);
  const GeoItem loaded = ReadMeshTree(*root);
  const v3d::Mesh& m = *loaded.geo->GetMesh(0);
  EXPECT_TRUE(m.HasVertexNormals());
  EXPECT_FALSE(m.HasVertexColors());
  EXPECT_TRUE(m.HasVertexTexCoords());
}

// Loading a broken file fails with a message and leaves the item as it was.
void ExpectLoadFails(const std::filesystem::path& path, const std::string& message) {
  GeoItem item = MakeGeoItem(testing::MakeGrid(1, 1));
  const auto geo = item.geo;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadMeshFile(path, item));
  const std::string error = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find(message), std::string::npos) << error;
  EXPECT_EQ(item.geo, geo);
}

TEST(MeshFile, BrokenFilesFailWithTheirReason) {
  testing::TempFolder folder;
  const GeoItem item = MakeItem();
  const auto save = [&](const std::string& name, const ChunkNode::Ptr& root) {
    testing::WriteFileBytes(folder / name, Bytes(root));
    return folder / name;
  };
  ChunkNode::Ptr root = WriteMeshTree(item, GeoSource::kScanList);
  const std::string bytes = Bytes(root);

  testing::WriteFileBytes(folder / "truncated.tarvelinmesh", bytes.substr(0, bytes.size() / 2));
  ExpectLoadFails(folder / "truncated.tarvelinmesh", "Invalid chunk header.");
  ExpectLoadFails(folder / "missing.tarvelinmesh", "Could not open");
  ExpectLoadFails(folder.Path(), "Could not open");

  ChunkNode::Ptr positions = root->Child("geo")->Child("mesh")->Child("positions");
  positions->SetData(positions->GetBytes().data(), positions->GetDataSize() - 4);
  ExpectLoadFails(save("odd.tarvelinmesh", root), "Invalid chunk data size of node positions");

  root = WriteMeshTree(item, GeoSource::kScanList);
  std::vector<std::uint32_t> prims = root->Child("geo")->Child("mesh")->Child("prims")->GetArray<std::uint32_t>();
  prims[4] = 12;  // the grid has 12 vertices
  root->Child("geo")->Child("mesh")->Child("prims")->SetArray(prims);
  ExpectLoadFails(save("prims.tarvelinmesh", root), "Prim index 12 is not below the vertex count 12.");

  root = WriteMeshTree(item, GeoSource::kScanList);
  root->Child("geo")->requiredVersion = 2;
  ExpectLoadFails(save("version.tarvelinmesh", root), "Invalid version: 2 required, 1 given.");

  ExpectLoadFails(save("other.tarvelinmesh", ChunkNode::NewNode("measurement")), "Not a mesh tree");
  root = WriteMeshTree(item, GeoSource::kScanList);
  root->Child("texture")->Child("width")->SetValue<std::int32_t>(100000);
  ExpectLoadFails(save("texture.tarvelinmesh", root), "Invalid texture buffer size");
}

}  // namespace
}  // namespace surf
