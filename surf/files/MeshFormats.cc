#include "surf/files/MeshFormats.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "surf/files/StlFile.h"
#include "surf/files/ThreeMfFile.h"

namespace surf {
namespace {

std::string UpperExtension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension;
}

bool LoadArrays(const std::filesystem::path& path, MeshFormat format, GeoItem& item, const ImportOptions& options) {
  MeshArrays arrays;
  bool loaded = false;
  switch (format) {
    case MeshFormat::kStl: loaded = LoadStl(path, arrays, options); break;
    case MeshFormat::kPly: loaded = LoadPly(path, arrays, options); break;
    case MeshFormat::k3mf: loaded = Load3mf(path, arrays); break;
    default: loaded = LoadObj(path, arrays, options); break;
  }
  if (!loaded) return false;
  item = MakeGeoItem(arrays);
  item.geo->SetName(path.stem().string());
  return true;
}

}  // namespace

MeshFormat MeshFormatOf(const std::filesystem::path& path) {
  const std::string extension = UpperExtension(path);
  if (extension == ".TARVELINMESH" || extension == ".ZENTOMESH") return MeshFormat::kChunkMesh;
  if (extension == ".STL") return MeshFormat::kStl;
  if (extension == ".OBJ") return MeshFormat::kObj;
  if (extension == ".PLY") return MeshFormat::kPly;
  if (extension == ".3MF") return MeshFormat::k3mf;
  return MeshFormat::kUnknown;
}

bool CanLoad(MeshFormat format) { return format != MeshFormat::kUnknown; }

bool CanSave(MeshFormat format) { return format != MeshFormat::kUnknown; }

std::string LoadableExtensions() { return ".tarvelinmesh, .zentomesh, .stl, .obj, .ply, .3mf"; }
std::string SavableExtensions() { return ".tarvelinmesh, .zentomesh, .stl, .obj, .ply, .3mf"; }

bool LoadMesh(const std::filesystem::path& path, GeoItem& item, const ImportOptions& options, GeoSource* source) {
  const MeshFormat format = MeshFormatOf(path);
  if (!CanLoad(format)) {
    std::cerr << "Error: LoadMesh - Cannot read " << path.string() << ": readable formats are "
              << LoadableExtensions() << "\n";
    return false;
  }
  if (format == MeshFormat::kChunkMesh) return LoadMeshFile(path, item, source);
  if (!LoadArrays(path, format, item, options)) return false;
  if (source) *source = GeoSource::kNone;
  return true;
}

bool SaveMesh(const std::filesystem::path& path, const GeoItem& item, const MeshExportOptions& options,
              GeoSource source) {
  const MeshFormat format = MeshFormatOf(path);
  if (!item.geo) {
    std::cerr << "Error: SaveMesh - There is no mesh to save.\n";
    return false;
  }
  switch (format) {
    case MeshFormat::kChunkMesh:
      return SaveMeshFile(path, item, source);
    case MeshFormat::kStl:
      return SaveStl(path, FlattenGeoItem(item));
    case MeshFormat::kObj:
      return SaveObj(path, FlattenGeoItem(item), options.obj);
    case MeshFormat::kPly:
      return SavePly(path, FlattenGeoItem(item), options.plyEncoding);
    case MeshFormat::k3mf: {
      const MeshArrays arrays = FlattenGeoItem(item);
      return Save3mf(path, arrays.positions, arrays.indices, arrays.texCoords, arrays.texture);
    }
    case MeshFormat::kUnknown:
      break;
  }
  std::cerr << "Error: SaveMesh - Cannot write " << path.string() << ": writable formats are "
            << SavableExtensions() << "\n";
  return false;
}

int AddGeoFromFile(ScanListData& data, const std::filesystem::path& path, const ImportOptions& options) {
  if (path.empty()) return -1;
  MeshFormat format = MeshFormatOf(path);
  if (format == MeshFormat::kUnknown) format = MeshFormat::kObj;
  GeoItem item;
  GeoSource source = GeoSource::kNone;
  const bool loaded =
      format == MeshFormat::kChunkMesh ? LoadMeshFile(path, item, &source) : LoadArrays(path, format, item, options);
  if (!loaded) {
    std::cerr << "Mesh file could not be loaded!\n";
    return -2;
  }
  if (source == GeoSource::kFusionResult) {
    data.fusionResult = std::move(item);
    return kAddedFusionResult;
  }
  data.scans.push_back(std::move(item));
  return static_cast<int>(data.scans.size()) - 1;
}

}  // namespace surf
