#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

namespace tarvelin {

// `tarvelin scan`: a structured-light scan of a virtual rig through the real
// pipeline (capture with frame acceptance, decoding, triangulation, depth
// filtering, meshing), scored against the rig's ground truth. Writes
// OUT/scan.ply, OUT/depth_preview.png, OUT/quality_preview.png and
// OUT/report.json.
//
// --rig is "default", "stereo" (folders under the shipped share/rigs) or a
// rig folder; --object replaces the rig scene's objects by one procedural
// object or a mesh file (STL, OBJ or own mesh format, mm). --scale shrinks
// the camera and projector images for quick runs.
struct ScanCommand {
  std::string rig = "default";
  std::string object;  // empty: the rig scene's objects
  double turntableDeg = 0.0;
  std::string mode = "coded";
  bool texture = false;
  double scale = 1.0;
  std::uint32_t seed = 1;
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();
};

// The folder of the shipped data ("share"): $TARVELIN_SHARE when set, else
// the source tree's share folder.
std::filesystem::path ShareDirectory();

}  // namespace tarvelin
