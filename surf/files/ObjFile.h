#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>

#include "surf/files/ImportOptions.h"
#include "surf/mesh/MeshArrays.h"

namespace surf {

// Wavefront OBJ with its MTL material file.
//
// Reading takes "v" (x y z), "vt" (u v), "vn" (x y z), "f" with exactly three
// corners, each "p/t/n", "p//n", "p/t" or "p" (1-based indices), and
// "mtllib" (the rest of the line); other lines are ignored. When the texture
// indices equal the position indices the arrays are used as they are,
// otherwise every distinct (position, texture coordinate) pair becomes a
// vertex. Normals are kept when their indices equal the position indices.
// Texture coordinates are kept only when every corner has one; v is flipped
// into the row order of the texture (MeshArrays). The material file is found
// relative to the OBJ's folder unless absolute; its first "map_Kd" line
// (keyword in any case) names the texture image, relative to the MTL's
// folder unless absolute, loaded through img::LoadUniImage.
//
// Failures print one line to standard error and leave the mesh unchanged:
// "  vertex error in OBJ", "  texture coordinate error in OBJ", "  surface
// normal error in OBJ", "  index error in OBJ" (with the line number), a face
// with other than three corners, a line longer than kMaxObjLineLength, a
// material file or texture image that cannot be read. An MTL without
// "map_Kd" prints "failed!" and the mesh loads untextured.

inline constexpr std::size_t kMaxObjLineLength = 1 << 16;

// Reads OBJ text; folder is where "mtllib" names are looked up. totalBytes,
// when known, scales the progress.
bool ParseObj(std::istream& in, const std::filesystem::path& folder, MeshArrays& mesh,
              const ImportOptions& options = {}, std::uint64_t totalBytes = 0);

// Reads an OBJ file; one that cannot be opened prints "Can't open " and the
// path.
bool LoadObj(const std::filesystem::path& path, MeshArrays& mesh, const ImportOptions& options = {});

// The one material "default" with the texture image textureFileName:
// "newmtl default", "Ka 0.6 0.6 0.6", "Kd 0.6 0.6 0.6", "Ks 0.9 0.9 0.9",
// "d  1.0", "Ns 0.0", "illum 2", "map_Kd " + name, each line ended by "\n".
// False when the file cannot be written.
bool SaveMtl(const std::filesystem::path& path, const std::string& textureFileName);

struct ObjExportOptions {
  std::string textureFormat = "png";  // "png" or "jpg"
  int textureQuality = 95;            // JPEG quality, 1…100
};

// Writes the mesh as OBJ ("# Mesh file generated with Tarvelin Software
// Pro", then "v", "vt" and "vn" lines, and faces "f p/t/n" with the indices
// the mesh has). With a texture image, the image goes beside the OBJ as
// <stem>.png or <stem>.jpg, the material as <stem>.mtl (SaveMtl), and the OBJ
// names them with "mtllib <stem>.mtl" and "usemtl default". Coordinates are
// written in the shortest form that reads back to the same float. Every file
// goes through a temporary file. False, with one "Error: ..." line on
// standard error, for invalid arrays, a texture quality outside 1…100
// ("Error: Texture quality is Q, it is out of limit range 1-100"), an unknown
// texture format or a file that cannot be written.
bool SaveObj(const std::filesystem::path& path, const MeshArrays& mesh, const ObjExportOptions& options = {});

}  // namespace surf
