#include "v3d/GeoChunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "v3d/GeoTools.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

using math::Vec3f;
using utils::ChunkNode;

// A geo with every attribute on one mesh, lines without attributes on a
// second and an empty forced attribute on a third.
std::unique_ptr<Geo> MakeGeo() {
  auto geo = std::make_unique<Geo>();
  geo->SetName("scan 7");
  math::Frame4d frame = math::FRotX(0.3);
  frame.SetTrans(1.5, -2.0, 30.0);
  geo->SetFrame(frame);
  geo->SetVisibility(0x15);
  Mesh* full = CreateParallelepiped(*geo, Vec3f(0.1f, 0.2f, 0.3f), Vec3f(1.f, 0.f, 0.f),
                                    Vec3f(0.f, 2.f, 0.f), Vec3f(0.f, 0.f, 3.f));
  full->Surface::SetName("box");
  full->SetGlobalColor(Color4ub(9, 8, 7, 6));
  CalcVertexNormals(*geo);
  full->AddVertexTexCoords();
  full->AddVertexQualities();
  full->AddVertexColors();
  for (std::uint32_t i = 0; i < 8; ++i) {
    full->mGetVertexTexCoords()[i] = math::Vec2f(i * 0.125f, 1.f - i * 0.1f);
    full->mGetVertexQualities()[i] = 0.5f + i;
    full->SetVertexColor(Color4ub(std::uint8_t(i), std::uint8_t(2 * i), 3, 255), i);
  }
  Mesh* lines = geo->AddMesh(2);
  lines->AddVertex(Vec3f(-1.f, -1.f, -1.f));
  lines->AddVertex(Vec3f(1.f, 1.f, 1.f));
  lines->AddPrim(0, 1);
  Mesh* empty = geo->AddMesh(1);
  empty->AddVertexNormals();
  return geo;
}

std::string Serialise(const ChunkNode::Ptr& root) {
  std::ostringstream out;
  root->Save(out);
  return out.str();
}

ChunkNode::Ptr ThroughStream(const ChunkNode::Ptr& root) {
  std::istringstream in(Serialise(root));
  return ChunkNode::Load(in);
}

