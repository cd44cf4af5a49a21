#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "surf/files/ImportOptions.h"
#include "surf/mesh/MeshArrays.h"

namespace surf {

// Binary STL: an 80-byte header, the uint32 triangle count n at offset 80,
// then n records of 50 bytes (normal, three vertices as 3 floats each, 2
// attribute bytes). ASCII STL is not read.

// Reads binary STL bytes. Accepted only when the size is exactly 84 + 50·n;
// every triangle appends its three vertices (the stored normal and the
// attribute bytes are ignored), then identical vertices are merged
// (UnifyIdenticalVertices). Prints ">" marks while reading and ">>>>>" after
// merging. False, with one "Error: ..." line on standard error, for a size
// mismatch or a cancelled import; mesh is then unchanged.
bool ParseStl(std::span<const std::uint8_t> bytes, MeshArrays& mesh, const ImportOptions& options = {});

// Reads a binary STL file (ParseStl). A file that cannot be opened prints
// "Can't open " and the path.
bool LoadStl(const std::filesystem::path& path, MeshArrays& mesh, const ImportOptions& options = {});

// The 80-byte header text of the files SaveStl writes.
inline constexpr char kStlHeaderText[] = "Tarvelin Software Pro exported STL";

// Writes the triangles as binary STL with their unit face normals (0, 0, 0
// for a degenerate triangle), through a temporary file. False, with one
// "Error: ..." line on standard error, for invalid arrays or an unwritable
// file.
bool SaveStl(const std::filesystem::path& path, const MeshArrays& mesh);

}  // namespace surf
