#include "shell/ScanWorkflow.h"

#include <algorithm>
#include <stdexcept>

#include "shell/ScanSetup.h"
#include "shell/SettingPath.h"

namespace shell {
namespace {

constexpr const char* kScreenshotFile = "Tarvelin5_Screenshot_LatestScan.png";
constexpr const char* kTitleScan = "_l10n_Title_Scan_n01l_";
constexpr const char* kTitleCalibration = "_l10n_Title_Calibration_n01l_";

std::string Key(const std::string& name) { return "_l10n_" + name + "_n01l_"; }

}  // namespace

template <class T>
T ScanWorkflow::Get(const char* titlePath) const {
  return m_c.settings->GetSetting<T>(SettingPath(titlePath)).Value();
}

template <class T>
void ScanWorkflow::Set(const char* titlePath, const T& value) {
  m_c.settings->GetSetting<T>(SettingPath(titlePath)).SetValue(value);
}

ScanWorkflow::ScanWorkflow(Collaborators collaborators)
    : m_c(std::move(collaborators)), m_log(m_c.log ? m_c.log : StdoutLogSink()) {
  if (!m_c.settings || !m_c.language || !m_c.progress || !m_c.fusion)
    throw std::invalid_argument("ScanWorkflow::ScanWorkflow - settings, language, progress and fusion are required.");
}

ScanWorkflow::~ScanWorkflow() {
  m_cancelJob = true;
  JoinWorker();
}

void ScanWorkflow::SetScanner(std::shared_ptr<scan::StructuredLightScanner> scanner,
                              std::shared_ptr<PatternWindow> window, SystemCalibrationUpdate update) {
  if (IsJobRunning()) throw std::logic_error("ScanWorkflow::SetScanner - a scan is running.");
  m_c.scanner = std::move(scanner);
  m_c.patternWindow = std::move(window);
  m_c.updateSystemCalibration = std::move(update);
  m_surfaces = {};
  m_state = State::kIdle;
}

// --- Starting a scan

int ScanWorkflow::ScanStart() {
  if (IsJobRunning() || m_state == State::kCapturing || m_state == State::kEvaluating) {
    m_log("StructuredLightUI: a scan is already running.");
    return -500;
  }
  m_c.progress->ClearCancel();
  const auto& scanner = m_c.scanner;
  if (!scanner || !m_c.patternWindow) return Fail(-500, "StructuredLightUI: there is no scanner.", "Error_ScanFailed");

  const bool background = Get<std::string>("Scan/ScanMode") == "background";
  if (!scanner->IsCalibrated()) {
    bool everyModel = scanner->GetCameraCount() > 0;
    for (std::size_t c = 0; c < scanner->GetCameraCount(); ++c) everyModel = everyModel && scanner->GetCameraModel(c);
    if (!(everyModel && background))
      return Fail(-501, "StructuredLightUI: the scanner is not calibrated.", "Error_ScannerNotCalibrated");
  }
  SaveScreenshot();

  const bool texture =
      Get<bool>("Scan/AutoGrabTexture") || (background && Get<bool>("Calibration/UpdateSystemCalibration"));
  m_surfaces = {};
  m_backgroundScan = background;
  Set<bool>("Scan/Status/IsScanDataAvailable", false);
  Set<bool>("Scan/Status/IsTextureAvailable", false);
  Set<bool>("Scan/Status/IsCurrentScanBackground", background);
  if (!SetupScan(texture)) return Fail(-500, "StructuredLightUI: SL scan failed.", "Error_ScanFailed");
  Set<int>("StructuredLight/PatternCount", static_cast<int>(m_scanDefinition->PatternCount()));
  Set<bool>("Scan/Status/IsCurrentlyCalibrating", false);
  Set<bool>("Scan/Status/IsCurrentlyScanning", true);
  SetupScanObjects();
  m_c.progress->SetResult(0);
  StartCapture();
  return 0;
}

int ScanWorkflow::Fail(int code, const std::string& logLine, const std::string& key) {
  m_log(logLine);
  Notify(Key(key), kTitleScan);
  m_c.progress->SetResult(code);
  return code;
}

void ScanWorkflow::SaveScreenshot() {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  const std::filesystem::path file = (ec ? std::filesystem::path("/tmp") : folder) / kScreenshotFile;
  if (!m_c.saveScreenshot) {
    m_log("StructuredLightUI: no window to capture for " + file.string() + ".");
    return;
  }
  if (!m_c.saveScreenshot(file)) m_log("StructuredLightUI: could not save the screenshot " + file.string() + ".");
}

bool ScanWorkflow::SetupScan(bool withTexture) {
  auto& scanner = *m_c.scanner;
  scanner.SetTextureCaptureMode(withTexture ? 2 : 0);
  const bool colorFlag =
      scanner.IsColorCaptureSupported() && !Get<bool>("Texturing/RGBProjectionForColorCameras");
  try {
    m_scanDefinition = BuildScanDefinition(PatternSettings::Read(*m_c.settings), m_c.patternWindow->GetWidth(),
                                           m_c.patternWindow->GetHeight(), withTexture, colorFlag);
  } catch (const std::exception& e) {
    m_log(std::string("Error: ") + e.what());
    return false;
  }
  scanner.SetSLScan(m_scanDefinition);
  return true;
}

void ScanWorkflow::SetupScanObjects() {
  auto& scanner = *m_c.scanner;
  m_c.patternWindow->SetColorMask(PatternColorMask(Get<std::string>("StructuredLight/PatternParameters/PatternColor")));
  bool slowCamera = false;
  for (std::size_t c = 0; c < scanner.GetCameraCount(); ++c) {
    const auto capture = scanner.GetImageCapture(c);
    slowCamera = slowCamera || !capture || capture->IsSlowCamera();
  }
  scanner.SetAcquisitionParameters(ReadAcquisitionParameters(*m_c.settings, slowCamera));
}

// --- Background jobs

void ScanWorkflow::StartJob(std::function<JobOutcome()> job, std::function<void(const JobOutcome&)> done) {
  JoinWorker();
  m_cancelJob = false;
  m_c.progress->SetBusy(true);
  const std::uint64_t serial = ++m_jobSerial;
  m_worker = std::thread([this, job = std::move(job), done = std::move(done), serial] {
    JobOutcome outcome;
    try {
      outcome = job();
    } catch (const std::exception& e) {
      outcome.error = e.what();
    }
    std::lock_guard lock(m_postedMutex);
    m_posted.push_back([this, done, outcome, serial] {
      if (serial == m_jobSerial) done(outcome);
    });
  });
}

void ScanWorkflow::JoinWorker() {
  if (m_worker.joinable()) m_worker.join();
}

void ScanWorkflow::Pump() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard lock(m_postedMutex);
    handlers.swap(m_posted);
  }
  for (auto& handler : handlers) handler();
}

