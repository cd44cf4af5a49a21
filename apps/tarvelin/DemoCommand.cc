#include "apps/tarvelin/DemoCommand.h"

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>

#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/MeasureCommand.h"
#include "apps/tarvelin/Preview.h"
#include "apps/tarvelin/SurfaceDistance.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/Timer.h"
#include "scan/CalibratedModels.h"
#include "shell/HeadlessSession.h"
#include "shell/SettingPath.h"
#include "sim/RigSetup.h"
#include "sim/ScanScores.h"
#include "sim/VirtualRig.h"
#include "sim/turntable/TurntableFollower.h"
#include "surf/files/MeshFormats.h"
#include "surf/fusion/ShapeFusion.h"
#include "v3d/Geo.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

constexpr double kPi = 3.14159265358979323846;
// Scan points farther than this from the true surface count as this (mm).
constexpr double kMaxDeviation = 10.0;
// Fused vertices within this distance of a scan point are supported by
// data; the others lie on surface the fusion closed (mm).
constexpr double kSupportRadius = 2.0;
// Scan vertices scored per view (an even subsample of larger scans).
constexpr std::size_t kMaxScoredPoints = 20000;
constexpr auto kRunTimeout = std::chrono::hours(2);

// The edges used by one triangle only (the border of a hole), vertices at
// the same position taken as one (a textured mesh splits its vertices along
// texture seams). Edges used by more than two triangles are no border.
std::size_t CountBorderEdges(const v3d::Mesh& mesh) {
  const auto& triangles = mesh.GetPrims();
  std::map<std::array<float, 3>, std::uint32_t> welded;
  std::vector<std::uint32_t> canonical;
  for (const auto& p : mesh.GetVertexCoords())
    canonical.push_back(welded.emplace(std::array<float, 3>{p[0], p[1], p[2]}, std::uint32_t(welded.size()))
                            .first->second);
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = canonical[triangles[t + e]], b = canonical[triangles[t + (e + 1) % 3]];
      if (a != b) ++uses[{std::min(a, b), std::max(a, b)}];
    }
  }
  return std::size_t(std::count_if(uses.begin(), uses.end(), [](const auto& use) { return use.second == 1; }));
}

// The geo's vertices in its parent's coordinates (every step-th one).
std::vector<math::Vec3d> PlacedVertices(const v3d::Geo& geo, std::size_t maxPoints) {
  std::size_t total = 0;
  for (const auto& mesh : geo) total += mesh->GetVertexCoords().size();
  const std::size_t step = std::max<std::size_t>(1, maxPoints ? (total + maxPoints - 1) / maxPoints : 1);
  std::vector<math::Vec3d> points;
  std::size_t i = 0;
  const math::Frame4d frame = geo.GetFrame();
  for (const auto& mesh : geo)
    for (const auto& p : mesh->GetVertexCoords())
      if (i++ % step == 0) points.push_back(frame.MultP(math::Vec3d(p)));
  return points;
}

double RotationDegrees(const math::Frame4d& f) {
  double trace = 0.0;
  for (int i = 0; i < 3; ++i) {
    math::Vec3d e{0.0, 0.0, 0.0};
    e[i] = 1.0;
    trace += f.MultV(e)[i];
  }
  return std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0)) * 180.0 / kPi;
}

struct Deviation {
  double rms = 0.0, p99 = 0.0;
  std::size_t count = 0;
};

Deviation Score(const std::vector<double>& distances) {
  Deviation d;
  d.count = distances.size();
  if (distances.empty()) return d;
  double sum = 0.0;
  for (const double v : distances) sum += v * v;
  d.rms = std::sqrt(sum / double(distances.size()));
  d.p99 = sim::Percentile(distances, 0.99);
  return d;
}

// The log file of the run; the alignment and fusion workers write too.
class LogFile {
 public:
  explicit LogFile(const fs::path& path) : m_file(path, std::ios::app) {}
  void Write(const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_file << line << '\n';
    m_file.flush();
  }

 private:
  std::mutex m_mutex;
  std::ofstream m_file;
};

