#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

namespace tarvelin {

// `tarvelin convert IN OUT`: reads a mesh file (.tarvelinmesh, .zentomesh,
// .stl, .obj) and writes it in the format of OUT's extension (the same and
// .ply, .3mf), keeping texture and texture coordinates where both formats
// have them. Exit codes: 0 written, 1 input unreadable or output not written,
// 2 unsupported extension or bad option.
struct ConvertCommand {
  std::filesystem::path in;
  std::filesystem::path out;
  bool plyAscii = false;
  std::string textureFormat = "png";
  int textureQuality = 95;

  CLI::App* Register(CLI::App& app);
  int Run() const;
};

}  // namespace tarvelin