template <typename T>
bool SameBytes(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

TEST(GeoChunk, RoundTripKeepsEverythingByteForByte) {
  const auto geo = MakeGeo();
  const auto read = ReadGeo(ThroughStream(WriteGeo(*geo)));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->GetName(), "scan 7");
  EXPECT_EQ(read->GetGuid(), geo->GetGuid());
  EXPECT_EQ(std::memcmp(read->GetFrame().data(), geo->GetFrame().data(), 128), 0);
  EXPECT_EQ(read->GetVisibility(), 0x15u);
  ASSERT_EQ(read->GetNumMeshes(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const Mesh& a = *geo->GetMesh(i);
    const Mesh& b = *read->GetMesh(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(b.GetGuid(), a.GetGuid());
    EXPECT_EQ(b.Surface::GetName(), a.Surface::GetName());
    EXPECT_EQ(b.GetGlobalColor(), a.GetGlobalColor());
    EXPECT_EQ(b.GetPrimSize(), a.GetPrimSize());
    EXPECT_TRUE(SameBytes(b.GetVertexCoords(), a.GetVertexCoords()));
    EXPECT_TRUE(SameBytes(b.GetVertexNormals(), a.GetVertexNormals()));
    EXPECT_TRUE(SameBytes(b.GetVertexTexCoords(), a.GetVertexTexCoords()));
    EXPECT_TRUE(SameBytes(b.GetVertexQualities(), a.GetVertexQualities()));
    EXPECT_TRUE(SameBytes(b.GetVertexColors(), a.GetVertexColors()));
    EXPECT_TRUE(SameBytes(b.GetPrims(), a.GetPrims()));
    EXPECT_EQ(b.HasVertexNormals(), a.HasVertexNormals());
    EXPECT_EQ(b.HasVertexColors(), a.HasVertexColors());
    EXPECT_EQ(b.HasVertexTexCoords(), a.HasVertexTexCoords());
    EXPECT_EQ(b.HasVertexQualities(), a.HasVertexQualities());
  }
  // Writing what was read gives the same bytes again.
  EXPECT_EQ(Serialise(WriteGeo(*read)), Serialise(WriteGeo(*geo)));
}

TEST(GeoChunk, LayoutOfTheTree) {
  const auto root = WriteGeo(*MakeGeo());
  EXPECT_EQ(root->GetName(), "geo");
  EXPECT_EQ(root->version, 1u);
  EXPECT_EQ(root->requiredVersion, 1u);
  std::vector<std::string> names;
  for (const auto& child : root->GetChildren()) names.push_back(child->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"name", "guid", "frame", "visibility", "mesh", "mesh", "mesh"}));
  names.clear();
  for (const auto& child : root->GetChildren()[4]->GetChildren()) names.push_back(child->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"name", "guid", "globalColor", "positions", "normals",
                                             "texCoords", "qualities", "colors", "primSize", "prims"}));
  const auto lines = root->GetChildren()[5];
  EXPECT_EQ(lines->FindChild("normals"), nullptr);
  EXPECT_EQ(lines->Child("positions")->GetDataSize(), 24u);
  EXPECT_EQ(lines->Child("globalColor")->GetBytes(), (std::vector<std::uint8_t>{128, 128, 128, 255}));
  EXPECT_EQ(root->Child("frame")->GetDataSize(), 128u);
  // The translation sits in doubles 12, 13, 14.
  EXPECT_EQ(root->Child("frame")->GetArray<double>()[12], 1.5);
  // The forced but empty normals are written with an empty payload.
  EXPECT_EQ(root->GetChildren()[6]->Child("normals")->GetDataSize(), 0u);
}

TEST(GeoChunk, NullNodeGivesNoGeo) { EXPECT_EQ(ReadGeo(nullptr), nullptr); }

TEST(GeoChunk, MissingAndEmptyAttributes) {
  auto root = WriteGeo(*MakeGeo());
  const auto read = ReadGeo(root);
  EXPECT_FALSE(read->GetMesh(1)->HasVertexNormals());
  EXPECT_TRUE(read->GetMesh(2)->HasVertexNormals());
  EXPECT_TRUE(read->GetMesh(2)->GetVertexNormals().empty());
  // An empty payload on a mesh with vertices switches the attribute on
  // with defaults, one per vertex.
  root->GetChildren()[5]->NewChild("qualities");
  const auto filled = ReadGeo(root);
  EXPECT_EQ(filled->GetMesh(1)->GetVertexQualities(), (std::vector<float>{0.f, 0.f}));
}

TEST(GeoChunk, TextureGuidsGoThroughLookupAndResolver) {
  auto geo = MakeGeo();
  Texture texture;
  geo->GetMesh(0)->SetTextureID(3);
  geo->GetMesh(1)->SetTextureID(300);  // beyond the slots: never written
  geo->GetMesh(2)->SetTextureID(4);    // lookup finds nothing: not written
  const auto root = WriteGeo(*geo, [&](std::int32_t id) { return id == 3 ? &texture : nullptr; });
  EXPECT_NE(root->GetChildren()[4]->FindChild("textureGuid"), nullptr);
  EXPECT_EQ(root->GetChildren()[5]->FindChild("textureGuid"), nullptr);
  EXPECT_EQ(root->GetChildren()[6]->FindChild("textureGuid"), nullptr);

  std::vector<std::pair<std::uint32_t, utils::Guid>> calls;
  ReadGeo(root, [&](Mesh& mesh, const utils::Guid& guid) { calls.emplace_back(mesh.GetIndex(), guid); });
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].first, 0u);
  EXPECT_EQ(calls[0].second, texture.GetGuid());
  // Without a resolver the guid is ignored.
  EXPECT_EQ(ReadGeo(root)->GetMesh(0)->GetTextureID(), -1);
}

