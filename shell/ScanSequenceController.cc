#include "shell/ScanSequenceController.h"

#include <algorithm>

#include "plugin/IMotor.h"
#include "plugin/MotorPluginAbi.h"
#include "shell/AlignmentJobs.h"
#include "shell/Language.h"
#include "shell/ProgressReporter.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

namespace {

std::string Path(const std::string& group, const std::string& key) {
  return "/Settings/" + group + "/*[@title='" + key + "']";
}

// Milliseconds the structured-light page gets to come up before a scan.
constexpr double kPageWaitMs = 500.0;

}  // namespace

const char* ToString(ScanStatus status) {
  static const char* const kNames[] = {"Idle",          "Start",       "StartScanning",
                                       "StartScanning2", "StartScanning3", "Scanning",
                                       "ScanningDone",  "StartTurntable", "AddToListAndAlignYAngle",
                                       "AddToList",     "Aligning",    "RotatingTurntable",
                                       "TurntableDone", "AllDone",     "Cancel"};
  const int index = static_cast<int>(status);
  return index >= 0 && index < 15 ? kNames[index] : "?";
}

double ComputeTurntableStepAngle(int numberOfScans, double totalScanAngle) {
  if (numberOfScans < 2) return 0.0;
  const int divisor = totalScanAngle == 360.0 ? numberOfScans : numberOfScans - 1;
  return divisor == 0 ? 0.0 : totalScanAngle / divisor;
}

ScanSequenceController::ScanSequenceController(Settings& settings, const Language& language,
                                               ProgressReporter& progress, IScanWorkflow& workflow,
                                               surf::ShapeFusion& fusion, IAlignmentJobs& alignment,
                                               NotifyFunction notify, LogSink log)
    : m_settings(settings),
      m_language(language),
      m_progress(progress),
      m_workflow(workflow),
      m_fusion(fusion),
      m_alignment(alignment),
      m_notify(std::move(notify)),
      m_log(log ? std::move(log) : StdoutLogSink()) {
  m_scanMode = settings.GetSetting<std::string>(Path("Scan", "ScanMode"));
  m_sequenceInProgress = settings.GetSetting<bool>(Path("Scan/Status", "IsScanSequenceInProgress"));
  m_currentlyScanning = settings.GetSetting<bool>(Path("Scan/Status", "IsCurrentlyScanning"));
  m_autoNextScan = settings.GetSetting<bool>(Path("Scan", "AutoNextScan"));
  m_autoNextScanProgress = settings.GetSetting<double>(Path("Scan", "AutoNextScanProgress"));
  m_autoNextScanDelay =
      settings.GetSetting<double>(Path("StructuredLight/Acquisition/MovementDetection", "AutoNextScanDelay"));
  m_numberOfScans = settings.GetSetting<int>(Path("Turntable", "NumberOfScans"));
  m_totalScanAngle = settings.GetSetting<int>(Path("Turntable", "TotalScanAngle"));
  m_turntableConnected = settings.GetSetting<bool>(Path("SetupType", "TurntableConnected"));
  m_projectorRecalibration = settings.GetSetting<bool>(Path("Calibration", "ProjectorRecalibration"));
  m_updateSystemCalibration = settings.GetSetting<bool>(Path("Calibration", "UpdateSystemCalibration"));
  m_setupIsCalibrated = settings.GetSetting<bool>(Path("Calibration", "SetupIsCalibrated"));
  m_backgroundRemovalEnabled = settings.GetSetting<bool>(Path("BackgroundRemoval", "BackgroundRemovalEnabled"));
  m_structuredLightPage = settings.GetSetting<bool>(Path("ActiveUIPart", "StructuredLight"));
  m_statusPrefix = settings.GetSetting<std::string>(Path("MainWindow", "StatusPrefix"));
  m_alignmentScanA = settings.GetSetting<int>(Path("ShapeFusion", "AlignmentScanA"));
  m_alignmentScanB = settings.GetSetting<int>(Path("ShapeFusion", "AlignmentScanB"));
  m_workflow.SetScanDoneHandler([this] { m_scanDone = true; });
}

