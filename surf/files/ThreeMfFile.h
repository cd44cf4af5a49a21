#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "surf/mesh/MeshArrays.h"

namespace surf {

// 3MF export through lib3mf's C interface (interface version 1.x).
//
// The vertices are first merged (UnifyIdenticalVertices) and the triangles
// remapped; a model with one mesh object and one build item (no transform)
// is written. With a texture image (blue-green-red pixels), the image goes
// into the package as PNG at "/3D/Texture/texture.png" and every triangle
// gets the texture with the coordinates (u, 1 - v) of its three corners from
// textureCoordinates (one per vertex, indexed like positions; triangles that
// merging drops take their coordinates with them). Any lib3mf failure prints
// its step ("Could not create Model", "Could not add mesh object", "Could not
// set mesh geometry", "Could not add texture.", "Could not create build
// item", "Could not create model reader" (the writer query), "Could not write
// file"), ": ", the result code in hexadecimal, a line break, "error #", the
// library's last error code in hexadecimal, ": " and its text, and gives
// false; an interface version whose major number is not 1 prints "invalid
// 3MF Library version: " with the version. Invalid arrays give false with an
// "Error: ..." line. The file goes through a temporary file.
bool Save3mf(const std::filesystem::path& path, const std::vector<math::Vec3f>& positions,
             const std::vector<std::uint32_t>& indices, const std::vector<math::Vec2f>& textureCoordinates,
             const img::RGBImage& textureImage);

// 3MF import through lib3mf: the mesh objects of every build item, moved by
// the item's transform, as one triangle mesh (positions and triangles only:
// colours, materials and textures are not read; items made of components are
// left out with a warning). False, with the step that failed on standard
// error, for a file that cannot be opened or read, or that holds no mesh.
bool Load3mf(const std::filesystem::path& path, MeshArrays& mesh);

// The lib3mf interface version as "major.minor.micro", or "" when it cannot
// be queried.
std::string Get3mfLibraryVersion();

}  // namespace surf
