#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/AlignmentJobs.h"
#include "shell/Application.h"
#include "shell/CalibrationMachine.h"
#include "shell/ScannerCalibrationStation.h"
#include "shell/CaptureWatchdog.h"
#include "shell/FusionCommands.h"
#include "shell/MeasureCommands.h"
#include "shell/ProjectCommands.h"
#include "shell/ScanSequenceController.h"

namespace sim {
class TurntableFollower;
class VirtualRig;
}  // namespace sim

namespace shell {

// The shell of a user's turntable run without windows: the application
// (with every product registered, see ProductScanners.h), the alignment jobs, the fusion
// and measurement commands, the project commands and the scan machine on
// the main loop's timer, a watchdog on the scans' captures, and the first
// turntable plug-in of the data root's Plugins folder handed to the
// machine. The desktop application puts its windows around the same
// session (Application::Options carries its window parts) and runs the
// main loop one Application::Step at a time. When the scanner is the
// virtual rig, the plug-in is given the channel "turntable.state" in the
// data root and the rig follows that channel on every tick, before the
// machine's step; its cameras are unplugged while the data root holds a
// file "camera.unplugged" (looked at four times a second), as a pulled
// cable would. The calibration machines run on the same tick through a
// calibration station: the virtual rig is one (its cameras photograph and
// scan the printed corner through the rig's true models); a calibration it
// accepts is written to "calibration/CalibratedSetup.tarvelinsetup" in the
// data root (the rig folder's setup stays the rig's truth) and given to the
// running scanner. Any other product calibrates through its own scanner
// before the user's target (ScannerCalibrationStation) and keeps the result
// as its hardware-setup file.
//
// Each timer tick: the rig follows the table, the watchdog looks at the
// capture, the machine steps, finished fusion and measurement jobs are
// polled, then the tick observers run (in the order added).
//
// Single-threaded like the application: use from one thread.
class HeadlessSession {
 public:
  struct Options {
    std::vector<std::string> arguments;  // the application's command line
    Application::Options application;   // the log and notify sinks are shared with the parts
    AlignmentJobs::Options alignment;
    // Appended to the turntable plug-in's parameters (e.g. "speed=720").
    std::string turntableParameters;
  };

  explicit HeadlessSession(Options options);
  ~HeadlessSession();
  HeadlessSession(const HeadlessSession&) = delete;
  HeadlessSession& operator=(const HeadlessSession&) = delete;

  // False with a reason when the command line or the application's start-up
  // fails. A turntable plug-in that cannot be loaded is logged (see
  // GetTurntableResult) and the session runs without one.
  bool Start(std::string& error);

  Application& GetApplication() { return *m_app; }
  Settings& GetSettings() { return m_app->GetSettings(); }
  AlignmentJobs& GetAlignmentJobs() { return *m_jobs; }
  FusionCommands& GetFusionCommands() { return *m_fusion; }
  MeasureCommands& GetMeasureCommands() { return *m_measure; }
  ProjectCommands& GetProjectCommands() { return *m_project; }
  const CaptureWatchdog& GetCaptureWatchdog() const { return *m_watchdog; }
  ScanSequenceController& GetController() { return *m_controller; }
  // Null when the scanner is not the virtual rig.
  sim::VirtualRig* GetVirtualRig() const { return m_rig; }
  const sim::TurntableFollower* GetFollower() const { return m_follower.get(); }
  // LoadTurntablePlugin's code (0: a turntable is connected).
  int GetTurntableResult() const { return m_turntableResult; }
  // Fusion jobs that have ended (polled on the timer) since the start.
  int GetFinishedFusions() const { return m_finishedFusions; }
  // Comparisons that have ended (polled on the timer) since the start.
  int GetFinishedMeasures() const { return m_finishedMeasures; }
  // The calibration machines; null when the rig folder cannot be read.
  CalibrationMachine* GetCalibration() const { return m_calibration.get(); }
  ICalibrationStation* GetCalibrationStation() const { return m_station.get(); }
  // The station with the session's current scanner and pattern settings,
  // ready for a picture of the target; null without one. Call while no
  // calibration runs.
  ICalibrationStation* PrepareCalibrationStation();
  // Starts the corner calibration from the scanner's current setup; false
  // with the reason when there is no station or the session is busy.
  bool StartCalibration(std::string& error);
  // Calibrations accepted and given to the scanner since the start.
  int GetAcceptedCalibrations() const { return m_acceptedCalibrations; }

  void AddTickObserver(std::function<void()> observer) { m_observers.push_back(std::move(observer)); }
  // No scan step, alignment, fusion, comparison or calibration is running.
  bool IsIdle() const;

 private:
  void Tick();
  void CreateCalibration();
  void UseAcceptedCalibration();
  void FollowCameraCable();

  Options m_options;
  std::unique_ptr<Application> m_app;
  std::unique_ptr<AlignmentJobs> m_jobs;
  std::unique_ptr<FusionCommands> m_fusion;
  std::unique_ptr<MeasureCommands> m_measure;
  std::unique_ptr<ProjectCommands> m_project;
  std::unique_ptr<CaptureWatchdog> m_watchdog;
  std::unique_ptr<ScanSequenceController> m_controller;
  std::unique_ptr<sim::TurntableFollower> m_follower;
  std::unique_ptr<ICalibrationStation> m_station;
  ScannerCalibrationStation* m_scannerStation = nullptr;  // m_station when it is a scanner's
  std::unique_ptr<CalibrationMachine> m_calibration;
  CalibStatus m_lastCalibStatus = CalibStatus::Idle;
  int m_acceptedCalibrations = 0;
  std::chrono::steady_clock::time_point m_nextCableCheck{};
  sim::VirtualRig* m_rig = nullptr;
  int m_turntableResult = -1;
  int m_finishedFusions = 0;
  int m_finishedMeasures = 0;
  std::vector<std::function<void()>> m_observers;
};

}  // namespace shell
