#include "shell/RigScanSession.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>

#include "foundation/utils/Timer.h"
#include "shell/DataRoot.h"
#include "shell/ProductScanners.h"
#include "shell/SettingPath.h"
#include "shell/VirtualRigScanner.h"
#include "sim/RigSetup.h"
#include "sim/VirtualRig.h"
#include "surf/mesh/MeshTools.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

// Progress ranges of the stages of one scan.
constexpr double kCastEnd = 0.1;
constexpr auto kScanTimeout = std::chrono::minutes(30);
constexpr const char* kRigSubfolder = "rigs/scan-session";

sim::RigScan Failed(sim::RigScan scan, std::string error) {
  scan.status = sim::RigScanStatus::kFailed;
  scan.error = std::move(error);
  return scan;
}

sim::RigScan Cancelled(sim::RigScan scan) {
  scan.status = sim::RigScanStatus::kCancelled;
  return scan;
}

fs::path TemporaryRoot() {
  static std::atomic<int> counter{0};
  return fs::temp_directory_path() /
         ("tarvelin-scan-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

// The mesh with normals and, when it has a texture, colours (the texture at
// each vertex's coordinates), texture coordinates and the texture itself.
surf::MeshArrays MeshArraysOf(const ResultMesh& result) {
  std::vector<float> normals;
  surf::CalcNormals(normals, result.vertices, result.indices);
  surf::MeshArrays mesh;
  const std::size_t n = result.vertices.size() / 3;
  const bool textured =
      result.texture && !result.texture->IsEmpty() && result.textureCoordinates.size() == 2 * n;
  mesh.positions.reserve(n);
  mesh.normals.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    mesh.positions.push_back(
        {result.vertices[3 * i], result.vertices[3 * i + 1], result.vertices[3 * i + 2]});
    mesh.normals.push_back({normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]});
    if (!textured) continue;
    const auto& texture = *result.texture;
    const float s = result.textureCoordinates[2 * i], t = result.textureCoordinates[2 * i + 1];
    const auto x =
        std::min(texture.width - 1, std::uint32_t(std::max(0.0f, s * float(texture.width))));
    const auto y =
        std::min(texture.height - 1, std::uint32_t(std::max(0.0f, t * float(texture.height))));
    const img::RGB8 c = texture(x, y);
    mesh.colors.push_back(v3d::Color4ub{c.r, c.g, c.b, 255});
    mesh.texCoords.push_back({s, t});
  }
  if (textured) mesh.texture = *result.texture;
  mesh.indices = result.indices;
  return mesh;
}

// The user's settings files, into the session's root before it starts.
bool CopyUserSettings(const fs::path& userRoot, const fs::path& root, std::string& error) {
  const fs::path from = DataRoot(userRoot).GetSettingsFolder();
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return true;  // the defaults
  fs::create_directories(DataRoot(root).GetSettingsFolder(), ec);
  if (!ec)
    fs::copy(from, DataRoot(root).GetSettingsFolder(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec)
    error = "cannot copy the settings of the data root " + userRoot.string() + ": " + ec.message();
  return !ec;
}

}  // namespace

RigScanSession::RigScanSession(Options options) : m_options(std::move(options)) {}

RigScanSession::~RigScanSession() {
  m_rig = nullptr;
  m_app.reset();
  if (m_temporaryRoot) {
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }
}

void RigScanSession::Log(const std::string& line) {
  std::lock_guard lock(m_logMutex);
  m_log.push_back(line);
}

std::vector<std::string> RigScanSession::GetLog() const {
  std::lock_guard lock(m_logMutex);
  return m_log;
}

// The newest notification, else the newest error line of the log.
std::string RigScanSession::LastProblem() const {
  std::lock_guard lock(m_logMutex);
  if (!m_notes.empty()) return m_notes.back();
  for (auto it = m_log.rbegin(); it != m_log.rend(); ++it)
    if (it->rfind("Error", 0) == 0) return *it;
  return "the scan failed (no reason was logged)";
}

