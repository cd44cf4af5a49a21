#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/utils/Timer.h"
#include "shell/Log.h"
#include "shell/ScanWorkflowInterface.h"
#include "shell/Settings.h"

namespace plugin {
class IMotor;
}
namespace surf {
class ShapeFusion;
}

namespace shell {

class IAlignmentJobs;
class Language;
class ProgressReporter;

enum class ScanStatus {
  Idle = 0,
  Start = 1,
  StartScanning = 2,
  StartScanning2 = 3,
  StartScanning3 = 4,
  Scanning = 5,
  ScanningDone = 6,
  StartTurntable = 7,
  AddToListAndAlignYAngle = 8,
  AddToList = 9,
  Aligning = 10,
  RotatingTurntable = 11,
  TurntableDone = 12,
  AllDone = 13,
  Cancel = 14
};

enum class CalibStatus {
  Idle = 0,
  StartCalib = 1,
  WaitBeforeCamCalib = 2,
  CamCalib = 3,
  CamCalibDone = 4,
  WaitBeforeProjCalib = 5,
  ProjCalib = 6,
  ProjCalibDone = 7,
  Cancel = 8,
  AllDone = 9
};

enum class AddFlatPlateViewStatus { Idle = 0, Start = 1, WaitBeforeCapture = 2, Capture = 3, Cancel = 4, AllDone = 5 };

const char* ToString(ScanStatus status);

// The three machines' state.
struct StateMachine {
  ScanStatus scan = ScanStatus::Idle;
  CalibStatus calib = CalibStatus::Idle;
  AddFlatPlateViewStatus flatPlateView = AddFlatPlateViewStatus::Idle;
  // Scans left in this run (turntable mode: Turntable/NumberOfScans at the start).
  int NumTurnsToGo = 0;
  double WaitTime = 0.0;  // ms, measured by Timer
  utils::Timer Timer;
  // Scene-node identifiers of the scans added in the current turntable run
  // or sequence, in scan order.
  std::vector<std::int32_t> SequenceMeshIDs;
};

// The turntable's step between scans (degrees): with n scans over total
// degrees, total / n when total is 360, else total / (n − 1); 0 when n < 2
// or the divisor is 0.
double ComputeTurntableStepAngle(int numberOfScans, double totalScanAngle);

// The calibration and flat-plate-view machines as the main loop advances
// them after the scan machine (the session attaches the shell's own).
class ICalibrationMachines {
 public:
  virtual ~ICalibrationMachines() = default;
  virtual void Tick() = 0;
  virtual CalibStatus GetCalibStatus() const = 0;
  virtual AddFlatPlateViewStatus GetFlatPlateViewStatus() const = 0;
};

// The scan machine of the main loop: single scans, turntable runs and
// free-hand sequences, one step per Tick (the main loop's 5 ms timer). It
// drives the scan workflow (IScanWorkflow), the turntable (plugin::IMotor,
// degrees, absolute targets: a step reads the position and moves to
// position + step) and the alignment of each new scan to the previous one
// (IAlignmentJobs, with the step angle as known rotation), and reports
// through the progress reporter (sessions, status prefix and text) and
// localised notifications.
//
// Scan modes (Scan/ScanMode): "single", "turntable", "sequence",
// "background". The structured-light page is the setting
// ActiveUIPart/StructuredLight. Keeping the system awake during a run is a
// logged no-op on this platform.
//
// Decisions of this implementation: the alignment of each new scan keeps
// the alignment page's axis (ShapeFusion/Registration/AxisKnown and
// RotationAxisX/Y/Z, the table's axis in scanner coordinates, pointing so
// that the table's positive steps turn right-handed about it): the step
// angle alone leaves the direction of the turn open, and a symmetric object
// then fits a step taken the wrong way round as well; a run does not leave
// Start while an alignment job still runs (the scan list must not change under it); a
// turntable command answering a code other than 0, −10 and −14 is logged
// and the run goes on; in AllDone the workflow is asked whether
// recalibration is needed before its pending-update flag is reset. The
// calibration and flat-plate-view machines are attached ones
// (SetCalibrationMachines) whose states the controller mirrors; without
// them a status other than Idle is logged and returns to Idle on the next
// tick.
//
// Thread rules: user-interface thread only.
class ScanSequenceController {
 public:
  using Clock = std::chrono::steady_clock;

