#include "apps/tarvelin/InfoCommand.h"

#include <algorithm>
#include <iostream>
#include <limits>

#include "apps/tarvelin/Console.h"
#include "surf/files/MeshFormats.h"
#include "v3d/GlEnums.h"

namespace tarvelin {
namespace {

const char* FormatName(const v3d::Texture& texture) {
  if (texture.GetType() != v3d::gl::kUnsignedByte) return "other";
  switch (texture.GetFormat()) {
    case v3d::gl::kBgr:
      return "BGR 8-bit";
    case v3d::gl::kRgb:
      return "RGB 8-bit";
    case v3d::gl::kRgba:
      return "RGBA 8-bit";
    case v3d::gl::kLuminance:
    case v3d::gl::kRed:
      return "grey 8-bit";
    default:
      return "other";
  }
}

bool IsProject(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  return extension == ".tarvelinproj" || extension == ".zentoproj";
}

void DescribeProject(const surf::ScanListData& data, std::ostream& out) {
  out << "scans: " << data.scans.size() << "\n";
  for (std::size_t i = 0; i < data.scans.size(); ++i) {
    out << "\nscan " << i << "\n";
    DescribeGeoItem(data.scans[i], out);
  }
  if (data.fusionResult) {
    out << "\nfusion result\n";
    DescribeGeoItem(*data.fusionResult, out);
  }
  out << "\nunfiltered fusion triangles: " << data.unfilteredFusionTriangles.size() / 3 << "\n";
  out << "colour map entries: " << data.geoColorMap.size() << "\n";
}

}  // namespace

void DescribeGeoItem(const surf::GeoItem& item, std::ostream& out) {
  const v3d::Geo& geo = *item.geo;
  std::size_t vertices = 0, prims[5] = {};
  std::size_t normals = 0, colors = 0, texCoords = 0, qualities = 0;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  math::Vec3d low(kInf, kInf, kInf), high(-kInf, -kInf, -kInf);
  for (const auto& mesh : geo) {
    vertices += mesh->GetNumVertices();
    prims[std::min<std::uint32_t>(mesh->GetPrimSize(), 4)] += mesh->GetNumPrims();
    normals += mesh->HasVertexNormals();
    colors += mesh->HasVertexColors();
    texCoords += mesh->HasVertexTexCoords();
    qualities += mesh->HasVertexQualities();
    for (const math::Vec3f& p : mesh->GetVertexCoords()) {
      const math::Vec3d q = geo.GetFrame().MultP(math::Vec3d(p));
      for (int k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], q[k]);
        high[k] = std::max(high[k], q[k]);
      }
    }
  }
  out << "name: " << geo.GetName() << "\n";
  out << "guid: " << geo.GetGuid().ToString() << "\n";
  out << "meshes: " << geo.GetNumMeshes() << "\n";
  out << "vertices: " << vertices << "\n";
  out << "triangles: " << prims[3] << "\n";
  if (prims[4]) out << "quads: " << prims[4] << "\n";
  if (prims[2]) out << "lines: " << prims[2] << "\n";
  if (prims[1]) out << "points: " << prims[1] << "\n";
  if (vertices > 0) {
    out << "bounds min: " << low[0] << " " << low[1] << " " << low[2] << "\n";
    out << "bounds max: " << high[0] << " " << high[1] << " " << high[2] << "\n";
    out << "size: " << high[0] - low[0] << " x " << high[1] - low[1] << " x " << high[2] - low[2] << " mm\n";
  }
  const std::size_t n = geo.GetNumMeshes();
  out << "attributes (meshes of " << n << "): normals " << normals << ", colours " << colors
      << ", texture coordinates " << texCoords << ", qualities " << qualities << "\n";
  out << "textures: " << item.textures.size() << "\n";
  for (std::size_t i = 0; i < item.textures.size(); ++i) {
    const v3d::Texture& texture = *item.textures[i];
    std::size_t users = 0;
    for (const auto& mesh : geo) users += item.GetMeshTexture(*mesh) == &texture;
    out << "  texture " << i << ": " << texture.GetWidth() << " x " << texture.GetHeight() << " "
        << FormatName(texture) << ", used by " << users << " mesh" << (users == 1 ? "" : "es") << "\n";
  }
}

CLI::App* InfoCommand::Register(CLI::App& app) {
  CLI::App* command = app.add_subcommand("info", "Print counts, bounds, attributes and textures of a mesh or project file");
  command->add_option("file", file, "A mesh file (" + surf::LoadableExtensions() + ") or a .tarvelinproj or .zentoproj project")
      ->required();
  return command;
}

int InfoCommand::Run() const {
  if (IsProject(file)) {
    surf::ScanListData data;
    if (!surf::LoadProject(file, data)) return kExitFailure;
    std::cout << "file: " << file.string() << "\nformat: project\n";
    DescribeProject(data, std::cout);
    return kExitSuccess;
  }
  if (!surf::CanLoad(surf::MeshFormatOf(file))) {
    std::cerr << "Error: cannot read " << file.string() << ": readable formats are " << surf::LoadableExtensions()
              << ", .tarvelinproj, .zentoproj\n";
    return kExitUsage;
  }
  surf::GeoItem item;
  surf::GeoSource source = surf::GeoSource::kNone;
  if (!surf::LoadMesh(file, item, {{}, nullptr}, &source)) {
    std::cerr << "Error: could not read " << file.string() << "\n";
    return kExitFailure;
  }
  std::cout << "file: " << file.string() << "\n";
  if (source != surf::GeoSource::kNone) std::cout << "source: " << surf::GeoSourceName(source) << "\n";
  DescribeGeoItem(item, std::cout);
  return kExitSuccess;
}

}  // namespace tarvelin
