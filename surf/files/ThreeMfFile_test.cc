// 3MF files written here are read back through lib3mf's own reader, and the
// texture through LodePNG's decoder.

#include "surf/files/ThreeMfFile.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <deque>

#include "Model/COM/NMR_DLLInterfaces.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec2f;
using math::Vec3f;

// Releases every lib3mf instance it handed out.
class Instances {
 public:
  ~Instances() {
    for (auto it = m_held.rbegin(); it != m_held.rend(); ++it) NMR::lib3mf_release(*it);
  }
  NMR::PLib3MFBase** Next() {
    m_held.push_back(nullptr);
    return &m_held.back();
  }

 private:
  std::deque<NMR::PLib3MFBase*> m_held;
};

struct ReadBack {
  std::vector<Vec3f> vertices;
  std::vector<std::uint32_t> indices;
  std::vector<NMR::MODELMESHTEXTURE2D> textures;  // one per triangle
  std::string texturePath;
  std::vector<unsigned char> png;
};

ReadBack Read3mf(const std::filesystem::path& path) {
  Instances instances;
  ReadBack out;
  NMR::PLib3MFBase** model = instances.Next();
  EXPECT_EQ(NMR::lib3mf_createmodel(model), LIB3MF_OK);
  NMR::PLib3MFBase** reader = instances.Next();
  EXPECT_EQ(NMR::lib3mf_model_queryreader(*model, "3mf", reader), LIB3MF_OK);
  if (NMR::lib3mf_reader_readfromfileutf8(*reader, path.c_str()) != LIB3MF_OK) {
    ADD_FAILURE() << "lib3mf cannot read " << path;
    return out;
  }
  NMR::PLib3MFBase** meshes = instances.Next();
  EXPECT_EQ(NMR::lib3mf_model_getmeshobjects(*model, meshes), LIB3MF_OK);
  BOOL hasNext = false;
  NMR::lib3mf_resourceiterator_movenext(*meshes, &hasNext);
  EXPECT_TRUE(hasNext);
  NMR::PLib3MFBase** mesh = instances.Next();
  NMR::lib3mf_resourceiterator_getcurrent(*meshes, mesh);
  DWORD numVertices = 0, numTriangles = 0;
  NMR::lib3mf_meshobject_getvertexcount(*mesh, &numVertices);
  NMR::lib3mf_meshobject_gettrianglecount(*mesh, &numTriangles);
  std::vector<NMR::MODELMESHVERTEX> vertices(numVertices);
  std::vector<NMR::MODELMESHTRIANGLE> triangles(numTriangles);
  NMR::lib3mf_meshobject_getvertices(*mesh, vertices.data(), numVertices, nullptr);
  NMR::lib3mf_meshobject_gettriangleindices(*mesh, triangles.data(), numTriangles, nullptr);
  for (const auto& v : vertices) out.vertices.emplace_back(v.m_fPosition[0], v.m_fPosition[1], v.m_fPosition[2]);
  for (const auto& t : triangles) out.indices.insert(out.indices.end(), t.m_nIndices, t.m_nIndices + 3);

  NMR::PLib3MFBase** handler = instances.Next();
  NMR::lib3mf_meshobject_createpropertyhandler(*mesh, handler);
  for (DWORD t = 0; t < numTriangles; ++t) {
    NMR::eModelPropertyType type = NMR::MODELPROPERTYTYPE_NONE;
    NMR::lib3mf_propertyhandler_getpropertytype(*handler, t, &type);
    NMR::MODELMESHTEXTURE2D texture{};
    if (type == NMR::MODELPROPERTYTYPE_TEXCOORD2D &&
        NMR::lib3mf_propertyhandler_gettexture(*handler, t, &texture) == LIB3MF_OK) {
      out.textures.push_back(texture);
    }
  }
  if (!out.textures.empty()) {
    NMR::PLib3MFBase** texture = instances.Next();
    EXPECT_EQ(NMR::lib3mf_model_gettexture2dbyid(*model, out.textures[0].m_nTextureID, texture), LIB3MF_OK);
    char path[256] = {};
    ULONG needed = 0;
    NMR::lib3mf_texture2d_getpathutf8(*texture, path, sizeof(path), &needed);
    out.texturePath = path;
    NMR::eModelTexture2DType type{};
    NMR::lib3mf_texture2d_getcontenttype(*texture, &type);
    EXPECT_EQ(type, NMR::MODELTEXTURETYPE_PNG);
    NMR::PLib3MFBase** attachment = instances.Next();
    EXPECT_EQ(NMR::lib3mf_texture2d_getattachment(*texture, attachment), LIB3MF_OK);
    ULONG64 size = 0;
    NMR::lib3mf_attachment_getstreamsize(*attachment, &size);
    out.png.resize(size);
    NMR::lib3mf_attachment_writetobuffer(*attachment, out.png.data(), size);
  }
  return out;
}

