#include "surf/mesh/GeoItem.h"

#include <stdexcept>

#include "v3d/GlEnums.h"

namespace surf {
namespace {

bool Every(const v3d::Geo& geo, bool (*test)(const v3d::Mesh&)) {
  for (const auto& mesh : geo) {
    if ((mesh->GetPrimSize() == 3 || mesh->GetPrimSize() == 4) && !test(*mesh)) return false;
  }
  return true;
}

// The triangles of one mesh: prim size 3 as they are, each quad a, b, c, d
// as a, b, c and a, c, d.
void AppendTriangles(const v3d::Mesh& mesh, std::uint32_t offset, std::vector<std::uint32_t>& out) {
  const std::vector<std::uint32_t>& prims = mesh.GetPrims();
  const std::size_t n = mesh.GetNumVertices();
  const std::uint32_t size = mesh.GetPrimSize();
  for (std::size_t p = 0; p + size <= prims.size(); p += size) {
    const std::uint32_t* q = prims.data() + p;
    bool inside = true;
    for (std::uint32_t k = 0; k < size; ++k) inside = inside && q[k] < n;
    if (!inside) continue;
    out.insert(out.end(), {q[0] + offset, q[1] + offset, q[2] + offset});
    if (size == 4) out.insert(out.end(), {q[0] + offset, q[2] + offset, q[3] + offset});
  }
}

}  // namespace

const v3d::Texture* GeoItem::GetMeshTexture(const v3d::Mesh& mesh) const {
  const std::int32_t id = mesh.GetTextureID();
  if (id < 0 || static_cast<std::size_t>(id) >= textures.size()) return nullptr;
  return textures[static_cast<std::size_t>(id)].get();
}

const v3d::Texture* GeoItem::FindTexture(const utils::Guid& guid) const {
  for (const auto& texture : textures) {
    if (texture && texture->GetGuid() == guid) return texture.get();
  }
  return nullptr;
}

img::RGBImage TextureToImage(const v3d::Texture& texture) {
  img::RGBImage image;
  if (texture.GetType() != v3d::gl::kUnsignedByte || !texture.HasData()) return image;
  const v3d::gl::Enum format = texture.GetFormat();
  const std::int32_t components = texture.GetNumComponents();
  if (format != v3d::gl::kBgr && format != v3d::gl::kRgb && format != v3d::gl::kRgba && format != v3d::gl::kBgra &&
      format != v3d::gl::kLuminance && format != v3d::gl::kRed) {
    return image;
  }
  image.ResetSize(static_cast<std::uint32_t>(texture.GetWidth()),
                  static_cast<std::uint32_t>(texture.GetHeight()));
  const std::uint8_t* src = texture.GetData().data();
  const bool bgrOrder = format == v3d::gl::kBgr || format == v3d::gl::kBgra;
  for (std::int32_t i = 0; i < image.size; ++i, src += components) {
    if (components == 1) {
      image.data[i] = {src[0], src[0], src[0]};
    } else if (bgrOrder) {
      image.data[i] = {src[0], src[1], src[2]};
    } else {
      image.data[i] = {src[2], src[1], src[0]};
    }
  }
  return image;
}

GeoItem MakeGeoItem(const MeshArrays& arrays) {
  std::string error;
  if (!arrays.IsValid(&error)) throw std::invalid_argument("surf::MakeGeoItem - " + error + ".");
  GeoItem item;
  item.geo = std::make_shared<v3d::Geo>();
  v3d::Mesh& mesh = *item.geo->AddMesh(3);
  mesh.mGetVertexCoords() = arrays.positions;
  if (!arrays.normals.empty()) mesh.mGetVertexNormals() = arrays.normals;
  if (!arrays.colors.empty()) mesh.mGetVertexColors() = arrays.colors;
  if (!arrays.texCoords.empty()) mesh.mGetVertexTexCoords() = arrays.texCoords;
  mesh.mGetPrims() = arrays.indices;
  if (!arrays.texture.IsEmpty()) {
    auto texture = std::make_shared<v3d::Texture>();
    texture->SetImage(arrays.texture);
    item.textures.push_back(std::move(texture));
    mesh.SetTextureID(0);
  }
  return item;
}

MeshArrays FlattenGeoItem(const GeoItem& item) {
  MeshArrays out;
  if (!item.geo) return out;
  const v3d::Geo& geo = *item.geo;
  const bool normals = Every(geo, [](const v3d::Mesh& m) { return m.HasVertexNormals(); });
  const bool colors = Every(geo, [](const v3d::Mesh& m) { return m.HasVertexColors(); });
  const bool texCoords = Every(geo, [](const v3d::Mesh& m) { return m.HasVertexTexCoords(); });

  const v3d::Texture* texture = nullptr;
  bool oneTexture = texCoords;
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() != 3 && mesh->GetPrimSize() != 4) continue;
    const v3d::Texture* own = item.GetMeshTexture(*mesh);
    if (!texture) texture = own;
    if (own != texture || !own) oneTexture = false;
  }
  if (texture && oneTexture) out.texture = TextureToImage(*texture);
  const bool keepTexCoords = texCoords && (!texture || oneTexture);

  const math::Frame4d& frame = geo.GetFrame();
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() != 3 && mesh->GetPrimSize() != 4) continue;
    const auto offset = static_cast<std::uint32_t>(out.positions.size());
    for (const math::Vec3f& p : mesh->GetVertexCoords()) out.positions.push_back(frame.MultP(p));
    if (normals) {
      for (const math::Vec3f& n : mesh->GetVertexNormals()) out.normals.push_back(frame.MultV(n));
    }
    if (colors) out.colors.insert(out.colors.end(), mesh->GetVertexColors().begin(), mesh->GetVertexColors().end());
    if (keepTexCoords) {
      out.texCoords.insert(out.texCoords.end(), mesh->GetVertexTexCoords().begin(),
                           mesh->GetVertexTexCoords().end());
    }
    AppendTriangles(*mesh, offset, out.indices);
  }
  return out;
}

}  // namespace surf