ScanSequenceController::~ScanSequenceController() {
  m_workflow.SetScanDoneHandler({});
  KeepSystemAwake(false);
}

void ScanSequenceController::SetTurntable(std::unique_ptr<plugin::IMotor> motor) {
  m_motor = std::move(motor);
  m_turntableConnected.SetValue(m_motor != nullptr);
}

void ScanSequenceController::ReleaseTurntable() {
  if (m_motor) m_motor->Disconnect();
  m_motor.reset();
  m_turntableConnected.SetValue(false);
}

bool ScanSequenceController::IsTurntableConnected() const { return m_motor && m_turntableConnected.Value(); }

double ScanSequenceController::GetStepAngle() const {
  return ComputeTurntableStepAngle(m_numberOfScans.Value(), m_totalScanAngle.Value());
}

bool ScanSequenceController::StartScan() {
  if (m_state.scan != ScanStatus::Idle) return false;
  m_autoNextScanAt.reset();
  m_state.NumTurnsToGo = Mode() == "turntable" ? std::max(m_numberOfScans.Value(), 1) : 1;
  m_state.scan = ScanStatus::Start;
  return true;
}

void ScanSequenceController::RequestCancel() {
  m_autoNextScanAt.reset();
  m_progress.RequestCancel();
}

void ScanSequenceController::Tick() {
  TickScan();
  TickCalibration();
  TickFlatPlateView();
}

void ScanSequenceController::TickScan() {
  if (m_projectorRecalibration.Value() && Mode() != "single") m_scanMode.SetValue("single");
  if (m_state.scan != ScanStatus::Idle && m_state.scan != ScanStatus::Start && m_progress.IsCancelPending()) {
    m_state.scan = ScanStatus::Cancel;
  }
  switch (m_state.scan) {
    case ScanStatus::Idle: OnIdle(); break;
    case ScanStatus::Start: OnStart(); break;
    case ScanStatus::StartScanning: OnStartScanning(); break;
    case ScanStatus::StartScanning2:
      if (m_state.Timer.ElapsedSeconds() * 1000.0 > m_state.WaitTime) m_state.scan = ScanStatus::StartScanning3;
      break;
    case ScanStatus::StartScanning3: OnStartScanning3(); break;
    case ScanStatus::Scanning:
      m_workflow.Pump();
      if (m_scanDone) m_state.scan = ScanStatus::ScanningDone;
      break;
    case ScanStatus::ScanningDone: OnScanningDone(); break;
    case ScanStatus::StartTurntable: OnStartTurntable(); break;
    case ScanStatus::AddToListAndAlignYAngle: OnAddToListAndAlignYAngle(); break;
    case ScanStatus::AddToList: OnAddToList(); break;
    case ScanStatus::Aligning: OnAligning(); break;
    case ScanStatus::RotatingTurntable: OnRotatingTurntable(); break;
    case ScanStatus::TurntableDone: OnTurntableDone(); break;
    case ScanStatus::AllDone: OnAllDone(); break;
    case ScanStatus::Cancel: OnCancel(); break;
  }
}

void ScanSequenceController::OnIdle() {
  if (!m_autoNextScanAt) return;
  const double delay = std::max(m_autoNextScanDelay.Value(), 0.0);
  const double left = std::chrono::duration<double, std::milli>(*m_autoNextScanAt - Clock::now()).count();
  m_autoNextScanProgress.SetValue(delay > 0.0 ? std::clamp(1.0 - left / delay, 0.0, 1.0) : 1.0);
  if (left > 0.0) return;
  m_autoNextScanProgress.SetValue(0.0);
  m_log("Scan sequence: automatic next scan.");
  StartScan();
}

