#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvelin {

// `tarvelin demo`: a user's turntable run of the headless shell on the
// virtual rig (shell::HeadlessSession): settings for a full circle of
// views with texture, the scan machine turning the virtual turntable
// plug-in, the alignment of every scan and the run's closing sequence
// alignment, fusion at the settings' resolution with texture and all holes
// closed, and export of the fused mesh (PLY, OBJ + MTL + texture, 3MF) and
// of the whole list as a project. Scored against the rig's truth into
// report.json: per view the scan's distance to the true surface and the
// alignment error against the table's true pose, the fused mesh's
// deviation from the true surface over vertices near scan data, closedness,
// sizes and seconds per stage.
class DemoCommand {
 public:
  CLI::App* Register(CLI::App& app);
  int Run();

  int views = 8;
  int totalAngle = 360;  // Turntable/TotalScanAngle, degrees
  std::string object = "blob";
  double scale = 0.5;
  // A hardware-setup file whose models the scanner triangulates with (the
  // rig still renders with its true ones); empty: the rig's own.
  std::string setup;
  // Degrees the rig's table axis leans from the world's z, which the run
  // states as the axis.
  double tableTilt = 0.0;
  std::string root;  // empty: DIR/root
  std::filesystem::path out;
  int resolution = 0;  // 0: the settings' ShapeFusion/Fusion/Resolution
  std::uint64_t seed = 21;
  double effort = 0.3;          // scales the coarse alignment's hypotheses
  bool surfaceFeatures = false;  // ShapeFusion/Registration/UseSurfaceFeatures
};

}  // namespace tarvelin