bool RigScanSession::FindUserRig(const fs::path& root, UserRig& rig, std::string& error) {
  const std::string named = "the data root " + root.string();
  std::error_code ec;
  const fs::file_status status = fs::status(root, ec);
  if (!fs::exists(status)) {
    error = named +
            " does not exist (the studio, the shell or `tarvelin demo --root` make one at their "
            "first start)";
    return false;
  }
  if (!fs::is_directory(status)) {
    error = named + " is not a folder";
    return false;
  }
  fs::directory_iterator listing(root, ec);
  if (ec) {
    error = named + " cannot be read: " + ec.message();
    return false;
  }
  const fs::path schema = DataRoot(root).GetXamlFolder() / "Settings.xaml";
  if (!fs::is_regular_file(schema, ec)) {
    error = named + " holds no settings schema " + schema.string() +
            ": it is no data root of the studio or the shell";
    return false;
  }
  try {
    SettingsOptions options;
    options.root = root;
    options.log = [](const std::string&) {};
    options.error = [](const std::string&, const std::string&) {};
    Settings settings(std::move(options));
    std::string problem;
    const fs::path file = FindProfileSetupFile(settings, root, problem);
    if (file.empty()) {
      error = named + " has no hardware setup: " + problem;
      return false;
    }
    rig.product = settings.GetSetting<std::string>(SettingPath("HardwareSetup/Product")).Value();
    rig.rigFolder = file.parent_path();
    if (file.filename() != sim::kRigSetupFile ||
        !fs::is_regular_file(rig.rigFolder / sim::kRigSceneFile, ec)) {
      error = "the hardware setup " + file.string() + " of " + named +
              " is no virtual rig (a folder with " + sim::kRigSetupFile + " and " +
              sim::kRigSceneFile + "); a scan is scored against a rig's truth";
      return false;
    }
  } catch (const std::exception& e) {
    error = "the settings of " + named + " cannot be read: " + e.what();
    return false;
  }
  return true;
}

bool RigScanSession::Start(std::string& error) {
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  if (!sim::LoadRigFolder(m_options.rigFolder, setup, description, error)) return false;
  if (m_options.scene) description = *m_options.scene;
  m_product = !m_options.product.empty()  ? m_options.product
              : setup.cameras.size() >= 2 ? kVirtualStereoProduct
                                          : kVirtualProduct;

  // The rig folder in the data root: the setup and the chosen scene, whose
  // mesh and texture files are named by absolute paths.
  m_temporaryRoot = m_options.root.empty();
  m_root = m_temporaryRoot ? TemporaryRoot() : m_options.root;
  const fs::path folder = m_root / kRigSubfolder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!ec)
    fs::copy_file(m_options.rigFolder / sim::kRigSetupFile, folder / sim::kRigSetupFile,
                  fs::copy_options::overwrite_existing, ec);
  if (ec) {
    error = "cannot prepare the data root " + m_root.string() + ": " + ec.message();
    return false;
  }
  if (!m_options.userRoot.empty() && !CopyUserSettings(m_options.userRoot, m_root, error))
    return false;
  const fs::path base =
      description.baseDirectory.empty() ? m_options.rigFolder : description.baseDirectory;
  auto anchor = [&base](fs::path& file) {
    if (!file.empty() && file.is_relative()) file = fs::absolute(base / file);
  };
  for (auto& object : description.objects) {
    anchor(object.file);
    anchor(object.texture.file);
  }
  for (auto& panel : description.panels) anchor(panel.texture.file);
  {
    std::ofstream scene(folder / sim::kRigSceneFile);
    scene << sim::WriteSceneDescription(description);
    if (!scene) {
      error = "cannot write " + (folder / sim::kRigSceneFile).string();
      return false;
    }
  }

  CommandLine commandLine;
  const std::vector<std::string> arguments = {"--root",      m_root.string(),
                                              "--profile",   folder.string(),
                                              "--product",   m_product,
                                              "--rig-scale", std::to_string(m_options.imageScale),
                                              "--rig-seed",  std::to_string(m_options.seed)};
  if (!CommandLine::Parse(arguments, commandLine, error)) return false;
  Application::Options app;
  RegisterProducts(app);
  app.log = [this](const std::string& line) { Log(line); };
  app.notify = [this](const std::string& text, const std::string& title) {
    Log("Note: " + title + ": " + text);
    std::lock_guard lock(m_logMutex);
    m_notes.push_back(title + ": " + text);
  };
  m_app = std::make_unique<Application>(std::move(commandLine), std::move(app));
  if (!m_app->Start(error)) return false;
  m_rig = GetVirtualRig(m_app->GetScannerBundle());
  if (!m_rig) {
    // Why: the rig product's own error, else what the product said of its cameras.
    error = "the product \"" + m_product +
            "\" is no virtual rig, and a scan is scored against a rig's truth";
    for (const std::string& line : GetLog()) {
      if (line.rfind("Error: the scanner of product", 0) == 0) error = line.substr(7);
      if (line.rfind("Camera \"", 0) == 0) error += "; " + line;
    }
    return false;
  }
  return true;
}