void ScanSequenceController::OnStart() {
  // The scan list must not change while the worker aligns it.
  if (m_alignment.IsBusy()) return;
  KeepSystemAwake(true);
  const std::string mode = Mode();
  const bool sequenceInProgress = m_sequenceInProgress.Value();
  if (mode == "turntable" && m_state.NumTurnsToGo > 1) {
    if (!IsTurntableConnected()) {
      Notify("_l10n_Error_Turntable_LostConnection_n01l_", "_l10n_Title_Turntable_n01l_");
      m_state.scan = ScanStatus::Cancel;
      return;
    }
    m_progress.StartSession(m_state.NumTurnsToGo * 5 - 1);
  } else {
    m_progress.StartSession(mode == "sequence" && sequenceInProgress ? 3 : 2);
  }
  if (!sequenceInProgress) m_state.SequenceMeshIDs.clear();
  if (mode == "sequence") m_sequenceInProgress.SetValue(true);
  m_state.scan = ScanStatus::StartScanning;
}

void ScanSequenceController::OnStartScanning() {
  if (Mode() == "turntable") {
    const int total = m_numberOfScans.Value();
    const int number = total + 1 - m_state.NumTurnsToGo;
    SetStatusPrefix(m_language.Get("_l10n_Scanning_Scan_n01l_") + " " + std::to_string(number) + "/" +
                    std::to_string(total) + ": ");
  } else {
    SetStatusPrefix("");
  }
  if (!m_structuredLightPage.Value()) {
    ActivateStructuredLightPage();
    ShowStatus("_l10n_TT_Status_PreparingScan_n01l_");
    m_state.WaitTime = kPageWaitMs;
    m_state.Timer.Restart();
    m_state.scan = ScanStatus::StartScanning2;
  } else {
    m_state.scan = ScanStatus::StartScanning3;
  }
}

void ScanSequenceController::OnStartScanning3() {
  m_scanDone = false;
  const int result = m_workflow.ScanStart();
  if (result != 0) {
    m_log("Scan sequence: the scan could not be started (result " + std::to_string(result) + ").");
    m_state.scan = ScanStatus::Cancel;
    return;
  }
  ShowStatus("_l10n_TT_Status_Scanning_n01l_");
  m_state.scan = ScanStatus::Scanning;
}

void ScanSequenceController::OnScanningDone() {
  m_progress.NextBlock();
  const std::string mode = Mode();
  if (mode == "background") {
    m_backgroundRemovalEnabled.SetValue(true);
    m_state.scan = ScanStatus::AllDone;
  } else if (mode == "turntable" && m_totalScanAngle.Value() > 0) {
    ShowStatus("_l10n_TT_Status_RotatingTurntable_n01l_");
    m_state.scan = ScanStatus::StartTurntable;
  } else if (mode == "sequence") {
    ShowStatus("_l10n_TT_Status_AddingToList_n01l_");
    m_state.scan = ScanStatus::AddToList;
  } else {
    m_state.scan = ScanStatus::AllDone;
  }
}

int ScanSequenceController::RotateTurntable(double step) {
  if (!m_motor) {
    m_log("Turntable: none connected, the table is not turned.");
    return 0;
  }
  double position = 0.0;
  int result = m_motor->GetPosition(position);
  if (result == 0) result = m_motor->Move(position + step);
  if (result == 0) {
    m_log("Turntable: turning by " + FormatSettingText(step) + " degrees to " + FormatSettingText(position + step) +
          ".");
  }
  return result;
}