// Sends standard output (the libraries' own progress prints) to the log
// file while it lives; the command's own lines go to standard error or
// are printed after it.
class StdoutToFile {
 public:
  explicit StdoutToFile(const fs::path& path) {
    std::fflush(stdout);
    std::cout.flush();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    m_saved = ::dup(STDOUT_FILENO);
    if (m_saved >= 0) ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutToFile() {
    if (m_saved < 0) return;
    std::fflush(stdout);
    std::cout.flush();
    ::dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
  }
  StdoutToFile(const StdoutToFile&) = delete;
  StdoutToFile& operator=(const StdoutToFile&) = delete;

 private:
  int m_saved = -1;
};

// Prints the status line of the progress reporter when it changes.
class StatusPrinter {
 public:
  explicit StatusPrinter(const utils::Timer& clock) : m_clock(clock) {}
  void Update(const std::string& status, double fraction) {
    if (status.empty() || status == m_last) return;
    m_last = status;
    std::fprintf(stderr, "[%6.1f s] %3d%%  %s\n", m_clock.ElapsedSeconds(), int(std::lround(fraction * 100.0)),
                 status.c_str());
  }

 private:
  const utils::Timer& m_clock;
  std::string m_last;
};

// The scene of the run: the object on the table, whose axis leans by
// tableTilt (degrees) about the world's x axis.
bool WriteScene(const fs::path& rigFolder, const std::string& object, double tableTilt, std::string& error) {
  try {
    sim::SceneDescription description = sim::ReadSceneFile(sim::ResolveRigFolder("default") / "scene.json");
    if (!sim::SetSingleObject(object, description, error)) return false;
    description.turntableAxis = {0.0, -std::sin(tableTilt * kPi / 180.0), std::cos(tableTilt * kPi / 180.0)};
    fs::create_directories(rigFolder);
    std::ofstream file(rigFolder / "scene.json");
    file << sim::WriteSceneDescription(description);
    if (!file) {
      error = "cannot write " + (rigFolder / "scene.json").string();
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace

CLI::App* DemoCommand::Register(CLI::App& app) {
  CLI::App* command =
      app.add_subcommand("demo", "A headless turntable run of the shell on the virtual rig, scored against its truth");
  command->add_option("--views", views, "Scans over the full circle")->check(CLI::Range(2, 72))->capture_default_str();
  command->add_option("--total-angle", totalAngle, "Degrees the table covers (360: a full circle)")
      ->check(CLI::Range(1, 360))
      ->capture_default_str();
  command->add_option("--object", object, "vase, sphere, torus, box, blob or a mesh file")->capture_default_str();
  command->add_option("--scale", scale, "Image scale of the rig's cameras and projector")
      ->check(CLI::Range(0.05, 1.0))
      ->capture_default_str();
  command->add_option("--root", root, "The data root (default: DIR/root)");
  command->add_option("--out", out, "Output folder DIR")->required();
  command->add_option("--resolution", resolution, "Fusion resolution (default: the settings')")
      ->check(CLI::Range(0, 4096));
  command->add_option("--seed", seed, "Seed of the alignment searches")->capture_default_str();
  command->add_option("--effort", effort, "Scales the coarse alignment's hypotheses")
      ->check(CLI::Range(0.01, 10.0))
      ->capture_default_str();
  command->add_option("--setup", setup,
                      "A hardware-setup file (e.g. from tarvelin calibrate) to triangulate with; the rig renders "
                      "with its true models");
  command->add_option("--table-tilt", tableTilt,
                      "Degrees the rig's turntable axis leans from the world's z axis, which the run states as the "
                      "table's axis (a real table never stands exactly on it)")
      ->check(CLI::Range(0.0, 10.0))
      ->capture_default_str();
  command->add_flag("--surface-features", surfaceFeatures, "Weigh rare surface features in the coarse alignment");
  return command;
}

int DemoCommand::Run() {
  utils::Timer total;
  Json seconds;
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) {
    std::cerr << "Error: cannot create " << out.string() << ": " << ec.message() << '\n';
    return kExitFailure;
  }
  const fs::path rootFolder = root.empty() ? out / "root" : fs::path(root);
  std::string error;
  // The default rig's setup comes with the data root's defaults; its scene
  // holds the chosen object.
  if (!WriteScene(rootFolder / "rigs" / "default", object, tableTilt, error)) {
    std::cerr << "Error: " << error << '\n';
    return kExitFailure;
  }

  // The session, its log in DIR/demo.log.
  fs::remove(out / "demo.log", ec);
  auto logFile = std::make_shared<LogFile>(out / "demo.log");
  std::optional<StdoutToFile> quiet(std::in_place, out / "demo.log");
  std::vector<std::string> notes;
  shell::HeadlessSession::Options options;
  options.arguments = {"--root", rootFolder.string(), "--rig-scale", std::to_string(scale)};
  options.application.log = [logFile](const std::string& line) { logFile->Write(line); };
  options.application.notify = [&notes, logFile](const std::string& text, const std::string& title) {
    logFile->Write("Note: " + title + ": " + text);
    notes.push_back(title + ": " + text);
  };
  options.alignment.seed = seed;
  options.alignment.effort = effort;
  options.alignment.icp.samplesPerFragment = 10000;
  options.turntableParameters = "speed=720";
  shell::HeadlessSession session(std::move(options));
  utils::Timer stage;
  if (!session.Start(error)) {
    std::cerr << "Error: the shell did not start: " << error << '\n';
    return kExitFailure;
  }
  sim::VirtualRig* rig = session.GetVirtualRig();
  if (!rig || session.GetTurntableResult() != 0) {
    std::cerr << "Error: " << (rig ? "no turntable plug-in could be loaded" : "the scanner is not the virtual rig")
              << " (see " << (out / "demo.log").string() << ")\n";
    return kExitFailure;
  }
  if (!setup.empty()) {
    if (!scan::UseSetupFile(*session.GetApplication().GetScanner(), setup, error)) {
      std::cerr << "Error: " << setup << ": cannot scan with this setup"
                << (error.empty() ? std::string() : ": " + error) << '\n';
      return kExitFailure;
    }
  }
  seconds["start"] = stage.ElapsedSeconds();

  // A user's turntable run: by default a full circle, texture on, the table's axis known
  // (the rig's world z, which is the scans' coordinate frame).
  shell::Settings& settings = session.GetSettings();
  settings.GetSetting<std::string>(shell::SettingPath("Scan/ScanMode")).SetValue("turntable");
  settings.GetSetting<int>(shell::SettingPath("Turntable/NumberOfScans")).SetValue(views);
  settings.GetSetting<int>(shell::SettingPath("Turntable/TotalScanAngle")).SetValue(totalAngle);
  settings.GetSetting<bool>(shell::SettingPath("Scan/AutoGrabTexture")).SetValue(true);
  settings.GetSetting<bool>(shell::SettingPath("ShapeFusion/Registration/UseSurfaceFeatures")).SetValue(surfaceFeatures);
  settings.GetSetting<bool>(shell::SettingPath("ShapeFusion/Registration/AxisKnown")).SetValue(true);
  settings.GetSetting<double>(shell::SettingPath("ShapeFusion/Registration/RotationAxisX")).SetValue(0.0);
  settings.GetSetting<double>(shell::SettingPath("ShapeFusion/Registration/RotationAxisY")).SetValue(0.0);
  settings.GetSetting<double>(shell::SettingPath("ShapeFusion/Registration/RotationAxisZ")).SetValue(1.0);
  if (resolution > 0) settings.GetSetting<int>(shell::SettingPath("ShapeFusion/Fusion/Resolution")).SetValue(resolution);

  // The true object pose of each scan, taken when its capture starts.
  std::vector<math::Frame4d> poses;
  shell::ScanStatus last = shell::ScanStatus::Idle;
  bool cancelled = false;
  shell::ProgressReporter& progress = session.GetApplication().GetProgressReporter();
  StatusPrinter status(total);
  session.AddTickObserver([&] {
    const shell::ScanStatus now = session.GetController().GetScanStatus();
    if (now == shell::ScanStatus::Scanning && last != shell::ScanStatus::Scanning)
      poses.push_back(rig->GetScene().GetObjectPose(0));
    last = now;
    if (InterruptRequested() && !cancelled) {
      cancelled = true;
      session.GetController().RequestCancel();
      progress.RequestCancel();
    }
    status.Update(progress.GetStatusLine(), progress.GetOverallProgress());
  });

  stage.Restart();
  if (!session.GetController().StartScan()) {
    std::cerr << "Error: the turntable run did not start\n";
    return kExitFailure;
  }
  shell::Application& app = session.GetApplication();
  const bool finished = app.RunUntil([&] { return session.IsIdle(); }, kRunTimeout);
  session.GetAlignmentJobs().Wait();
  seconds["turntable_run"] = stage.ElapsedSeconds();
  if (cancelled || InterruptRequested()) return kExitCancelled;
  surf::ShapeFusion& list = app.GetShapeFusion();
  if (!finished || list.GetNumGeos() != views || int(poses.size()) != views) {
    std::cerr << "Error: the run ended with " << list.GetNumGeos() << " of " << views << " scans";
    for (const auto& note : notes) std::cerr << "; " << note;
    std::cerr << " (see " << (out / "demo.log").string() << ")\n";
    return kExitFailure;
  }
  const auto sequence = session.GetAlignmentJobs().GetLastSequenceResult();

  // Fusion at the settings' resolution, all holes closed.
  stage.Restart();
  shell::FusionCommands& fusion = session.GetFusionCommands();
  fusion.ApplyCloseHolesStep(6);
  const int fusedBefore = session.GetFinishedFusions();
  progress.StartSession(1);
  {
    ProgressBar bar("fusion");
    session.AddTickObserver([&] {
      if (fusion.IsBusy()) bar(progress.GetOverallProgress());
    });
    if (!fusion.StartFusion_Async()) {
      std::cerr << "Error: the fusion did not start\n";
      return kExitFailure;
    }
    app.RunUntil([&] { return session.GetFinishedFusions() > fusedBefore; }, kRunTimeout);
  }
  progress.StopSession();
  if (cancelled || InterruptRequested()) return kExitCancelled;
  const v3d::Geo* fused = list.GetGeo(surf::ShapeFusion::kFusionResultIndex);
  if (fusion.GetResult() < 0 || !fused || fused->GetNumMeshes() == 0) {
    std::cerr << "Error: the fusion failed (see " << (out / "demo.log").string() << ")\n";
    return kExitFailure;
  }
  seconds["fusion"] = stage.ElapsedSeconds();

  // Export.
  stage.Restart();
  const surf::ScanListData data = list.ExportScanListData();
  for (const char* name : {"fused.ply", "fused.obj", "fused.3mf"}) {
    if (!surf::SaveMesh(out / name, *data.fusionResult)) {
      std::cerr << "Error: could not write " << (out / name).string() << '\n';
      return kExitFailure;
    }
  }
  if (!list.SaveProject(out / "demo.tarvelinproj")) {
    std::cerr << "Error: could not write " << (out / "demo.tarvelinproj").string() << '\n';
    return kExitFailure;
  }
  seconds["export"] = stage.ElapsedSeconds();

  // Pictures: the fused mesh, and the views side by side.
  stage.Restart();
  std::vector<std::string> pictures;
  {
    PreviewOptions preview;
    preview.font = DefaultPreviewFont();
    preview.title = "fused " + object + ", " + std::to_string(views) + " views";
    if (WritePreview({&*data.fusionResult}, out / "preview.png", preview)) pictures.push_back("preview.png");
    preview.width = 480;
    preview.height = 360;
    std::vector<img::RGBImage> tiles;
    try {
      for (std::size_t k = 0; k < data.scans.size(); ++k) {
        preview.title = "view " + std::to_string(k + 1);
        tiles.push_back(RenderPreview({&data.scans[k]}, preview));
      }
      if (img::SavePNG(MakeContactSheet(tiles, 4), out / "contact_sheet.png")) pictures.push_back("contact_sheet.png");
    } catch (const std::exception& e) {
      std::cerr << "Warning: no contact_sheet.png: " << e.what() << "\n";
    }
  }
  seconds["pictures"] = stage.ElapsedSeconds();

  // Scores against the truth. Scan k's vertices are rig-world points of the
  // object at pose k; its frame places it in the list, where scan 0's frame
  // stands for pose 0.
  stage.Restart();
  const sim::SceneObject& truth = rig->GetScene().GetObject(0);
  const SurfaceDistance surface(truth.mesh, 2.0);
  const math::Frame4d inverse0 = list.GetGeo(0)->GetFrame().GetInverse();
  Json perView = Json::array();
  std::vector<math::Vec3d> supportPoints;
  for (int k = 0; k < views; ++k) {
    const v3d::Geo& geo = *list.GetGeo(k);
    const math::Frame4d objectFromWorld = poses[std::size_t(k)].GetInverse();
    std::vector<double> distances;
    double sumSquares = 0.0;
    std::size_t count = 0;
    const math::Frame4d found = inverse0 * geo.GetFrame();
    const math::Frame4d trueRelative = poses[0] * poses[std::size_t(k)].GetInverse();
    const math::Frame4d identity;
    for (const math::Vec3d& p : PlacedVertices(geo, kMaxScoredPoints)) {
      const math::Vec3d local = geo.GetFrame().GetInverse().MultP(p);
      distances.push_back(surface.Distance(objectFromWorld.MultP(local), kMaxDeviation));
      sumSquares += (found.MultP(local) - trueRelative.MultP(local)).LengthSquared();
      ++count;
      supportPoints.push_back(p);
    }
    (void)identity;
    const Deviation scanScore = Score(distances);
    Json view;
    view["view"] = k;
    view["turntable_deg"] = double(k) * shell::ComputeTurntableStepAngle(views, totalAngle);
    view["scan_points_scored"] = count;
    view["scan_rms_mm"] = scanScore.rms;
    view["scan_p99_mm"] = scanScore.p99;
    view["alignment_rms_mm"] = count ? std::sqrt(sumSquares / double(count)) : 0.0;
    view["alignment_deg"] = RotationDegrees(found.GetInverse() * trueRelative);
    view["link_replaced"] = std::size_t(k) < sequence.replacedLinks.size() && sequence.replacedLinks[std::size_t(k)];
    perView.push_back(view);
  }

  // The fused mesh against the truth at pose 0.
  const PointProximity support(supportPoints, kSupportRadius);
  const math::Frame4d objectFromRoot = poses[0].GetInverse() * inverse0;
  std::vector<double> supported, all;
  for (const math::Vec3d& p : PlacedVertices(*fused, 0)) {
    const double d = surface.Distance(objectFromRoot.MultP(p), kMaxDeviation);
    all.push_back(d);
    if (support.HasPointWithin(p)) supported.push_back(d);
  }
  const Deviation fusedSupported = Score(supported), fusedAll = Score(all);
  std::size_t vertices = 0, triangles = 0;
  std::size_t borderEdges = 0;
  for (const auto& mesh : *fused) {
    vertices += mesh->GetNumVertices();
    triangles += mesh->GetNumPrims();
    borderEdges += CountBorderEdges(*mesh);
  }
  const bool closed = triangles > 0 && borderEdges == 0;
  seconds["evaluation"] = stage.ElapsedSeconds();

  // The fused mesh measured against the true object, placed in the list's
  // coordinates (also written as truth.stl for other tools).
  stage.Restart();
  surf::MeshArrays trueArrays;
  const math::Frame4d rootFromObject = objectFromRoot.GetInverse();
  for (const auto& p : truth.mesh.positions)
    trueArrays.positions.push_back(math::Vec3f(rootFromObject.MultP(math::Vec3d(p))));
  for (const auto& t : truth.mesh.triangles) trueArrays.indices.insert(trueArrays.indices.end(), {t[0], t[1], t[2]});
  surf::GeoItem trueItem = surf::MakeGeoItem(trueArrays);
  trueItem.geo->SetName("true object");
  MeasureSettings measureSettings;
  measureSettings.method = surf::DeviationMethod::kTriangle;
  measureSettings.out = out / "measure";
  measureSettings.report = out / "Measurements.txt";
  measureSettings.printSummary = false;
  Json measured;
  if (!surf::SaveMesh(out / "truth.stl", trueItem) ||
      MeasureItems(surf::GeoItem{std::make_shared<v3d::Geo>(*fused), data.fusionResult->textures}, trueItem,
                   measureSettings, &measured) != kExitSuccess) {
    std::cerr << "Error: the fused mesh could not be measured against the true object\n";
    return kExitFailure;
  }
  seconds["measure"] = stage.ElapsedSeconds();
  quiet.reset();
  seconds["total"] = total.ElapsedSeconds();

  Json report;
  report["object"] = object;
  report["setup"] = setup.empty() ? Json("rig") : Json(setup);
  report["views"] = views;
  report["total_angle_deg"] = totalAngle;
  report["scale"] = scale;
  report["resolution"] = settings.GetSetting<int>(shell::SettingPath("ShapeFusion/Fusion/Resolution")).Value();
  report["voxel_size_mm"] =
      list.CalculateFusionVoxelSize(settings.GetSetting<int>(shell::SettingPath("ShapeFusion/Fusion/Resolution")).Value());
  report["per_view"] = perView;
  report["table_tilt_deg"] = tableTilt;
  report["sequence"] = {{"step_turn_deg", sequence.stepTurn},
                        {"on_table_model", sequence.onTableModel},
                        {"table_axis", {sequence.tableAxis[0], sequence.tableAxis[1], sequence.tableAxis[2]}},
                        {"scans_axis_from_stated_deg", sequence.axisOffset},
                        {"scans_axis_standard_error_deg", sequence.axisOffsetError},
                        {"table_axis_from_scans", sequence.axisFromScans},
                        {"refined", sequence.refined}};
  report["fused"] = {{"vertices", vertices},
                     {"triangles", triangles},
                     {"closed", closed},
                     {"border_edges", borderEdges},
                     {"textured", list.HasTexture(surf::ShapeFusion::kFusionResultIndex)},
                     {"supported_vertices", fusedSupported.count},
                     {"rms_mm", fusedSupported.rms},
                     {"p99_mm", fusedSupported.p99},
                     {"all_vertices_rms_mm", fusedAll.rms},
                     {"all_vertices_p99_mm", fusedAll.p99}};
  report["measure"] = {{"method", measured["method"]},
                       {"tolerance_mm", measured["tolerance_mm"]},
                       {"deviation_mm", measured["deviation_mm"]},
                       {"planes", measured["planes"].size()},
                       {"spheres", measured["spheres"]}};
  report["notes"] = notes;
  report["files"] = {"fused.ply", "fused.obj", "fused.mtl", "fused.png", "fused.3mf", "demo.tarvelinproj",
                     "demo.log", "truth.stl", "Measurements.txt", "measure/deviations.ply",
                     "measure/deviations.png", "measure/report.json"};
  for (const std::string& picture : pictures) report["files"].push_back(picture);
  report["seconds"] = seconds;
  std::ofstream(out / "report.json") << report.dump(2) << '\n';

  double worstRms = 0.0, worstDeg = 0.0;
  for (const auto& view : perView) {
    worstRms = std::max(worstRms, view["alignment_rms_mm"].get<double>());
    worstDeg = std::max(worstDeg, view["alignment_deg"].get<double>());
  }
  std::printf("demo: %d views of the %s in %.0f s; worst alignment %.3f mm / %.2f deg; fused %zu triangles, %s, "
              "deviation %.3f mm RMS, %.3f mm p99\n",
              views, object.c_str(), total.ElapsedSeconds(), worstRms, worstDeg, triangles,
              closed ? "closed" : "open", fusedSupported.rms, fusedSupported.p99);
  std::printf("report: %s\n", (out / "report.json").string().c_str());
  return kExitSuccess;
}

}  // namespace tarvelin