void RigScanSession::ApplySettings(const RigScanOptions& o) {
  Settings& settings = m_app->GetSettings();
  auto set = [&settings](const char* path, const auto& value) {
    settings.GetSetting<std::decay_t<decltype(value)>>(SettingPath(path)).SetValue(value);
  };
  const double calibScale =
      settings.GetSetting<double>(SettingPath("Calibration/CalibScale")).Value();
  set("Scan/ScanMode", std::string("single"));
  set("Scan/AutoGrabTexture", o.texture);
  set("StructuredLight/PatternParameters/PatternMode", o.patternMode);
  set("StructuredLight/PatternParameters/ProjectorGamma",
      m_rig->GetProjector()->GetOptions().displayGamma);
  set("StructuredLight/Acquisition/ImageSkipCount",
      o.imageSkipCount < 0 ? std::string("auto") : std::to_string(o.imageSkipCount));
  set("StructuredLight/ResultFiltering/SmoothAverage", o.smoothIterations);
  // The quality limit is trunc(QualityCheck · 0.99 · 255): half a step
  // above the threshold gives it exactly.
  set("StructuredLight/ResultFiltering/QualityCheck",
      (double(o.qualityThreshold) + 0.5) / (0.99 * 255.0));
  set("StructuredLight/ResultFiltering/OutlierRemoval", o.minFragmentRatio);
  set("StructuredLight/ResultFiltering/MinDepth", 0.0);
  set("StructuredLight/ResultFiltering/MaxDepth", 0.0);
  set("Tesselation/DepthThresholdFactor", double(o.maxDepthJump) / (calibScale * 0.25));
  m_app->GetScanWorkflow().SetMaxViewingAngle(o.maxViewingAngleDeg);
}

