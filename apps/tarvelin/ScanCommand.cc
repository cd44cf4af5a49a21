#include "apps/tarvelin/ScanCommand.h"

#include "apps/tarvelin/Preview.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/FloatMap.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/Timer.h"
#include "scan/CalibratedModels.h"
#include "shell/RigScanSession.h"
#include "sim/RigSetup.h"
#include "sim/VirtualRig.h"
#include "surf/files/MeshFormats.h"
#include "surf/files/PlyFile.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

constexpr double kDegrees = 3.14159265358979323846 / 180.0;

nlohmann::json ToJson(const sim::DecodingScore& s) {
  return {{"name", s.camera},
          {"width", s.width},
          {"height", s.height},
          {"decoded_fraction", s.decodedFraction},
          {"visible_pixels", s.visiblePixels},
          {"decoded_fraction_of_visible", s.decodedFractionOfVisible},
          {"undecoded_visible_fraction", s.undecodedVisibleFraction}};
}

nlohmann::json ToJson(const sim::DepthScore& s) {
  return {{"valid_pixels", s.validPixels},
          {"points_without_surface", s.pointsWithoutSurface},
          {"depth_error_mm", {{"rms", s.rms}, {"mean", s.mean}, {"p99", s.p99}, {"max", s.max}}}};
}

// Per camera: its decoding figures; the first camera's also its depth figures.
nlohmann::json CamerasOf(const sim::RigScan& scan) {
  nlohmann::json cameras = nlohmann::json::array();
  for (const auto& d : scan.decoding) cameras.push_back(ToJson(d));
  cameras[0].update(ToJson(scan.depthScore));
  return cameras;
}

nlohmann::json SecondsOf(const sim::RigScanSeconds& s) {
  return {{"capture", s.capture}, {"evaluate", s.evaluate}, {"depth", s.depth + s.mesh}};
}

nlohmann::json FrameRows(const math::Frame4d& f) {
  nlohmann::json rows = nlohmann::json::array();
  for (int r = 0; r < 4; ++r) rows.push_back({f(r, 0), f(r, 1), f(r, 2), f(r, 3)});
  return rows;
}

bool WriteJson(const nlohmann::json& json, const fs::path& path) {
  std::ofstream file(path);
  file << json.dump(2) << '\n';
  if (file) return true;
  std::cerr << "Error: " << path.string() << ": cannot write\n";
  return false;
}

bool CreateFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!ec) return true;
  std::cerr << "Error: " << folder.string() << ": cannot create folder (" << ec.message() << ")\n";
  return false;
}

// The mesh as a scan file of the format holds it: a tarvelinmesh file keeps
// the texture image and coordinates, the others vertex colours only.
surf::MeshArrays AsStored(surf::MeshArrays mesh, const std::string& format) {
  if (format == "tarvelinmesh") return mesh;
  mesh.texCoords.clear();
  mesh.texture = img::RGBImage();
  return mesh;
}

int ExitCodeOf(sim::RigScanStatus status, const std::string& error) {
  if (status == sim::RigScanStatus::kCancelled || InterruptRequested()) return kExitCancelled;
  std::cerr << "Error: " << error << '\n';
  return kExitFailure;
}

}  // namespace

fs::path ShareDirectory() { return sim::ShareDirectory(); }

