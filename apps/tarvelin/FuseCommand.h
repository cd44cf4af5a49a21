#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace tarvelin {

// `tarvelin fuse SCAN... --out fused.ext`: fuses aligned scans into one
// closed mesh through the scan list (screened Poisson reconstruction, hole
// filtering, optional texture fusion) and writes it in the format of the
// output's extension with a report.json beside it (vertex and triangle
// counts, voxel size, whether the mesh is closed, seconds per stage).
// Scans are mesh files, in world coordinates or carrying their node frame
// (own mesh format), or project files whose scans are all taken. Sharpness
// follows the fusion page: s > 0 is a screening weight of s/2, s < 0 smooths
// the result 2^−s times. Exit codes: 0 fused, 1 unreadable input or fusion
// failed, 2 bad option, 130 cancelled.
struct FuseCommand {
  std::vector<std::filesystem::path> scans;
  std::filesystem::path out;
  int resolution = 512;
  float closeHolesPercent = 10.0f;
  int sharpness = 0;
  bool texture = false;

  CLI::App* Register(CLI::App& app);
  int Run() const;
};

}  // namespace tarvelin
