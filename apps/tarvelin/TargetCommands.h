#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>

namespace tarvelin {

// `tarvelin detect IMAGE`: finds the ellipses of a calibration-target image
// and, with --grid, maps them onto the grid: DIR/detection.json (ellipses,
// nodes, messages, seconds), DIR/detection.png (the image with ellipses,
// marker cell and node numbers drawn over it) and DIR/report.json.
struct DetectCommand {
  std::filesystem::path image;
  std::string grid;  // "corner-left", "corner-right" or a target file; empty: ellipses only
  int centreMode = 2;
  double scale = 40.0;  // corner panels: node spacing scale·0.25 mm
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();
};

// `tarvelin target`: a printable page of a target at true scale (SVG in
// millimetres, or PNG at --dpi) and its target file beside it (FILE with the
// extension ".xml").
struct TargetCommand {
  std::string type = "plate";  // plate, corner-left, corner-right
  std::filesystem::path out;
  double dpi = 300.0;
  double scale = 40.0;

  CLI::App* Register(CLI::App& app);
  int Run();
};

// `tarvelin rig-image`: what a rig camera sees of printed targets (the
// corner panels, or the plate in a pose), with the truth: DIR/image.png,
// DIR/truth.json (the true image of every visible mark's centre), the
// target files, and DIR/report.json with the rendering parameters.
struct RigImageCommand {
  std::string rig = "default";
  std::string target = "corner";      // corner or plate
  std::string pose = "35,30,10,600";  // plate: tilt, axis, roll (degrees), distance (mm)
  int camera = 0;
  double noise = -1.0;  // grey levels; negative: the rig's
  double defocus = 0.7;
  double gamma = 2.2;
  double gain = 0.0;
  int supersampling = 2;
  unsigned seed = 1;
  bool plain = false;   // no marker cell
  bool mirror = false;  // the image mirrored left to right
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();
};

}  // namespace tarvelin