CLI::App* ScanCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand("scan", "Scan an object on a virtual rig and score the result against ground truth");
  auto* rigOption =
      sub->add_option("--rig", rig,
                      "default, stereo or a rig folder (rig.tarvelinsetup + scene.json)")
          ->capture_default_str();
  sub->add_option("--root", root,
                  "A data root of the studio or the shell: its settings, its hardware profile (a "
                  "rig folder) and "
                  "its product are scanned with; the root is left unchanged")
      ->excludes(rigOption);
  sub->add_option("--product", product,
                  "The scanner product (default: VirtualStereo for a rig with two cameras, else Virtual; Felvar: "
                  "the projector-camera unit on the rig's first camera, through the unit's device library "
                  "libtarvelin_vemko.so, at --scale 1)");
  sub->add_option("--object", object, "vase, sphere, torus, box, blob or a mesh file (default: the rig's scene)");
  sub->add_option("--turntable", turntableDeg, "Turntable angle in degrees (of the first view)")->capture_default_str();
  sub->add_option("--views", views, "Scans of a turntable run (scan_000.ply … and poses.json when more than 1)")
      ->check(CLI::Range(1, 360))
      ->capture_default_str();
  sub->add_option("--step-deg", stepDeg, "Turntable step between the views, degrees")->capture_default_str();
  sub->add_option("--format", format, "File format of the scans of a turntable run (tarvelinmesh keeps the texture)")
      ->check(CLI::IsMember({"ply", "tarvelinmesh", "obj", "stl"}))
      ->capture_default_str();
  sub->add_option("--mode", mode, "Pattern mode")->check(CLI::IsMember({"coded", "psk"}))->capture_default_str();
  sub->add_flag("--texture", texture, "Capture a texture and colour the mesh");
  sub->add_option("--scale", scale, "Image scale of cameras and projector, for quick runs")
      ->check(CLI::Range(0.05, 1.0))
      ->capture_default_str();
  sub->add_option("--seed", seed, "Seed of the camera noise")->capture_default_str();
  sub->add_option("--setup", setupFile,
                  "A hardware-setup file (e.g. from tarvelin calibrate) to triangulate with; the rig renders "
                  "with its true models");
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int ScanCommand::Run() {
  utils::Timer totalTimer;
  nlohmann::json report, seconds;

  // The rig and its scene.
  utils::Timer setupTimer;
  std::string error;
  fs::path rigDir;
  if (root.empty()) {
    rigDir = sim::ResolveRigFolder(rig);
  } else {
    shell::RigScanSession::UserRig userRig;
    if (!shell::RigScanSession::FindUserRig(root, userRig, error)) {
      std::cerr << "Error: " << error << '\n';
      return kExitFailure;
    }
    rigDir = userRig.rigFolder;
    if (product.empty()) product = userRig.product;
  }
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  if (!sim::LoadRigFolder(rigDir, setup, description, error) ||
      (!object.empty() && !sim::SetSingleObject(object, description, error))) {
    std::cerr << "Error: " << error << '\n';
    return kExitFailure;
  }
  if (!std::isfinite(turntableDeg) || !std::isfinite(stepDeg)) {
    std::cerr << "Error: --turntable and --step-deg must be finite angles\n";
    return kExitUsage;
  }
  if (views < 1) {
    std::cerr << "Error: --views must be at least 1\n";
    return kExitUsage;
  }
  description.turntableAngleDeg = turntableDeg;
  shell::RigScanSession::Options sessionOptions;
  sessionOptions.rigFolder = rigDir;
  sessionOptions.scene = description;
  sessionOptions.product = product;
  sessionOptions.imageScale = scale;
  sessionOptions.seed = seed;
  sessionOptions.userRoot = root;
  shell::RigScanSession session(sessionOptions);
  if (!session.Start(error)) {
    std::cerr << "Error: " << error << '\n';
    return kExitFailure;
  }
  if (!setupFile.empty() &&
      !scan::UseSetupFile(*session.GetApplication().GetScanner(), setupFile, error)) {
    std::cerr << "Error: " << setupFile << ": cannot scan with this setup: " << error << '\n';
    return kExitFailure;
  }
  seconds["setup"] = setupTimer.ElapsedSeconds();

  shell::RigScanOptions options;
  options.patternMode = mode;
  options.texture = texture;

  report["rig"] = rigDir.string();
  if (!root.empty()) report["root"] = root.string();
  report["object"] = object.empty() ? std::string("scene") : object;
  report["mode"] = mode;
  report["turntable_deg"] = turntableDeg;
  report["product"] = session.GetProduct();
  report["setup"] = setupFile.empty() ? nlohmann::json("rig") : nlohmann::json(setupFile);
  report["noise_sigma"] = description.settings.noiseSigma;
  if (views > 1) return RunTurntable(session, options, report, seconds, totalTimer.ElapsedSeconds());

  sim::RigScan scan;
  {
    ProgressBar bar("scanning");
    scan = session.Scan(turntableDeg * kDegrees, options, [&](double f) { return bar(f); });
  }
  if (scan.status != sim::RigScanStatus::kSuccess) return ExitCodeOf(scan.status, scan.error);
  report["pattern_count"] = scan.patternCount;
  seconds.update(SecondsOf(scan.seconds));
  nlohmann::json cameras = CamerasOf(scan);

  utils::Timer writeTimer;
  if (!CreateFolder(out)) return kExitFailure;
  if (!surf::SavePly(out / "scan.ply", AsStored(scan.mesh, "ply"), surf::PlyEncoding::kBinary))
    return kExitFailure;
  float lo = 0.0f, hi = 0.0f;
  bool any = false;
  const auto& d = scan.depth->GetDepthImage();
  for (std::int32_t i = 0; i < d.size; ++i) {
    if (!(d.data[i] > 0.0f)) continue;
    lo = any ? std::min(lo, d.data[i]) : d.data[i];
    hi = any ? std::max(hi, d.data[i]) : d.data[i];
    any = true;
  }
  if (!SaveFloatMap(d, out / "depth.pfm") ||
      !SaveFloatMap(session.GetRig().GetCamera(0)->GetGroundTruth().depth, out / "true_depth.pfm") ||
      !img::SavePNG(FalseColour(d, lo, hi > lo ? hi : lo + 1.0f), out / "depth_preview.png") ||
      !img::SavePNG(GreyPreview(*scan.quality), out / "quality_preview.png")) {
    std::cerr << "Error: " << out.string() << ": cannot write the previews\n";
    return kExitFailure;
  }
  {
    const surf::GeoItem item = surf::MakeGeoItem(scan.mesh);
    PreviewOptions preview;
    preview.font = DefaultPreviewFont();
    preview.title = "scan";
    if (WritePreview({&item}, out / "preview.png", preview)) report["preview"] = "preview.png";
  }
  seconds["write"] = writeTimer.ElapsedSeconds();
  seconds["total"] = totalTimer.ElapsedSeconds();

  report["triangulation"] = scan.triangulation;
  report["cameras"] = cameras;
  report["mesh"] = {{"vertices", scan.mesh.positions.size()}, {"triangles", scan.mesh.NumTriangles()}};
  report["seconds"] = seconds;
  if (!WriteJson(report, out / "report.json")) return kExitFailure;
  const auto& c0 = cameras[0];
  std::cout << "Scan written to " << out.string() << ": " << c0["decoded_fraction_of_visible"].get<double>() * 100.0
            << "% of the visible pixels decoded; depth error RMS "
            << c0["depth_error_mm"]["rms"].get<double>() << " mm, p99 " << c0["depth_error_mm"]["p99"].get<double>()
            << " mm, max " << c0["depth_error_mm"]["max"].get<double>() << " mm over "
            << c0["valid_pixels"].get<std::size_t>() << " pixels; " << seconds["total"].get<double>() << " s\n";
  return kExitSuccess;
}