sim::RigScan RigScanSession::Scan(double turntableAngle, const RigScanOptions& options,
                                  const utils::ProgressCallback& progress) {
  utils::Timer total, stage;
  sim::RigScan result;
  if (!m_rig) return Failed(std::move(result), "the session has not started");
  sim::VirtualRig& rig = *m_rig;
  if (!std::isfinite(turntableAngle))
    return Failed(std::move(result), "the turntable angle must be finite");
  if (options.objectId < 0 || std::size_t(options.objectId) >= rig.GetScene().GetNumObjects())
    return Failed(std::move(result), "the scene has no object " + std::to_string(options.objectId));
  const utils::SubProgress castProgress(progress, 0.0, kCastEnd),
      scanProgress(progress, kCastEnd, 1.0);

  if (rig.GetScene().GetTurntable().angle != turntableAngle) rig.SetTurntableAngle(turntableAngle);
  result.turntableAngle = turntableAngle;
  result.turntableMotion = rig.GetScene().GetTurntable().GetMotion();
  result.world_T_object = rig.GetScene().GetObjectPose(options.objectId);
  result.seconds.cast = stage.ElapsedSeconds();
  if (const std::size_t lit = sim::CountLitPixels(rig); lit < options.minVisiblePixels)
    return Failed(std::move(result),
                  "the object is outside every camera's view or the projector's light (" +
                      std::to_string(lit) + " lit pixels)");
  if (castProgress(1.0)) return Cancelled(std::move(result));

  ApplySettings(options);
  {
    std::lock_guard lock(m_logMutex);
    m_notes.clear();
  }
  ScanWorkflow& workflow = m_app->GetScanWorkflow();
  ProgressReporter& reporter = m_app->GetProgressReporter();
  reporter.StartSession(1);
  if (workflow.ScanStart() != 0) {
    reporter.StopSession();
    return Failed(std::move(result), LastProblem());
  }
  bool cancelled = false;
  m_app->RunUntil(
      [&] {
        const auto state = workflow.GetState();
        if (state == ScanWorkflow::State::kConverted || state == ScanWorkflow::State::kIdle)
          return true;
        if (!cancelled && scanProgress(0.9 * reporter.GetOverallProgress())) {
          cancelled = true;
          reporter.RequestCancel();
          workflow.Cancel();
        }
        return false;
      },
      kScanTimeout);
  reporter.StopSession();
  if (cancelled) return Cancelled(std::move(result));
  if (workflow.GetState() != ScanWorkflow::State::kConverted) {
    workflow.Cancel();
    return Failed(std::move(result), LastProblem());
  }

  stage.Restart();
  const auto& scanner = *m_app->GetScanner();
  result.patternCount = std::uint32_t(workflow.GetScanDefinition()->PatternCount());
  for (std::size_t c = 0; c < rig.GetCameraCount() && c < scanner.GetCameraCount(); ++c) {
    const auto evaluation = scanner.GetEvaluationResult(c);
    if (!evaluation || !evaluation->Quality())
      return Failed(std::move(result),
                    "camera " + rig.GetCamera(c)->GetName() + " decoded nothing");
    result.decoding.push_back(sim::ScoreDecoding(*evaluation, *rig.GetCamera(c)));
  }
  const bool stereo = workflow.GetSurface(kSurfaceStereo).available;
  result.triangulation = stereo ? "stereo" : "camera-projector";
  ResultMesh mesh;
  std::shared_ptr<surf::DepthMap> filtered;
  if (!workflow.GetSurface(stereo ? kSurfaceStereo : kSurfaceCamera0).available)
    return Failed(std::move(result), "the decoded correspondences could not be triangulated");
  const bool made =
      workflow.CreateResultMesh(stereo ? kSurfaceStereo : kSurfaceCamera0, mesh, &filtered);
  if (!filtered)
    return Failed(std::move(result), "the decoded correspondences could not be triangulated");
  // In the world: a calibrated camera model's pose error is not a depth error.
  const auto model = scanner.GetCameraModel(0);
  result.depthScore = sim::ScoreDepth(*filtered, *rig.GetCamera(0), model.get());
  if (!made) return Failed(std::move(result), "nothing of the scan remained after filtering");
  result.seconds.mesh = stage.ElapsedSeconds();
  const auto& seconds = workflow.GetLastScanSeconds();
  result.seconds.capture = seconds.capture;
  result.seconds.evaluate = seconds.evaluate;
  result.seconds.depth = seconds.convert;

  result.mesh = MeshArraysOf(mesh);
  result.quality = scanner.GetEvaluationResult(0)->Quality();
  result.depth = std::move(filtered);
  result.seconds.total = total.ElapsedSeconds();
  if (scanProgress(1.0)) return Cancelled(std::move(result));
  result.status = sim::RigScanStatus::kSuccess;
  return result;
}

sim::TurntableSet RigScanSession::ScanTurntable(int views, double startAngle, double stepAngle,
                                                const RigScanOptions& options,
                                                const utils::ProgressCallback& progress) {
  sim::TurntableSet set;
  if (views < 1 || !std::isfinite(startAngle) || !std::isfinite(stepAngle)) {
    set.error = "a turntable set needs at least one view and finite angles";
    return set;
  }
  for (int k = 0; k < views; ++k) {
    const utils::SubProgress sub(progress, double(k) / views, double(k + 1) / views);
    sim::RigScan scan = Scan(startAngle + k * stepAngle, options, sub.AsCallback());
    set.status = scan.status;
    if (scan.status == sim::RigScanStatus::kFailed)
      set.error = "view " + std::to_string(k) + ": " + scan.error;
    if (scan.status != sim::RigScanStatus::kSuccess) return set;
    set.scans.push_back(std::move(scan));
  }
  return set;
}

}  // namespace shell
