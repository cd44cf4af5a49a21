#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json_fwd.hpp>

namespace shell {
class RigScanSession;
struct RigScanOptions;
}  // namespace shell

namespace tarvelin {

// `tarvelin scan`: a structured-light scan of a virtual rig by the shell's
// scan workflow (the rig product's scanner: capture with frame acceptance,
// decoding, depth conversion, result filtering, meshing), scored against
// the rig's ground truth. The product is --product, else "VirtualStereo"
// for a rig with two cameras and "Virtual" otherwise; the shell runs on a
// temporary data root with the shipped settings. Writes
// OUT/scan.ply, OUT/depth_preview.png, OUT/quality_preview.png and
// OUT/report.json.
//
// With --views N (N > 1) the turntable turns by --step-deg after each scan,
// starting at --turntable: OUT/scan_000.ply … scan_<N-1>.ply (world
// coordinates, mm; --format tarvelinmesh, obj or stl writes files that the
// mesh readers take back, PLY being export only), OUT/poses.json with each scan's true object pose
// and its motion onto the first scan, and OUT/report.json with the scores of every view.
//
// --rig is "default", "stereo" (folders under the shipped share/rigs) or a
// rig folder. --root DIR scans with a user's data root (the studio's and the
// shell's --root) instead: its settings (copied; the scan changes nothing
// there), its current hardware profile as the rig folder and its product
// setting (--product still wins). --object replaces the rig scene's objects by one procedural
// object or a mesh file (STL, OBJ or own mesh format, mm). --scale shrinks
// the camera and projector images for quick runs.
struct ScanCommand {
  std::string rig = "default";
  std::filesystem::path root;  // a user's data root; empty: --rig and the shipped settings
  std::string product;  // empty: by the rig's camera count
  std::string setupFile;  // a hardware-setup file to triangulate with; empty: the rig's own
  std::string object;  // empty: the rig scene's objects
  double turntableDeg = 0.0;
  int views = 1;
  double stepDeg = 45.0;
  std::string format = "ply";
  std::string mode = "coded";
  bool texture = false;
  double scale = 1.0;
  std::uint32_t seed = 1;
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();

 private:
  int RunTurntable(shell::RigScanSession& session, const shell::RigScanOptions& options, nlohmann::json& report,
                   nlohmann::json& seconds, double setupSeconds);
};

// The folder of the shipped data ("share"): $TARVELIN_SHARE when set, else
// the source tree's share folder.
std::filesystem::path ShareDirectory();

}  // namespace tarvelin