TEST(Save3mf, PassesLib3mfsReaderWithMergedVerticesAndTheTexture) {
  testing::TempFolder folder;
  // Every triangle on its own vertices, as STL-like data: merging must give
  // the grid's (4 + 1)·(3 + 1) = 20 vertices back.
  const MeshArrays grid = testing::MakeGrid(4, 3, true, 5, 3);
  std::vector<Vec3f> positions;
  std::vector<Vec2f> texCoords;
  std::vector<std::uint32_t> indices;
  for (std::uint32_t i : grid.indices) {
    indices.push_back(static_cast<std::uint32_t>(positions.size()));
    positions.push_back(grid.positions[i]);
    texCoords.push_back(grid.texCoords[i]);
  }
  ASSERT_TRUE(Save3mf(folder / "grid.3mf", positions, indices, texCoords, grid.texture));
  EXPECT_EQ(folder.FileNames(), std::vector<std::string>{"grid.3mf"});

  const ReadBack back = Read3mf(folder / "grid.3mf");
  ASSERT_EQ(back.vertices.size(), 20u);
  ASSERT_EQ(back.indices.size(), grid.indices.size());
  ASSERT_EQ(back.textures.size(), grid.NumTriangles());
  for (std::size_t c = 0; c < grid.indices.size(); ++c) {
    EXPECT_EQ(back.vertices[back.indices[c]], grid.positions[grid.indices[c]]);
    const NMR::MODELMESHTEXTURE2D& t = back.textures[c / 3];
    // lib3mf stores the coordinates as decimal text with six digits.
    EXPECT_NEAR(t.m_fU[c % 3], grid.texCoords[grid.indices[c]][0], 1e-6f);
    EXPECT_NEAR(t.m_fV[c % 3], 1.f - grid.texCoords[grid.indices[c]][1], 1e-6f);
  }
  EXPECT_EQ(back.texturePath, "/3D/Texture/texture.png");

  std::vector<unsigned char> rgba;
  unsigned w = 0, h = 0;
  ASSERT_EQ(lodepng::decode(rgba, w, h, back.png), 0u);
  ASSERT_EQ(w, 5u);
  ASSERT_EQ(h, 3u);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const unsigned char* p = &rgba[4 * (y * w + x)];
      EXPECT_EQ(img::RGB8::FromRGB(p[0], p[1], p[2]), grid.texture(x, y));
      EXPECT_EQ(p[3], 255);
    }
  }
}

TEST(Save3mf, DropsDegenerateTrianglesWithTheirTextureCoordinates) {
  testing::TempFolder folder;
  const std::vector<Vec3f> positions{{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}, {1.f, 0.f, 0.f}};
  const std::vector<Vec2f> texCoords{{0.f, 0.f}, {0.5f, 0.f}, {0.f, 0.5f}, {0.75f, 0.25f}};
  img::RGBImage image(2, 2);
  // Triangle 0 collapses (vertices 1 and 3 are one); triangle 1 survives.
  ASSERT_TRUE(Save3mf(folder / "d.3mf", positions, {0, 1, 3, 0, 3, 2}, texCoords, image));
  const ReadBack back = Read3mf(folder / "d.3mf");
  ASSERT_EQ(back.vertices.size(), 3u);
  ASSERT_EQ(back.textures.size(), 1u);
  EXPECT_EQ(back.textures[0].m_fU[1], 0.75f);
  EXPECT_EQ(back.textures[0].m_fV[1], 0.75f);
}

