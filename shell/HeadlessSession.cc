#include "shell/HeadlessSession.h"

#include "scan/CalibratedModels.h"
#include "shell/ProductScanners.h"
#include "shell/RigCalibrationStation.h"
#include "shell/ScannerCalibrationStation.h"
#include "shell/TurntableLoader.h"
#include "shell/VirtualRigScanner.h"
#include "sim/VirtualCamera.h"
#include "sim/VirtualRig.h"
#include "sim/turntable/TurntableFollower.h"

namespace shell {

HeadlessSession::HeadlessSession(Options options) : m_options(std::move(options)) {
  if (!m_options.application.log) m_options.application.log = StdoutLogSink();
  RegisterProducts(m_options.application);
}

HeadlessSession::~HeadlessSession() {
  // The machines and the jobs use the application's parts: they go first.
  if (m_controller) m_controller->SetCalibrationMachines(nullptr);
  m_calibration.reset();
  m_station.reset();
  m_controller.reset();
  m_watchdog.reset();
  m_project.reset();
  m_measure.reset();
  m_fusion.reset();
  m_jobs.reset();
  m_follower.reset();
  m_app.reset();
}

bool HeadlessSession::Start(std::string& error) {
  CommandLine commandLine;
  if (!CommandLine::Parse(m_options.arguments, commandLine, error)) return false;
  m_app = std::make_unique<Application>(std::move(commandLine), m_options.application);
  if (!m_app->Start(error)) return false;
  const LogSink& log = m_options.application.log;
  NotifyFunction notify = m_options.application.notify;
  if (!notify) notify = [log](const std::string& text, const std::string& title) { log(title + ": " + text); };

  Settings& settings = m_app->GetSettings();
  m_jobs = std::make_unique<AlignmentJobs>(m_app->GetShapeFusion(), settings, m_app->GetProgressReporter(), log,
                                           m_options.alignment);
  m_fusion = std::make_unique<FusionCommands>(settings, m_app->GetLanguage(), m_app->GetShapeFusion(),
                                              m_app->GetProgressReporter(), log);
  m_measure = std::make_unique<MeasureCommands>(settings, m_app->GetShapeFusion(), m_app->GetProgressReporter(),
                                                m_app->GetDataRoot().GetLogFolder(), log);
  m_project = std::make_unique<ProjectCommands>(settings, m_app->GetShapeFusion(),
                                                std::vector<surf::ProjectItemModule*>{&m_measure->GetMeasure()}, log);
  m_watchdog = std::make_unique<CaptureWatchdog>(m_app->GetProgressReporter(), log, notify);
  m_controller = std::make_unique<ScanSequenceController>(settings, m_app->GetLanguage(), m_app->GetProgressReporter(),
                                                          m_app->GetScanWorkflow(), m_app->GetShapeFusion(), *m_jobs,
                                                          notify, log);

  m_rig = shell::GetVirtualRig(m_app->GetScannerBundle());
  std::string parameters = m_options.turntableParameters;
  std::string channel;
  if (m_rig) {
    channel = (m_app->GetDataRoot().GetFolder() / "turntable.state").string();
    parameters = "channel=" + channel + (parameters.empty() ? "" : " " + parameters);
  }
  LoadedTurntable table = LoadTurntablePlugin(m_app->GetDataRoot().GetPluginFolder(),
                                              m_app->GetDataRoot().GetLogFolder(), parameters, m_app->GetLanguage(),
                                              log);
  m_turntableResult = table.result;
  if (table.motor) {
    m_controller->SetTurntable(std::move(table.motor));
    if (m_rig) m_follower = std::make_unique<sim::TurntableFollower>(*m_rig, channel);
  }
  CreateCalibration();
  m_app->AddTimerHandler([this] { Tick(); });
  return true;
}

// The virtual rig photographs and scans its own printed corner with its
// true models; any other product calibrates with its scanner before the
// user's target and keeps the result as its hardware setup.
void HeadlessSession::CreateCalibration() {
  const LogSink& log = m_options.application.log;
  const std::filesystem::path folder = m_app->GetDataRoot().GetFolder() / "calibration";
  CalibrationMachine::Options options;
  options.calibrationFolder = folder;
  if (m_rig) {
    scan::HardwareSetupIO truth;
    sim::SceneDescription description;
    std::string error;
    if (!sim::LoadRigFolder(m_app->GetHardwareSetupFile().parent_path(), truth, description, error)) {
      log("Calibration: the rig folder cannot be read (" + error + "); calibration is not available.");
      return;
    }
    m_station = std::make_unique<RigCalibrationStation>(std::move(truth), std::move(description));
    options.setupFile = folder / "CalibratedSetup.tarvelinsetup";
  } else {
    auto station = std::make_unique<ScannerCalibrationStation>();
    m_scannerStation = station.get();
    m_station = std::move(station);
    options.setupFile = m_app->GetHardwareSetupFile();
  }
  PrepareCalibrationStation();
  m_calibration = std::make_unique<CalibrationMachine>(m_app->GetSettings(), *m_station, options, log);
  m_controller->SetCalibrationMachines(m_calibration.get());
}

bool HeadlessSession::StartCalibration(std::string& error) {
  if (!m_calibration) {
    error = "This scanner has no calibration station: calibrate it with tarvelin calibrate --images.";
    return false;
  }
  if (!IsIdle()) {
    error = "The calibration cannot start while a scan, alignment, fusion or calibration runs: wait for it or "
            "cancel it.";
    return false;
  }
  if (m_scannerStation && !m_app->GetScanner()) {
    error = "There is no scanner to calibrate: check the product in the settings and that its camera and projector "
            "are connected.";
    return false;
  }
  PrepareCalibrationStation();
  if (!m_calibration->StartCalibration(m_app->GetHardwareSetup())) {
    error = "The calibration machine is busy.";
    return false;
  }
  return true;
}

ICalibrationStation* HeadlessSession::PrepareCalibrationStation() {
  if (m_scannerStation)
    m_scannerStation->Use(m_app->GetScanner(), m_app->GetScannerBundle().patternWindow,
                          PatternSettings::Read(m_app->GetSettings()));
  return m_station.get();
}

void HeadlessSession::UseAcceptedCalibration() {
  const CalibStatus status = m_calibration->GetCalibStatus();
  const bool accepted = status == CalibStatus::AllDone && m_lastCalibStatus != CalibStatus::AllDone;
  m_lastCalibStatus = status;
  if (!accepted || !m_app->GetScanner()) return;
  std::string error;
  if (scan::UseSetupModels(*m_app->GetScanner(), m_calibration->GetSetup(), error)) {
    ++m_acceptedCalibrations;
    m_options.application.log("Calibration: the scanner now triangulates with the calibrated setup.");
  } else {
    m_options.application.log("Error: the calibrated setup does not fit the scanner (" + error + ").");
  }
}

void HeadlessSession::FollowCameraCable() {
  const auto now = std::chrono::steady_clock::now();
  if (now < m_nextCableCheck) return;
  m_nextCableCheck = now + std::chrono::milliseconds(250);
  std::error_code ec;
  const bool unplugged = std::filesystem::exists(m_app->GetDataRoot().GetFolder() / "camera.unplugged", ec);
  for (std::size_t c = 0; c < m_rig->GetCameraCount(); ++c) {
    sim::VirtualCamera& camera = *m_rig->GetCamera(c);
    if (camera.IsUnplugged() == unplugged) continue;
    camera.SetUnplugged(unplugged);
    m_options.application.log("Virtual rig: camera " + camera.GetName() + (unplugged ? " unplugged." : " plugged in."));
  }
}

void HeadlessSession::Tick() {
  if (m_follower) m_follower->Update();
  if (m_rig) FollowCameraCable();
  m_watchdog->Tick(m_app->GetScanWorkflow().GetState() == ScanWorkflow::State::kCapturing, m_app->GetScanner().get(),
                   CaptureWatchdog::Clock::now());
  m_controller->Tick();
  if (m_calibration) UseAcceptedCalibration();
  if (m_fusion->Poll()) ++m_finishedFusions;
  if (m_measure->Poll()) ++m_finishedMeasures;
  for (const auto& observer : m_observers) observer();
}

bool HeadlessSession::IsIdle() const {
  const bool calibrating = m_calibration && (m_calibration->GetCalibStatus() != CalibStatus::Idle ||
                                              m_calibration->GetFlatPlateViewStatus() != AddFlatPlateViewStatus::Idle);
  return m_controller->GetScanStatus() == ScanStatus::Idle && !m_jobs->IsBusy() && !m_fusion->IsBusy() &&
         !m_measure->IsBusy() && !calibrating;
}

}  // namespace shell