void ScanSequenceController::OnStartTurntable() {
  const double step = GetStepAngle();
  if ((m_state.NumTurnsToGo > 1 || m_totalScanAngle.Value() != 360) && step != 0.0) {
    const int result = RotateTurntable(step);
    if (result == MOTOR_ERROR_NOT_CONNECTED) {
      Notify("_l10n_Error_Turntable_LostConnection_n01l_", "_l10n_Title_Turntable_n01l_");
      ReleaseTurntable();
      m_state.scan = ScanStatus::Cancel;
      return;
    }
    if (result == MOTOR_ERROR_NO_POWER) {
      Notify("_l10n_Error_Turntable_NoPower_n01l_", "_l10n_Title_Turntable_n01l_");
      m_state.scan = ScanStatus::Cancel;
      return;
    }
    if (result != 0) m_log("Turntable: the rotation command answered " + std::to_string(result) + ".");
  }
  ShowStatus("_l10n_TT_Status_AddingToList_n01l_");
  m_state.scan = ScanStatus::AddToListAndAlignYAngle;
}

int ScanSequenceController::AddScanToList() {
  const int index = m_workflow.ScanAddToFusion();
  if (index < 0) {
    m_log("Could not add data to Shapefusion. Scan cancelled.");
    m_state.scan = ScanStatus::Cancel;
    return -1;
  }
  return index;
}

bool ScanSequenceController::StartPairAlignment(int newIndex) {
  const int previous = m_fusion.NodeID2GeoIndex(m_state.SequenceMeshIDs.back());
  AlignmentSettings settings = AlignmentSettings::FromSettings(m_settings);
  settings.angleKnown = true;
  settings.rotationAngle = GetStepAngle();
  settings.defineOnePointPair = false;
  m_alignmentScanA.SetValue(newIndex);
  m_alignmentScanB.SetValue(previous);
  if (!m_alignment.StartPairAlignment_Async(newIndex, previous, settings)) {
    m_log("Scan sequence: scan " + std::to_string(newIndex) + " stays unaligned.");
    return false;
  }
  ShowStatus("_l10n_TT_Status_Aligning_n01l_");
  m_state.scan = ScanStatus::Aligning;
  return true;
}

void ScanSequenceController::OnAddToListAndAlignYAngle() {
  const int index = AddScanToList();
  if (index < 0) return;
  m_progress.NextBlock();
  const std::int32_t nodeID = m_fusion.GeoIndex2NodeID(index);
  if (m_state.SequenceMeshIDs.empty() || Mode() == "single" || !StartPairAlignment(index)) {
    ShowStatus("_l10n_TT_Status_RotatingTurntable_n01l_");
    m_state.scan = ScanStatus::RotatingTurntable;
  }
  m_state.SequenceMeshIDs.push_back(nodeID);
}

void ScanSequenceController::OnAddToList() {
  const int index = AddScanToList();
  ActivateStructuredLightPage();
  if (index < 0) return;
  m_progress.NextBlock();
  const std::int32_t nodeID = m_fusion.GeoIndex2NodeID(index);
  if (m_sequenceInProgress.Value()) {
    m_state.scan = ScanStatus::AllDone;
  } else if (!m_state.SequenceMeshIDs.empty() && Mode() == "turntable" && StartPairAlignment(index)) {
    // Aligning.
  } else if (m_alignment.IsBusy()) {
    m_state.scan = ScanStatus::Aligning;
  } else {
    ActivateStructuredLightPage();
    m_state.scan = ScanStatus::AllDone;
  }
  m_state.SequenceMeshIDs.push_back(nodeID);
}

void ScanSequenceController::OnAligning() {
  if (m_progress.IsBusy() || m_alignment.IsBusy()) return;
  m_progress.NextBlock();
  if (Mode() == "turntable") {
    ShowStatus("_l10n_TT_Status_RotatingTurntable_n01l_");
    m_state.scan = ScanStatus::RotatingTurntable;
  } else {
    ActivateStructuredLightPage();
    m_state.scan = ScanStatus::AllDone;
  }
}

void ScanSequenceController::OnRotatingTurntable() {
  if (m_motor && m_motor->GetStatus() == MOTOR_STATUS_MOVING) return;
  m_state.scan = ScanStatus::TurntableDone;
}

