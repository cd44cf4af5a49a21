#include "shell/HeadlessSession.h"

#include "shell/ProductScanners.h"
#include "shell/TurntableLoader.h"
#include "shell/VirtualRigScanner.h"
#include "sim/turntable/TurntableFollower.h"

namespace shell {

HeadlessSession::HeadlessSession(Options options) : m_options(std::move(options)) {
  if (!m_options.application.log) m_options.application.log = StdoutLogSink();
  RegisterProducts(m_options.application);
}

HeadlessSession::~HeadlessSession() {
  // The machine and the jobs use the application's parts: they go first.
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
  m_app->AddTimerHandler([this] { Tick(); });
  return true;
}

void HeadlessSession::Tick() {
  if (m_follower) m_follower->Update();
  m_watchdog->Tick(m_app->GetScanWorkflow().GetState() == ScanWorkflow::State::kCapturing, m_app->GetScanner().get(),
                   CaptureWatchdog::Clock::now());
  m_controller->Tick();
  if (m_fusion->Poll()) ++m_finishedFusions;
  if (m_measure->Poll()) ++m_finishedMeasures;
  for (const auto& observer : m_observers) observer();
}

bool HeadlessSession::IsIdle() const {
  return m_controller->GetScanStatus() == ScanStatus::Idle && !m_jobs->IsBusy() && !m_fusion->IsBusy() &&
         !m_measure->IsBusy();
}

}  // namespace shell
