#pragma once

#include <functional>
#include <memory>

#include "foundation/utils/ChunkNode.h"
#include "foundation/utils/Guid.h"
#include "v3d/Geo.h"
#include "v3d/Texture.h"

namespace v3d {

// The chunk trees of a Geo and of a texture, the units of mesh files and
// project containers.
//
// "geo" (version 1, required version 1): "name", "guid", "frame" (16 doubles,
// column-major parent_T_geo), "visibility" (int32 mask), then one "mesh" per
// mesh in order with "name", "guid", "globalColor" (r, g, b, a bytes),
// "positions" (3 floats each), the optional "normals", "texCoords",
// "qualities", "colors" (written when the attribute is present), "primSize"
// (int32, 1…4), "prims" (uint32 indices) and the optional "textureGuid".
//
// "texture": "guid", "width", "height" (int32), "pixelFormat" ("Bgr24",
// "Rgb24", "Rgba32", "Gray8" or "Unknown") and "buffer" (rows from the top).

// Finds the texture of a texture slot for the writer; null for none.
using TextureLookup = std::function<const Texture*(std::int32_t textureID)>;
// Binds the texture with that guid to a mesh being read (the caller's textures).
using TextureResolver = std::function<void(Mesh& mesh, const utils::Guid& textureGuid)>;

// The "geo" tree (a root node, level 0). A mesh gets a "textureGuid" when
// its texture ID is below 256 and the lookup finds a texture; without a
// lookup, the textures of the Geo's scene are used.
utils::ChunkNode::Ptr WriteGeo(const Geo& geo, const TextureLookup& lookup = {});

// Reads a "geo" tree; null for a null node. Throws the chunk exceptions of
// utils for missing chunks, wrong payload sizes and unsupported versions,
// and utils::InvalidChunkFormatException for contents that break the mesh
// invariants (prim size outside 1…4, an attribute count that differs from
// the vertex count, a prim index past the vertex count). An empty payload
// of an optional attribute switches it on with default values. The resolver,
// when given, is called for every mesh with a "textureGuid".
std::unique_ptr<Geo> ReadGeo(const utils::ChunkNode::Ptr& node,
                             const TextureResolver& resolver = {});

// The "texture" tree; formats other than unsigned bytes in BGR, RGB, RGBA
// or one grey channel are written as "Unknown".
utils::ChunkNode::Ptr WriteTexture(const Texture& texture);
// Reads a "texture" tree; null for a null node. Throws like ReadGeo, also
// for an "Unknown" format or a buffer of the wrong size.
std::unique_ptr<Texture> ReadTexture(const utils::ChunkNode::Ptr& node);

}  // namespace v3d