void ScanSequenceController::OnTurntableDone() {
  m_progress.NextBlock();
  --m_state.NumTurnsToGo;
  m_state.scan = m_state.NumTurnsToGo <= 0 ? ScanStatus::AllDone : ScanStatus::StartScanning;
}

void ScanSequenceController::OnAllDone() {
  SetStatusPrefix("");
  m_progress.SetStatusText("");
  m_progress.StopSession();
  const std::string mode = Mode();
  if (mode == "sequence" && m_autoNextScan.Value()) {
    const double delay = std::max(m_autoNextScanDelay.Value(), 0.0);
    m_autoNextScanAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double, std::milli>(delay));
  }
  if (mode == "turntable" && m_state.SequenceMeshIDs.size() >= 2) {
    std::vector<int> indices;
    for (const std::int32_t id : m_state.SequenceMeshIDs) indices.push_back(m_fusion.NodeID2GeoIndex(id));
    m_alignment.StartAlignSequence_Async(indices, "turntable_const_angle");
  }
  const bool recalibrationNeeded = m_workflow.IsRecalibrationNeeded();
  if (m_updateSystemCalibration.Value() && m_setupIsCalibrated.Value()) m_workflow.ResetPendingCalibrationUpdate();
  if ((mode == "single" || mode == "turntable") && recalibrationNeeded) {
    Notify("_l10n_Setting_Calibration_VerificationDuringScan_Info_n01l_", "_l10n_Title_Calibration_n01l_");
  }
  m_state.scan = ScanStatus::Idle;
  KeepSystemAwake(false);
}

void ScanSequenceController::OnCancel() {
  SetStatusPrefix("");
  m_progress.SetStatusText("");
  m_workflow.Cancel();
  m_progress.StopSession();
  m_state.scan = ScanStatus::Idle;
  m_autoNextScanAt.reset();
  KeepSystemAwake(false);
  m_currentlyScanning.SetValue(false);
  if (m_motor) m_motor->Stop();
  m_log("Scan sequence cancelled.");
}

void ScanSequenceController::TickCalibration() {
  if (m_calibrationMachines) {
    m_calibrationMachines->Tick();
    m_state.calib = m_calibrationMachines->GetCalibStatus();
    m_state.flatPlateView = m_calibrationMachines->GetFlatPlateViewStatus();
    return;
  }
  if (m_state.calib == CalibStatus::Idle) return;
  if (m_state.calib != CalibStatus::AllDone && m_state.calib != CalibStatus::Cancel) {
    m_log("Calibration sequence: not available in this build; back to idle.");
  }
  m_state.calib = CalibStatus::Idle;
}

void ScanSequenceController::TickFlatPlateView() {
  if (m_calibrationMachines || m_state.flatPlateView == AddFlatPlateViewStatus::Idle) return;
  if (m_state.flatPlateView != AddFlatPlateViewStatus::AllDone &&
      m_state.flatPlateView != AddFlatPlateViewStatus::Cancel) {
    m_log("Flat-plate view capture: not available in this build; back to idle.");
  }
  m_state.flatPlateView = AddFlatPlateViewStatus::Idle;
}

void ScanSequenceController::ShowStatus(const std::string& key) { m_progress.SetStatusText(m_language.Get(key)); }

void ScanSequenceController::SetStatusPrefix(const std::string& prefix) {
  m_progress.SetStatusPrefix(prefix);
  m_statusPrefix.SetValue(prefix);
}

void ScanSequenceController::Notify(const std::string& key, const std::string& titleKey) {
  const std::string text = m_language.Get(key);
  const std::string title = m_language.Get(titleKey);
  m_log(title + ": " + text);
  if (m_notify) m_notify(text, title);
}

void ScanSequenceController::KeepSystemAwake(bool awake) {
  if (awake == m_keptAwake) return;
  m_keptAwake = awake;
  m_log(awake ? "Keeping the system awake during the scan (no-op on this platform)."
              : "The system may sleep again (no-op on this platform).");
}

}  // namespace shell
