#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "surf/mesh/MeshArrays.h"
#include "v3d/Geo.h"
#include "v3d/Texture.h"

namespace surf {

// A geo with the textures its meshes use: one scan of the scan list, or the
// fusion result. The geo and the textures are shared with the scene graph.
//
// Outside a scene a mesh's texture ID is an index into `textures` (-1 for
// none). Whoever adds the geo to a scene adds the textures there and sets the
// meshes' IDs to the scene's slots; readers and writers of this subsystem
// work on detached items only.
struct GeoItem {
  std::shared_ptr<v3d::Geo> geo;
  std::vector<std::shared_ptr<v3d::Texture>> textures;

  // The texture of a mesh: null for an ID outside the texture list.
  const v3d::Texture* GetMeshTexture(const v3d::Mesh& mesh) const;
  // The texture with that guid, or null.
  const v3d::Texture* FindTexture(const utils::Guid& guid) const;
};

// The texture as an image in blue-green-red order: grey and RGB(A) textures
// of unsigned bytes are converted (alpha is dropped); other formats give an
// empty image.
img::RGBImage TextureToImage(const v3d::Texture& texture);

// A new item with one triangle mesh made of the arrays (positions, triangles
// and the attributes they have) and, when the arrays carry a texture image,
// one texture bound to it. Throws std::invalid_argument for arrays that are
// not valid (MeshArrays::IsValid).
GeoItem MakeGeoItem(const MeshArrays& mesh);

// All triangle and quad meshes of the item in one array set, with the geo's
// frame applied to positions and normals (so coordinates are those of the
// geo's parent, mm); quads are split into two triangles, points and lines are
// left out. An attribute is kept only when every mesh taken has it. The
// texture of the first textured mesh is kept, with the texture coordinates,
// when every mesh taken has coordinates and uses that texture.
MeshArrays FlattenGeoItem(const GeoItem& item);

}  // namespace surf
