#include "apps/tarvelin/FuseCommand.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/Preview.h"
#include "foundation/math/Vec.h"
#include "foundation/utils/Timer.h"
#include "surf/fusion/Fusion.h"
#include "surf/files/MeshFormats.h"
#include "surf/fusion/ShapeFusion.h"

namespace tarvelin {
namespace {

bool IsProject(const std::filesystem::path& path) {
  const std::string extension = path.extension().string();
  return extension == ".tarvelinproj" || extension == ".zentoproj";
}

// Every edge used by exactly two triangles, vertices at the same position
// counted as one (texture fusion splits vertices along its chart seams).
bool IsClosed(const std::vector<math::Vec3f>& positions, const std::vector<std::uint32_t>& triangles) {
  if (triangles.empty()) return false;
  std::map<math::Vec3f, std::uint32_t, math::LexicalLess<3, float>> ids;
  std::vector<std::uint32_t> welded(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    welded[i] = ids.emplace(positions[i], std::uint32_t(ids.size())).first->second;
  }
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = welded[triangles[t + e]], b = welded[triangles[t + (e + 1) % 3]];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  }
  return std::all_of(uses.begin(), uses.end(), [](const auto& use) { return use.second == 2; });
}

bool AddScans(surf::ShapeFusion& list, const std::vector<std::filesystem::path>& paths) {
  for (const auto& path : paths) {
    const bool ok = IsProject(path) ? list.LoadProject(path) : list.AddGeo(path) >= 0;
    if (!ok) {
      std::cerr << "Error: could not read " << path.string() << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

CLI::App* FuseCommand::Register(CLI::App& app) {
  CLI::App* command = app.add_subcommand("fuse", "Fuse aligned scans into one closed mesh");
  command->add_option("scans", scans, "Aligned scans (mesh or project files)")->required();
  command->add_option("--out", out, "The fused mesh; its extension chooses the format")->required();
  command->add_option("--resolution", resolution, "Fusion resolution (cells across the object)")
      ->check(CLI::Range(surf::kMinFusionResolution, surf::kMaxFusionResolution))
      ->capture_default_str();
  command->add_option("--close-holes-percent", closeHolesPercent,
                      "Close holes up to this percentage of the object's size (100: all)")
      ->check(CLI::Range(0.0, 100.0))
      ->capture_default_str();
  command->add_option("--sharpness", sharpness, "Sharpness: > 0 sharper, < 0 smoother")
      ->check(CLI::Range(-8, 20))
      ->capture_default_str();
  command->add_flag("--texture", texture, "Fuse the scans' textures onto the result");
  return command;
}

int FuseCommand::Run() const {
  if (!surf::CanSave(surf::MeshFormatOf(out))) {
    std::cerr << "Error: cannot write " << out.string() << ": writable formats are " << surf::SavableExtensions()
              << "\n";
    return kExitUsage;
  }
  utils::Timer total;
  surf::ShapeFusion list;
  if (!AddScans(list, scans)) return kExitFailure;
  if (list.GetNumGeos() == 0) {
    std::cerr << "Error: the input holds no scans\n";
    return kExitFailure;
  }
  if (!texture) {
    for (int i = 0; i < list.GetNumGeos(); ++i) list.RemoveTexture(i);
  }
  const double loadSeconds = total.ElapsedSeconds();

  utils::Timer stage;
  const float weight = static_cast<float>(std::max(sharpness, 0)) * 0.5f;
  const int passes = sharpness < 0 ? 1 << -sharpness : 0;
  bool failed = false;
  {
    ProgressBar bar("fusion");
    failed = list.StartFusionPoisson([&bar](double f) { return bar(f); }, resolution, closeHolesPercent * 0.01f,
                                     false, false, weight, passes, "Fusion result");
  }
  if (InterruptRequested()) return kExitCancelled;
  if (failed || !list.GetGeo(-1)) {
    std::cerr << "Error: the fusion failed\n";
    return kExitFailure;
  }
  const double fuseSeconds = stage.ElapsedSeconds();

  stage.Restart();
  const bool saved = surf::MeshFormatOf(out) == surf::MeshFormat::kChunkMesh
                         ? list.SaveGeo_zentomesh(out, -1)
                         : surf::SaveMesh(out, *list.ExportScanListData().fusionResult);
  if (!saved) {
    std::cerr << "Error: could not write " << out.string() << "\n";
    return kExitFailure;
  }
  const double saveSeconds = stage.ElapsedSeconds();

  const v3d::Mesh& mesh = *list.GetGeo(-1)->GetMesh(0);
  nlohmann::ordered_json report;
  report["scans"] = list.GetNumGeos();
  report["out"] = out.string();
  report["resolution"] = resolution;
  report["voxel_size_mm"] = list.CalculateFusionVoxelSize(resolution);
  report["vertices"] = mesh.GetNumVertices();
  report["triangles"] = mesh.GetNumPrims();
  report["closed"] = IsClosed(mesh.GetVertexCoords(), mesh.GetPrims());
  report["textured"] = list.HasTexture(-1);
  report["seconds"] = {{"load", loadSeconds}, {"fuse", fuseSeconds}, {"save", saveSeconds},
                       {"total", total.ElapsedSeconds()}};
  {
    PreviewOptions preview;
    preview.font = DefaultPreviewFont();
    preview.title = "fused: " + std::to_string(mesh.GetNumPrims()) + " triangles";
    const surf::ScanListData fused = list.ExportScanListData();
    if (fused.fusionResult && WritePreview({&*fused.fusionResult}, out.parent_path() / "preview.png", preview)) {
      report["preview"] = "preview.png";
    }
  }
  std::ofstream(out.parent_path() / "report.json") << report.dump(2) << "\n";
  std::cout << report.dump(2) << "\n";
  return kExitSuccess;
}

}  // namespace tarvelin