TEST(GeoChunk, WriterUsesTheScenesTexturesByDefault) {
  Scene scene;
  auto* geo = MakeGeo().release();
  scene.AddNode(geo, nullptr, true);
  auto* texture = new Texture();
  geo->GetMesh(1)->SetTextureID(scene.AddTexture(texture, true));
  const auto root = WriteGeo(*geo);
  utils::Guid guid;
  root->GetChildren()[5]->Child("textureGuid")->GetData(guid.Data(), 16);
  EXPECT_EQ(guid, texture->GetGuid());
}

// Each corruption is applied to a fresh tree and must give the named
// exception, never a crash or a Geo that breaks the mesh invariants.
TEST(GeoChunk, CorruptTreesThrow) {
  using Mutate = void (*)(ChunkNode&);
  struct Case {
    const char* what;
    Mutate mutate;
  };
  const Case formatCases[] = {
      {"prim index past the vertex count",
       [](ChunkNode& r) { r.GetChildren()[5]->Child("prims")->SetArray(std::vector<std::uint32_t>{0, 2}); }},
      {"prim size 0", [](ChunkNode& r) { r.GetChildren()[5]->Child("primSize")->SetValue<std::int32_t>(0); }},
      {"prim size 5", [](ChunkNode& r) { r.GetChildren()[5]->Child("primSize")->SetValue<std::int32_t>(5); }},
      {"fewer normals than positions",
       [](ChunkNode& r) {
         auto normals = r.GetChildren()[4]->Child("normals");
         normals->SetData(normals->GetBytes().data(), 12 * 7);
       }},
      {"more colours than positions",
       [](ChunkNode& r) { r.GetChildren()[4]->Child("colors")->SetArray(std::vector<Color4ub>(9)); }},
  };
  for (const Case& c : formatCases) {
    auto root = WriteGeo(*MakeGeo());
    c.mutate(*root);
    EXPECT_THROW(ReadGeo(root), utils::InvalidChunkFormatException) << c.what;
  }
  const Case sizeCases[] = {
      {"positions not a multiple of 12",
       [](ChunkNode& r) {
         auto positions = r.GetChildren()[4]->Child("positions");
         positions->SetData(positions->GetBytes().data(), 95);
       }},
      {"short frame", [](ChunkNode& r) { r.Child("frame")->SetData(r.Child("frame")->GetBytes().data(), 120); }},
      {"short visibility", [](ChunkNode& r) { r.Child("visibility")->SetValue<std::int16_t>(1); }},
      {"guid of 15 bytes", [](ChunkNode& r) { r.Child("guid")->SetData(r.Child("guid")->GetBytes().data(), 15); }},
      {"texture coordinates of 7 bytes",
       [](ChunkNode& r) { r.GetChildren()[4]->Child("texCoords")->SetData("1234567", 7); }},
  };
  for (const Case& c : sizeCases) {
    auto root = WriteGeo(*MakeGeo());
    c.mutate(*root);
    EXPECT_THROW(ReadGeo(root), utils::InvalidChunkSizeException) << c.what;
  }
}