int ScanCommand::RunTurntable(shell::RigScanSession& session, const shell::RigScanOptions& options,
                              nlohmann::json& report, nlohmann::json& seconds, double setupSeconds) {
  utils::Timer timer;
  sim::TurntableSet set;
  {
    ProgressBar bar("scanning " + std::to_string(views) + " views");
    set = session.ScanTurntable(views, turntableDeg * kDegrees, stepDeg * kDegrees, options,
                                [&](double f) { return bar(f); });
  }
  if (set.status != sim::RigScanStatus::kSuccess) return ExitCodeOf(set.status, set.error);
  report["pattern_count"] = set.scans.front().patternCount;
  seconds["scans"] = timer.ElapsedSeconds();

  utils::Timer writeTimer;
  if (!CreateFolder(out)) return kExitFailure;
  const auto& turntable = session.GetRig().GetScene().GetTurntable();
  nlohmann::json poses, scans = nlohmann::json::array(), viewReports = nlohmann::json::array();
  poses["object"] = report["object"];
  poses["turntable"] = {{"centre", {turntable.centre[0], turntable.centre[1], turntable.centre[2]}},
                        {"axis", {turntable.axis[0], turntable.axis[1], turntable.axis[2]}}};
  poses["convention"] =
      "4 x 4 matrices by rows, mm; world_T_object maps the object's coordinates into the rig's world, "
      "in which the scan's vertices lie; to_first maps the scan's vertices onto the same surface points "
      "in the first scan";
  for (std::size_t k = 0; k < set.scans.size(); ++k) {
    const sim::RigScan& scan = set.scans[k];
    char number[24];
    std::snprintf(number, sizeof number, "%03zu", k);
    const std::string name = "scan_" + std::string(number) + "." + format;
    const surf::MeshArrays mesh = AsStored(scan.mesh, format);
    if (!(format == "ply" ? surf::SavePly(out / name, mesh, surf::PlyEncoding::kBinary)
                          : surf::SaveMesh(out / name, surf::MakeGeoItem(mesh))))
      return kExitFailure;
    scans.push_back({{"file", name},
                     {"turntable_deg", scan.turntableAngle / kDegrees},
                     {"world_T_object", FrameRows(scan.world_T_object)},
                     {"to_first", FrameRows(sim::TrueRelativePose(scan, set.scans[0]))}});
    viewReports.push_back({{"file", name},
                     {"turntable_deg", scan.turntableAngle / kDegrees},
                     {"triangulation", scan.triangulation},
                     {"cameras", CamerasOf(scan)},
                     {"mesh", {{"vertices", scan.mesh.positions.size()}, {"triangles", scan.mesh.NumTriangles()}}},
                     {"seconds", SecondsOf(scan.seconds)}});
  }
  poses["scans"] = scans;
  {
    std::vector<img::RGBImage> tiles;
    PreviewOptions preview;
    preview.width = 480;
    preview.height = 360;
    preview.font = DefaultPreviewFont();
    for (std::size_t k = 0; k < set.scans.size(); ++k) {
      const surf::GeoItem item = surf::MakeGeoItem(set.scans[k].mesh);
      preview.title = "view " + std::to_string(k + 1) + " (" +
                      std::to_string(static_cast<int>(std::lround(set.scans[k].turntableAngle / kDegrees))) + "\u00B0)";
      try {
        tiles.push_back(RenderPreview({&item}, preview));
      } catch (const std::exception& e) {
        std::cerr << "Warning: no preview.png: " << e.what() << "\n";
        tiles.clear();
        break;
      }
    }
    if (!tiles.empty() && img::SavePNG(MakeContactSheet(tiles, 4), out / "preview.png")) report["preview"] = "preview.png";
  }
  report["step_deg"] = stepDeg;
  report["views"] = viewReports;
  seconds["write"] = writeTimer.ElapsedSeconds();
  seconds["total"] = setupSeconds + timer.ElapsedSeconds();
  report["seconds"] = seconds;
  if (!WriteJson(poses, out / "poses.json") || !WriteJson(report, out / "report.json")) return kExitFailure;
  double worst = 0.0;
  for (const auto& scan : set.scans) worst = std::max(worst, scan.depthScore.rms);
  std::cout << set.scans.size() << " scans written to " << out.string() << " with poses.json; worst depth error RMS "
            << worst << " mm; " << seconds["total"].get<double>() << " s\n";
  return kExitSuccess;
}

}  // namespace tarvelin