void ScanWorkflow::Cancel() {
  if (IsJobRunning()) {
    m_cancelJob = true;
    JoinWorker();
  }
  ++m_jobSerial;  // whatever the job posted is dropped
  {
    std::lock_guard lock(m_postedMutex);
    m_posted.clear();
  }
  // Only a scan of ours clears the busy flag (the reporter is shared with
  // other background work such as alignments).
  if (m_state == State::kCapturing || m_state == State::kEvaluating) {
    m_log("StructuredLightUI: scan cancelled.");
    m_surfaces = {};
    EndScan(State::kIdle);
  }
}

namespace {

double SecondsSince(std::chrono::steady_clock::time_point& start) {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - start).count();
  start = now;
  return seconds;
}

}  // namespace

void ScanWorkflow::StartCapture() {
  m_state = State::kCapturing;
  m_seconds = {};
  m_stageStart = std::chrono::steady_clock::now();
  auto scanner = m_c.scanner;
  auto definition = m_scanDefinition;
  StartJob(
      [this, scanner, definition] {
        bool cancelled = false;
        scanner->CapturePatternSequence([this, &cancelled](double fraction) {
          cancelled = m_c.progress->Report(0.5 * fraction) || m_cancelJob;
          return cancelled;
        });
        JobOutcome outcome;
        outcome.completed = !cancelled && scanner->GetCompletedPatternCount() >= definition->PatternCount();
        return outcome;
      },
      [this](const JobOutcome& outcome) { OnCaptureDone(outcome); });
}