TEST(GeoChunk, MissingChunksAndVersions) {
  for (const char* name : {"name", "guid", "frame", "visibility"}) {
    auto root = WriteGeo(*MakeGeo());
    auto pruned = ChunkNode::NewNode("geo");
    pruned->version = pruned->requiredVersion = 1;
    for (const auto& child : root->GetChildren()) {
      if (child->GetName() != name) pruned->AddChild(child);
    }
    EXPECT_THROW(ReadGeo(pruned), utils::ChunkNotFoundException) << name;
  }
  for (const char* name : {"primSize", "positions", "prims", "globalColor"}) {
    auto root = WriteGeo(*MakeGeo());
    auto mesh = root->GetChildren()[5];
    auto replacement = ChunkNode::NewNode("mesh");
    for (const auto& child : mesh->GetChildren()) {
      if (child->GetName() != name) replacement->AddChild(child);
    }
    auto rebuilt = ChunkNode::NewNode("geo");
    rebuilt->version = rebuilt->requiredVersion = 1;
    for (const auto& child : root->GetChildren()) rebuilt->AddChild(child == mesh ? replacement : child);
    EXPECT_THROW(ReadGeo(rebuilt), utils::ChunkNotFoundException) << name;
  }
  auto newer = WriteGeo(*MakeGeo());
  newer->requiredVersion = 2;
  EXPECT_THROW(ReadGeo(newer), utils::InvalidChunkVersionException);
  auto unversioned = WriteGeo(*MakeGeo());
  unversioned->version = 0;
  unversioned->requiredVersion = 0;
  EXPECT_THROW(ReadGeo(unversioned), utils::InvalidChunkVersionException);
}

TEST(GeoChunk, TruncatedStreamsNeverYieldATree) {
  const std::string bytes = Serialise(WriteGeo(*MakeGeo()));
  for (std::size_t size = 0; size < bytes.size(); size += 37) {
    std::istringstream in(bytes.substr(0, size));
    EXPECT_THROW(ChunkNode::Load(in), utils::InvalidChunkFormatException) << size;
  }
}

TEST(TextureChunk, RoundTripOfEachPixelFormat) {
  struct Format {
    gl::Enum format;
    const char* name;
    int components;
  };
  for (const Format f : {Format{gl::kBgr, "Bgr24", 3}, Format{gl::kRgb, "Rgb24", 3},
                         Format{gl::kRgba, "Rgba32", 4}, Format{gl::kLuminance, "Gray8", 1}}) {
    Texture texture;
    std::vector<std::uint8_t> pixels(5 * 3 * f.components);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(texture.ChangeImage(5, 3, f.format, gl::kUnsignedByte, pixels.data()));
    const auto root = ThroughStream(WriteTexture(texture));
    EXPECT_EQ(root->GetName(), "texture");
    EXPECT_EQ(root->Child("pixelFormat")->GetString(), f.name);
    const auto read = ReadTexture(root);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetGuid(), texture.GetGuid());
    EXPECT_EQ(read->GetWidth(), 5);
    EXPECT_EQ(read->GetHeight(), 3);
    EXPECT_EQ(read->GetFormat(), f.format);
    EXPECT_EQ(read->GetData(), pixels);
  }
}

TEST(TextureChunk, UnknownFormatsAndBadSizesThrow) {
  Texture floats;
  std::vector<float> values(4, 0.5f);
  floats.ChangeImage(2, 2, gl::kRed, gl::kFloat, values.data());
  const auto unknown = WriteTexture(floats);
  EXPECT_EQ(unknown->Child("pixelFormat")->GetString(), "Unknown");
  EXPECT_THROW(ReadTexture(unknown), utils::InvalidChunkFormatException);
  EXPECT_EQ(ReadTexture(nullptr), nullptr);

  Texture grey;
  std::vector<std::uint8_t> pixels(6, 1);
  grey.ChangeImage(3, 2, gl::kLuminance, gl::kUnsignedByte, pixels.data());
  auto shortBuffer = WriteTexture(grey);
  shortBuffer->Child("buffer")->SetData(pixels.data(), 5);
  EXPECT_THROW(ReadTexture(shortBuffer), utils::InvalidChunkFormatException);
  auto huge = WriteTexture(grey);
  huge->Child("width")->SetValue<std::int32_t>(0x7FFFFFFF);
  huge->Child("height")->SetValue<std::int32_t>(0x7FFFFFFF);
  EXPECT_THROW(ReadTexture(huge), utils::InvalidChunkFormatException);
  auto negative = WriteTexture(grey);
  negative->Child("width")->SetValue<std::int32_t>(-3);
  EXPECT_THROW(ReadTexture(negative), utils::InvalidChunkFormatException);
}

}  // namespace
}  // namespace v3d