TEST(Save3mf, WritesUntexturedMeshesAndRefusesBadArraysKeepingThePreviousFile) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(2, 2, false);
  ASSERT_TRUE(Save3mf(folder / "u.3mf", grid.positions, grid.indices, {}, {}));
  const std::string previous = testing::ReadFileBytes(folder / "u.3mf");
  const ReadBack back = Read3mf(folder / "u.3mf");
  EXPECT_EQ(back.vertices.size(), grid.positions.size());
  EXPECT_TRUE(back.textures.empty());

  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Save3mf(folder / "u.3mf", grid.positions, {0, 1, 99}, {}, {}));
  EXPECT_FALSE(Save3mf(folder / "u.3mf", grid.positions, grid.indices, {{0.f, 0.f}}, grid.texture));
  EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
  EXPECT_EQ(testing::ReadFileBytes(folder / "u.3mf"), previous);
}

TEST(Save3mf, UsesInterfaceVersionOne) { EXPECT_EQ(Get3mfLibraryVersion().rfind("1.", 0), 0u); }


TEST(Load3mf, ReadsWhatSave3mfWritesWithVerticesMerged) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(3, 2, true, 4, 4);
  ASSERT_TRUE(Save3mf(folder / "g.3mf", grid.positions, grid.indices, grid.texCoords, grid.texture));
  MeshArrays back;
  ASSERT_TRUE(Load3mf(folder / "g.3mf", back));
  EXPECT_EQ(back.positions, grid.positions);  // the grid shares its vertices already
  EXPECT_EQ(back.indices, grid.indices);
  EXPECT_TRUE(back.texCoords.empty());  // geometry only
}

// One mesh object placed twice: each build item's 3×4 transform moves its
// copy, and the copies' triangles use their own vertices.
TEST(Load3mf, PlacesEveryBuildItemByItsTransform) {
  testing::TempFolder folder;
  const auto path = folder / "two.3mf";
  {
    Instances instances;
    NMR::PLib3MFBase** model = instances.Next();
    ASSERT_EQ(NMR::lib3mf_createmodel(model), LIB3MF_OK);
    NMR::PLib3MFBase** mesh = instances.Next();
    ASSERT_EQ(NMR::lib3mf_model_addmeshobject(*model, mesh), LIB3MF_OK);
    NMR::MODELMESHVERTEX vertices[3] = {{{0.f, 0.f, 0.f}}, {{1.f, 0.f, 0.f}}, {{0.f, 1.f, 0.f}}};
    NMR::MODELMESHTRIANGLE triangle{{0, 1, 2}};
    ASSERT_EQ(NMR::lib3mf_meshobject_setgeometry(*mesh, vertices, 3, &triangle, 1), LIB3MF_OK);
    NMR::MODELTRANSFORM identity{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
    // A quarter turn about z, then 10 mm along x.
    NMR::MODELTRANSFORM turned{{{0, -1, 0, 10}, {1, 0, 0, 0}, {0, 0, 1, 0}}};
    ASSERT_EQ(NMR::lib3mf_model_addbuilditem(*model, *mesh, &identity, instances.Next()), LIB3MF_OK);
    ASSERT_EQ(NMR::lib3mf_model_addbuilditem(*model, *mesh, &turned, instances.Next()), LIB3MF_OK);
    NMR::PLib3MFBase** writer = instances.Next();
    ASSERT_EQ(NMR::lib3mf_model_querywriter(*model, "3mf", writer), LIB3MF_OK);
    ASSERT_EQ(NMR::lib3mf_writer_writetofileutf8(*writer, path.c_str()), LIB3MF_OK);
  }
  MeshArrays back;
  ASSERT_TRUE(Load3mf(path, back));
  EXPECT_EQ(back.positions,
            (std::vector<Vec3f>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {10, 0, 0}, {10, 1, 0}, {9, 0, 0}}));
  EXPECT_EQ(back.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(Load3mf, RefusesMissingTruncatedAndForeignFiles) {
  testing::TempFolder folder;
  const MeshArrays grid = testing::MakeGrid(2, 2, false);
  ASSERT_TRUE(Save3mf(folder / "g.3mf", grid.positions, grid.indices, {}, {}));
  const std::string whole = testing::ReadFileBytes(folder / "g.3mf");
  testing::WriteFileBytes(folder / "half.3mf", whole.substr(0, whole.size() / 2));
  testing::WriteFileBytes(folder / "text.3mf", "solid nothing\nendsolid\n");
  for (const char* name : {"none.3mf", "half.3mf", "text.3mf"}) {
    MeshArrays mesh;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(Load3mf(folder / name, mesh)) << name;
    EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
    EXPECT_TRUE(mesh.positions.empty());
  }
}

}  // namespace
}  // namespace surf