bool ScanWorkflow::EndOfJob(const JobOutcome& outcome, const char* job) {
  JoinWorker();
  if (!outcome.error.empty()) {
    Fail(-500, "Error: " + outcome.error, "Error_ScanFailed");
    EndScan(State::kIdle);
    if (m_scanDone) m_scanDone();
    return false;
  }
  if (!outcome.completed) {
    m_log(std::string("StructuredLightUI: ") + job + " cancelled.");
    EndScan(State::kIdle);
    return false;
  }
  return true;
}

void ScanWorkflow::OnCaptureDone(const JobOutcome& outcome) {
  if (!EndOfJob(outcome, "capture")) return;
  m_seconds.capture = SecondsSince(m_stageStart);
  m_c.patternWindow->ShowSetupPattern();
  m_c.patternWindow->BringToFront();
  StartEvaluation();
}

void ScanWorkflow::StartEvaluation() {
  m_state = State::kEvaluating;
  auto scanner = m_c.scanner;
  StartJob(
      [this, scanner] {
        JobOutcome outcome;
        outcome.completed = scanner->EvaluatePatternSequence(
            [this](double fraction) { return m_c.progress->Report(0.5 + 0.5 * fraction) || m_cancelJob; });
        outcome.completed = outcome.completed && !m_cancelJob;
        return outcome;
      },
      [this](const JobOutcome& outcome) { OnEvaluationDone(outcome); });
}

void ScanWorkflow::OnEvaluationDone(const JobOutcome& outcome) {
  if (!EndOfJob(outcome, "evaluation")) return;
  m_seconds.evaluate = SecondsSince(m_stageStart);
  if (Get<bool>("Calibration/UpdateSystemCalibration") && !m_backgroundScan && m_c.updateSystemCalibration)
    RunSystemCalibrationUpdate();
  ConvertResults();
}

void ScanWorkflow::RunSystemCalibrationUpdate() {
  const int result = m_c.updateSystemCalibration();
  if (result == 0) return;
  if (result == 1) {
    Notify(Key("Calibration_StereoMightNeedRecalibration"), kTitleCalibration);
    m_recalibrationNeeded = true;
  } else if (result == -1) {
    Notify(Key("Calibration_UpdateFailed"), kTitleCalibration);
  } else if (result < 0) {
    Notify(Key("Calibration_ScanFailedOrRecalibrate"), kTitleCalibration);
    m_recalibrationNeeded = true;
  }
}

// --- Conversion

ConversionInput ScanWorkflow::CollectResults() const {
  const auto& scanner = *m_c.scanner;
  ConversionInput input;
  for (std::size_t c = 0; c < scanner.GetCameraCount(); ++c) {
    input.results.push_back(scanner.GetEvaluationResult(c));
    input.cameraModels.push_back(scanner.GetCameraModel(c));
  }
  input.projectorModel = scanner.GetProjectorModel();
  if (scanner.HasHighQualityTexture()) {
    input.highQualityTexture = scanner.GetHighQualityTextureImage();
    input.highQualityTextureModel = scanner.GetHighQualityTextureCameraModel();
  }
  input.projectorReflectionFilter = Get<bool>("StructuredLight/Triangulation/ProjectorReflectionFilter");
  return input;
}