  // Every reference must outlive the controller.
  ScanSequenceController(Settings& settings, const Language& language, ProgressReporter& progress,
                         IScanWorkflow& workflow, surf::ShapeFusion& fusion, IAlignmentJobs& alignment,
                         NotifyFunction notify, LogSink log);
  ~ScanSequenceController();
  ScanSequenceController(const ScanSequenceController&) = delete;
  ScanSequenceController& operator=(const ScanSequenceController&) = delete;

  // Hands over the connected turntable (null: none) and sets
  // SetupType/TurntableConnected accordingly.
  void SetTurntable(std::unique_ptr<plugin::IMotor> motor);
  // Disconnects and drops the turntable; SetupType/TurntableConnected false.
  void ReleaseTurntable();
  plugin::IMotor* GetTurntable() const { return m_motor.get(); }

  // The user's "scan": Idle → Start with NumTurnsToGo = Turntable/
  // NumberOfScans in turntable mode (1 otherwise). False when not idle.
  bool StartScan();
  // The user's "cancel": a pending cancel on the progress reporter.
  void RequestCancel();

  // One timer tick: the scan machine, then the calibration machine, then
  // the flat-plate-view machine.
  void Tick();
  // The machines ticked after the scan machine (null: none); they must
  // outlive the controller or be detached first.
  void SetCalibrationMachines(ICalibrationMachines* machines) { m_calibrationMachines = machines; }

  const StateMachine& GetStateMachine() const { return m_state; }
  ScanStatus GetScanStatus() const { return m_state.scan; }
  // ComputeTurntableStepAngle of the current settings.
  double GetStepAngle() const;
  // Whether the automatic next scan of a sequence is pending.
  bool IsAutoNextScanPending() const { return m_autoNextScanAt.has_value(); }

 private:
  void TickScan();
  void TickCalibration();
  void TickFlatPlateView();

  void OnStart();
  void OnStartScanning();
  void OnStartScanning3();
  void OnScanningDone();
  void OnStartTurntable();
  void OnAddToListAndAlignYAngle();
  void OnAddToList();
  void OnAligning();
  void OnRotatingTurntable();
  void OnTurntableDone();
  void OnAllDone();
  void OnCancel();
  void OnIdle();

  // Adds the scan; its index, or −1 after logging and going to Cancel.
  int AddScanToList();
  bool StartPairAlignment(int newIndex);
  int RotateTurntable(double step);
  bool IsTurntableConnected() const;
  std::string Mode() const { return m_scanMode.Value(); }
  void ShowStatus(const std::string& key);
  void SetStatusPrefix(const std::string& prefix);
  void Notify(const std::string& key, const std::string& titleKey);
  void KeepSystemAwake(bool awake);
  void ActivateStructuredLightPage() { m_structuredLightPage.SetValue(true); }

  Settings& m_settings;
  const Language& m_language;
  ProgressReporter& m_progress;
  IScanWorkflow& m_workflow;
  surf::ShapeFusion& m_fusion;
  IAlignmentJobs& m_alignment;
  NotifyFunction m_notify;
  LogSink m_log;
  std::unique_ptr<plugin::IMotor> m_motor;
  ICalibrationMachines* m_calibrationMachines = nullptr;

  StateMachine m_state;
  bool m_scanDone = false;
  bool m_keptAwake = false;
  std::optional<Clock::time_point> m_autoNextScanAt;

  Setting<std::string> m_scanMode;
  Setting<bool> m_sequenceInProgress;
  Setting<bool> m_currentlyScanning;
  Setting<bool> m_autoNextScan;
  Setting<double> m_autoNextScanProgress;
  Setting<double> m_autoNextScanDelay;
  Setting<int> m_numberOfScans;
  Setting<int> m_totalScanAngle;
  Setting<bool> m_turntableConnected;
  Setting<bool> m_projectorRecalibration;
  Setting<bool> m_updateSystemCalibration;
  Setting<bool> m_setupIsCalibrated;
  Setting<bool> m_backgroundRemovalEnabled;
  Setting<bool> m_structuredLightPage;
  Setting<std::string> m_statusPrefix;
  Setting<int> m_alignmentScanA;
  Setting<int> m_alignmentScanB;
};

}  // namespace shell
