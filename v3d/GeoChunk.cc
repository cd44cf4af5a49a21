#include "v3d/GeoChunk.h"

#include <bit>
#include <cstring>
#include <string>

#include "v3d/Scene.h"

namespace v3d {
namespace {

static_assert(std::endian::native == std::endian::little,
              "chunk payloads are little-endian memory images");

constexpr char kWhere[] = "v3d::ReadGeo";

[[noreturn]] void Corrupt(const char* where, const std::string& message) {
  throw utils::InvalidChunkFormatException(where, message);
}

void SetGuid(utils::ChunkNode& node, const utils::Guid& guid) { node.SetData(guid.Data(), 16); }

// A 16-byte guid, or nothing for an empty payload.
bool GetGuid(const utils::ChunkNode& node, utils::Guid& guid) {
  if (node.GetDataSize() == 0) return false;
  node.GetData(guid.Data(), 16);
  return true;
}

template <typename T>
void WriteArray(utils::ChunkNode& mesh, const char* name, const std::vector<T>& values) {
  mesh.NewChild(name)->SetArray(values);
}

// An optional attribute: absent leaves it off; an empty payload switches it
// on with defaults; otherwise it needs one element per vertex.
template <typename T>
void ReadAttribute(const utils::ChunkNode& meshNode, const char* name, Mesh& mesh,
                   void (VertexBuffer::*enable)(), std::vector<T>& (VertexBuffer::*array)()) {
  const utils::ChunkNode::Ptr node = meshNode.FindChild(name);
  if (!node) return;
  std::vector<T> values = node->GetArray<T>();
  (mesh.*enable)();
  if (values.empty()) return;
  if (values.size() != mesh.GetNumVertices()) {
    Corrupt(kWhere, std::string("Invalid number of ") + name + ": " + std::to_string(values.size()) +
                        " for " + std::to_string(mesh.GetNumVertices()) + " vertices.");
  }
  (mesh.*array)() = std::move(values);
}

void ReadMesh(const utils::ChunkNode& node, Geo& geo, const TextureResolver& resolver) {
  const auto primSize = node.Child("primSize")->GetValue<std::int32_t>();
  if (primSize < 1 || primSize > 4) {
    Corrupt(kWhere, "Invalid prim size: " + std::to_string(primSize) + ".");
  }
  Mesh& mesh = *geo.AddMesh(static_cast<std::uint32_t>(primSize));
  mesh.Surface::SetName(node.Child("name")->GetString());
  utils::Guid guid;
  if (GetGuid(*node.Child("guid"), guid)) mesh.SetGuid(guid);
  mesh.SetGlobalColor(node.Child("globalColor")->GetValue<Color4ub>());
  mesh.mGetVertexCoords() = node.Child("positions")->GetArray<VertexBuffer::Position>();
  ReadAttribute(node, "normals", mesh, &VertexBuffer::AddVertexNormals,
                &VertexBuffer::mGetVertexNormals);
  ReadAttribute(node, "texCoords", mesh, &VertexBuffer::AddVertexTexCoords,
                &VertexBuffer::mGetVertexTexCoords);
  ReadAttribute(node, "qualities", mesh, &VertexBuffer::AddVertexQualities,
                &VertexBuffer::mGetVertexQualities);
  ReadAttribute(node, "colors", mesh, &VertexBuffer::AddVertexColors,
                &VertexBuffer::mGetVertexColors);

  std::vector<std::uint32_t> prims = node.Child("prims")->GetArray<std::uint32_t>();
  const std::size_t numVertices = mesh.GetNumVertices();
  for (std::uint32_t index : prims) {
    if (index >= numVertices) {
      Corrupt(kWhere, "Prim index " + std::to_string(index) + " is not below the vertex count " +
                          std::to_string(numVertices) + ".");
    }
  }
  mesh.mGetPrims() = std::move(prims);

  if (const auto textureNode = node.FindChild("textureGuid")) {
    utils::Guid textureGuid;
    if (GetGuid(*textureNode, textureGuid) && resolver) resolver(mesh, textureGuid);
  }
}

struct PixelFormat {
  const char* name;
  gl::Enum format;
  std::int32_t bytesPerPixel;
};
constexpr PixelFormat kPixelFormats[] = {
    {"Bgr24", gl::kBgr, 3}, {"Rgb24", gl::kRgb, 3}, {"Rgba32", gl::kRgba, 4}, {"Gray8", gl::kLuminance, 1}};

const char* PixelFormatName(const Texture& texture) {
  if (texture.GetType() != gl::kUnsignedByte) return "Unknown";
  const gl::Enum format = texture.GetFormat() == gl::kRed ? gl::kLuminance : texture.GetFormat();
  for (const PixelFormat& f : kPixelFormats) {
    if (f.format == format) return f.name;
  }
  return "Unknown";
}

}  // namespace

utils::ChunkNode::Ptr WriteGeo(const Geo& geo, const TextureLookup& lookup) {
  auto root = utils::ChunkNode::NewNode("geo");
  root->version = 1;
  root->requiredVersion = 1;
  root->NewChild("name")->SetString(geo.GetName());
  SetGuid(*root->NewChild("guid"), geo.GetGuid());
  root->NewChild("frame")->SetData(geo.GetFrame().data(), 16 * sizeof(double));
  root->NewChild("visibility")->SetValue(static_cast<std::int32_t>(geo.GetVisibility()));

  const Scene* scene = geo.GetScene();
  for (const auto& mesh : geo) {
    auto node = root->NewChild("mesh");
    node->NewChild("name")->SetString(mesh->Surface::GetName());
    SetGuid(*node->NewChild("guid"), mesh->GetGuid());
    node->NewChild("globalColor")->SetValue(mesh->GetGlobalColor());
    WriteArray(*node, "positions", mesh->GetVertexCoords());
    if (mesh->HasVertexNormals()) WriteArray(*node, "normals", mesh->GetVertexNormals());
    if (mesh->HasVertexTexCoords()) WriteArray(*node, "texCoords", mesh->GetVertexTexCoords());
    if (mesh->HasVertexQualities()) WriteArray(*node, "qualities", mesh->GetVertexQualities());
    if (mesh->HasVertexColors()) WriteArray(*node, "colors", mesh->GetVertexColors());
    node->NewChild("primSize")->SetValue(static_cast<std::int32_t>(mesh->GetPrimSize()));
    WriteArray(*node, "prims", mesh->GetPrims());

    const std::int32_t textureID = mesh->GetTextureID();
    if (textureID >= 0 && textureID < Scene::kMaxTextures) {
      const Texture* texture = lookup ? lookup(textureID) : scene ? scene->GetTexture(textureID) : nullptr;
      if (texture) SetGuid(*node->NewChild("textureGuid"), texture->GetGuid());
    }
  }
  return root;
}

std::unique_ptr<Geo> ReadGeo(const utils::ChunkNode::Ptr& node, const TextureResolver& resolver) {
  if (!node) return nullptr;
  node->CheckVersion();
  auto geo = std::make_unique<Geo>();
  geo->SetName(node->Child("name")->GetString());
  utils::Guid guid;
  if (GetGuid(*node->Child("guid"), guid)) geo->SetGuid(guid);
  math::Frame4d frame;
  node->Child("frame")->GetData(frame.data(), 16 * sizeof(double));
  geo->SetFrame(frame);
  geo->SetVisibility(static_cast<std::uint32_t>(node->Child("visibility")->GetValue<std::int32_t>()));
  for (const auto& meshNode : node->FindChildren("mesh")) ReadMesh(*meshNode, *geo, resolver);
  return geo;
}

utils::ChunkNode::Ptr WriteTexture(const Texture& texture) {
  auto root = utils::ChunkNode::NewNode("texture");
  SetGuid(*root->NewChild("guid"), texture.GetGuid());
  root->NewChild("width")->SetValue<std::int32_t>(texture.GetWidth());
  root->NewChild("height")->SetValue<std::int32_t>(texture.GetHeight());
  root->NewChild("pixelFormat")->SetString(PixelFormatName(texture));
  root->NewChild("buffer")->SetArray(texture.GetData());
  return root;
}

std::unique_ptr<Texture> ReadTexture(const utils::ChunkNode::Ptr& node) {
  constexpr char kTextureWhere[] = "v3d::ReadTexture";
  if (!node) return nullptr;
  utils::Guid guid;
  const bool hasGuid = GetGuid(*node->Child("guid"), guid);
  const auto width = node->Child("width")->GetValue<std::int32_t>();
  const auto height = node->Child("height")->GetValue<std::int32_t>();
  const std::string formatName = node->Child("pixelFormat")->GetString();
  const utils::ChunkNode::Ptr buffer = node->Child("buffer");

  const PixelFormat* format = nullptr;
  for (const PixelFormat& f : kPixelFormats) {
    if (formatName == f.name) format = &f;
  }
  if (!format) Corrupt(kTextureWhere, "Unsupported pixel format: " + formatName + ".");
  if (width < 1 || height < 1) {
    Corrupt(kTextureWhere, "Invalid texture size " + std::to_string(width) + " x " +
                               std::to_string(height) + ".");
  }
  // Compared without overflow: w·h·bpp must equal the payload size.
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  const std::uint64_t bytes = buffer->GetDataSize();
  if (pixels > bytes || pixels * static_cast<std::uint64_t>(format->bytesPerPixel) != bytes) {
    Corrupt(kTextureWhere, "Invalid texture buffer size: " + std::to_string(bytes) + ".");
  }
  auto texture = std::make_unique<Texture>();
  if (hasGuid) texture->SetGuid(guid);
  texture->ChangeImage(width, height, format->format, gl::kUnsignedByte, buffer->GetBytes().data());
  return texture;
}

}  // namespace v3d