void ScanWorkflow::ConvertResults() {
  m_surfaces = ConvertToSurfaces(CollectResults(), m_log);
  m_seconds.convert = SecondsSince(m_stageStart);
  const bool any = std::any_of(m_surfaces.begin(), m_surfaces.end(), [](const auto& s) { return s.available; });
  if (!any) {
    Fail(-500, "StructuredLightUI: SL scan failed.", "Error_ScanFailed");
    EndScan(State::kIdle);
    if (m_scanDone) m_scanDone();
    return;
  }
  if (Get<bool>("Calibration/VerificationDuringScan/Enable") && m_c.scanner->GetCameraCount() == 2)
    CheckExtendedViewDistance();
  if (m_backgroundScan) KeepBackground();
  const bool texture = std::any_of(m_surfaces.begin(), m_surfaces.end(),
                                   [](const auto& s) { return s.available && s.texture; });
  Set<bool>("Scan/Status/IsTextureAvailable", texture);
  Set<bool>("Scan/Status/IsScanDataAvailable", true);
  EndScan(State::kConverted);
  if (m_scanDone) m_scanDone();
}

void ScanWorkflow::CheckExtendedViewDistance() {
  const auto& a = m_surfaces[kSurfaceCamera0];
  const auto& b = m_surfaces[kSurfaceCamera1];
  if (!a.available || !b.available) return;
  auto points = [](const surf::DepthMap& map) {
    const auto& depth = map.GetDepthImage();
    const auto& camera = map.GetCameraModel();
    return scan::StructuredLightScanner::SampleDepthPixels(
        map.GetWidth(), map.GetHeight(), [&](std::uint32_t x, std::uint32_t y, math::Vec3d& world) {
          const float d = depth(x, y);
          math::Vec3d ray;
          if (!(d > 0.0f) || !camera.PixelToCameraRay(ray, {double(x), double(y)}) || ray[2] == 0.0) return false;
          world = camera.GetFrame_wTc().MultP(ray * (double(d) / ray[2]));
          return true;
        });
  };
  const double threshold = Get<double>("Calibration/CalibScale") * 0.25 *
                           Get<double>("Calibration/VerificationDuringScan/ExtendedViewDistThresFactor");
  try {
    if (!m_c.scanner->CheckExtendedViewScanDistance(points(*a.depthMap), points(*b.depthMap), threshold,
                                                    m_c.patternWindow->GetWidth(), m_c.patternWindow->GetHeight())) {
      m_log("StructuredLightUI: the two cameras' scans lie apart; the calibration should be renewed.");
      m_recalibrationNeeded = true;
    }
  } catch (const std::exception& e) {
    m_log(std::string("Error: ") + e.what());
  }
}

void ScanWorkflow::KeepBackground() {
  const ResultMeshParameters parameters = ResultMeshParameters::Read(*m_c.settings).ForBackgroundScan();
  bool kept = false;
  for (int id = 0; id < kSurfaceCount; ++id) {
    if (!m_surfaces[id].available) continue;
    ResultMesh mesh;
    std::shared_ptr<surf::DepthMap> filtered;
    BuildResultMesh(m_surfaces[id], parameters, {}, std::nullopt, mesh, &filtered);
    m_background[id] = filtered;
    kept = kept || filtered;
  }
  if (kept) Set<bool>("BackgroundRemoval/BackgroundScanAvailable", true);
}

void ScanWorkflow::EndScan(State state) {
  m_state = state;
  Set<bool>("Scan/Status/IsCurrentlyScanning", false);
  m_c.progress->SetBusy(false);
}

// --- Result meshes and the scan list

