#pragma once

#include <filesystem>
#include <iosfwd>

#include <CLI/CLI.hpp>

#include "surf/mesh/GeoItem.h"

namespace tarvelin {

// `tarvelin info FILE`: prints what a mesh file (.tarvelinmesh, .zentomesh,
// .stl, .obj) or a project (.tarvelinproj, .zentoproj) holds: per geo its
// meshes, vertex and primitive counts, bounds, attributes and textures. Exit
// codes: 0 printed, 1 unreadable file, 2 unsupported extension.
struct InfoCommand {
  std::filesystem::path file;

  CLI::App* Register(CLI::App& app);
  int Run() const;
};

// The summary of one geo: name, guid, meshes, vertices, primitives by kind,
// bounds of the positions in the geo's parent frame (mm), attributes present
// and textures.
void DescribeGeoItem(const surf::GeoItem& item, std::ostream& out);

}  // namespace tarvelin
