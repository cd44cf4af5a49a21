#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvelin {

// `tarvelin calibrate`: calibrates the cameras (and the projector) of a
// virtual rig from what its cameras see of the printed corner panels,
// starting from a perturbed nominal setup or a setup file, or from a
// folder of a user's own images (--images with --setup). Writes
// DIR/setup.tarvelinsetup, the before/after copies in DIR/calibration/,
// the images used in DIR/images/ and DIR/report.json (RMS, errors against
// the rig's true models, triangulation angles, seconds per stage).
struct CalibrateCommand {
  std::string rig = "default";
  std::string target = "corner";
  std::string startFrom = "nominal";  // nominal or a setup file
  std::filesystem::path images;       // a user's images instead of the rig
  std::filesystem::path setup;        // with --images: the setup to start from
  int views = 6;                      // plate views
  double maxRMS = 0.5;                // pixels
  std::uint32_t seed = 1;
  bool extrinsicsOnly = false;
  bool projector = true;
  bool plainCopies = false;  // plate on the rig: plain-printed copies of the views
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();

 private:
  int RunPlate();
};

}  // namespace tarvelin
