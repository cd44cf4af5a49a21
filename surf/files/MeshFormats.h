#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "surf/mesh/GeoItem.h"
#include "surf/files/ImportOptions.h"
#include "surf/files/MeshFile.h"
#include "surf/files/ObjFile.h"
#include "surf/files/PlyFile.h"
#include "surf/files/ProjectFile.h"

namespace surf {

// The mesh file formats, chosen by file extension (any case).
enum class MeshFormat {
  kUnknown,
  kChunkMesh,  // ".tarvelinmesh", ".zentomesh": the own single-object format
  kStl,        // binary STL
  kObj,        // OBJ with MTL and texture image
  kPly,        // PLY, ASCII or binary
  k3mf,        // 3MF (geometry only on reading)
};

MeshFormat MeshFormatOf(const std::filesystem::path& path);
bool CanLoad(MeshFormat format);
bool CanSave(MeshFormat format);
// ".tarvelinmesh, .zentomesh, .stl, .obj" and the like, for messages.
std::string LoadableExtensions();
std::string SavableExtensions();

// Reads a mesh file of a loadable format into a new item: the chunk mesh
// file as stored, STL, OBJ, PLY and 3MF as one triangle mesh (MakeGeoItem)
// named after the file's stem. source, when given, receives the stored source of a chunk
// mesh file (kNone for the other formats). False, with a message on standard
// error, for an unknown extension or a file that cannot be read; item is
// then unchanged.
bool LoadMesh(const std::filesystem::path& path, GeoItem& item, const ImportOptions& options = {},
              GeoSource* source = nullptr);

struct MeshExportOptions {
  ObjExportOptions obj;
  PlyEncoding plyEncoding = PlyEncoding::kBinary;
};

// Writes the item in the format of the path's extension: the chunk mesh file
// keeps the whole item; the others take FlattenGeoItem's arrays (texture and
// texture coordinates where the format has them: OBJ, binary PLY, 3MF).
// False, with a message on standard error, for an unknown extension or a
// failed write.
bool SaveMesh(const std::filesystem::path& path, const GeoItem& item, const MeshExportOptions& options = {},
              GeoSource source = GeoSource::kNone);

// The scan list's "add a mesh file" (ShapeFusion::AddGeo, file form):
// -1 for an empty path; otherwise the file is read by its extension (".ZENTOMESH" and
// ".TARVELINMESH" chunk mesh files, ".STL" binary STL, ".PLY" PLY, ".3MF"
// 3MF, anything else OBJ).
// A chunk mesh file stored as "FusionResult" replaces the fusion result and
// gives kAddedFusionResult; any other file is appended to the scans and its
// index returned. A failure prints "Mesh file could not be loaded!", gives -2
// and leaves data unchanged.
inline constexpr int kAddedFusionResult = -3;
int AddGeoFromFile(ScanListData& data, const std::filesystem::path& path, const ImportOptions& options = {});

}  // namespace surf