bool ScanWorkflow::CreateResultMesh(int surfaceId, ResultMesh& mesh, std::shared_ptr<surf::DepthMap>* filteredOut) {
  mesh = ResultMesh{};
  if (filteredOut) filteredOut->reset();
  if (surfaceId < 0 || surfaceId >= kSurfaceCount || !m_surfaces[surfaceId].available) return false;
  ResultMeshParameters parameters = ResultMeshParameters::Read(*m_c.settings);
  parameters.maxViewingAngleDeg = m_maxViewingAngleDeg;
  BackgroundRemoval background;
  if (m_backgroundScan) {
    parameters = parameters.ForBackgroundScan();
  } else if (Get<bool>("BackgroundRemoval/BackgroundRemovalEnabled") && m_background[surfaceId]) {
    background.depthMap = m_background[surfaceId].get();
    background.epsilon = Get<bool>("BackgroundRemoval/AutoBackgroundRemovalEpsilon")
                             ? surf::ComputeAutoBackgroundEpsilon(*background.depthMap)
                             : Get<double>("BackgroundRemoval/BackgroundRemovalEpsilon");
  }
  if (parameters.removeCalibPlanes && !m_backgroundPlanes)
    m_log("StructuredLightUI: no calibration panels known; their planes are not removed.");
  std::shared_ptr<surf::DepthMap> filtered;
  const bool made = BuildResultMesh(m_surfaces[surfaceId], parameters, background, m_backgroundPlanes, mesh, &filtered);
  if (filteredOut) *filteredOut = filtered;
  if (m_backgroundScan && filtered) {
    m_background[surfaceId] = filtered;
    Set<bool>("BackgroundRemoval/BackgroundScanAvailable", true);
  }
  return made;
}

std::vector<int> ScanWorkflow::SelectedSurfaces() const {
  std::vector<int> chosen;
  auto available = [&](int id) { return id >= 0 && id < kSurfaceCount && m_surfaces[id].available; };
  if (!m_selection.empty()) {
    for (int id : m_selection)
      if (available(id)) chosen.push_back(id);
    return chosen;
  }
  if (available(kSurfaceStereo)) return {kSurfaceStereo};
  for (int id : {kSurfaceCamera0, kSurfaceCamera1})
    if (available(id)) chosen.push_back(id);
  return chosen;
}

int ScanWorkflow::ScanAddToFusion() {
  const std::vector<int> selected = m_state == State::kConverted ? SelectedSurfaces() : std::vector<int>{};
  if (selected.empty()) {
    m_c.progress->SetResult(-104);
    return -104;
  }
  std::string name = Get<std::string>("Scan/ScanName");
  const std::string index = std::to_string(Get<int>("Scan/ScanIndex"));
  for (std::size_t at = name.find('#'); at != std::string::npos; at = name.find('#', at + index.size()))
    name.replace(at, 1, index);

  int first = -1;
  for (int id : selected) {
    ResultMesh mesh;
    if (!CreateResultMesh(id, mesh)) continue;
    std::string scanName = name;
    if (selected.size() > 1 && id != kSurfaceStereo) scanName += id == kSurfaceCamera0 ? "A" : "B";
    const int added = m_c.fusion->AddGeo(mesh.vertices, mesh.indices, mesh.textureCoordinates, scanName);
    if (added < 0) continue;
    if (mesh.texture) m_c.fusion->AddTexture(added, *mesh.texture);
    if (first < 0) first = added;
  }
  if (m_c.refreshScanList) m_c.refreshScanList();
  Set<int>("Scan/ScanIndex", Get<int>("Scan/ScanIndex") + 1);

  m_surfaces = {};
  m_state = State::kIdle;
  Set<bool>("Scan/Status/IsScanDataAvailable", false);
  if (first < 0) {
    m_log("StructuredLightUI: no surface of the scan gave a mesh.");
    m_c.progress->SetResult(-104);
    return -104;
  }
  return first;
}

// --- Notifications

std::string ScanWorkflow::Text(const std::string& key) const { return m_c.language->Get(key); }

void ScanWorkflow::Notify(const std::string& key, const std::string& titleKey) {
  const std::string text = Text(key), title = Text(titleKey);
  if (m_c.notify) {
    m_c.notify(text, title);
  } else {
    m_log(title + ": " + text);
  }
}

}  // namespace shell
