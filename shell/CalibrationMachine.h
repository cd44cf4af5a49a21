#pragma once

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/utils/Timer.h"
#include "scan/FlatPlateCalibration.h"
#include "scan/HardwareSetup.h"
#include "scan/HardwareSetupIO.h"
#include "scan/SLScan.h"
#include "shell/Log.h"
#include "shell/ScanSequenceController.h"
#include "shell/Settings.h"

namespace shell {

// What the calibration needs of the station: the cameras' pictures of the
// targets under the projector's full white, and a coded-light scan of the
// panels. Called from the calibration's worker thread, one call at a time;
// `cancelled` turns true when the user cancels.
class ICalibrationStation {
 public:
  virtual ~ICalibrationStation() = default;
  virtual std::size_t GetCameraCount() const = 0;
  // False with the reason when no image could be taken.
  virtual bool GrabCameraImage(std::size_t camera, img::GreyImage& image, std::string& error) = 0;
  // The decoded scan of the panels per camera; empty (with the reason, or
  // none when cancelled) on failure.
  virtual std::vector<scan::SLScanEvaluationResultPtr> ScanPanels(
      const std::atomic<bool>& cancelled, std::string& error) = 0;
};

// The shell's calibration machine (CalibStatus) and flat-plate-view
// machine (AddFlatPlateViewStatus), one step per Tick on the user-interface
// thread; the long steps (camera calibration, the panel scan and the
// projector calibration, a view's capture) run on a worker whose end the
// ticks poll.
//
// Calibration: StartCalib keeps "HardwareSetupBeforeCalibration.
// tarvelinsetup" in the calibration folder → WaitBeforeCamCalib (the wait
// time) → CamCalib (every camera from its image of the corner, with the
// Calibration/ settings; then, with OptimizeMultiCameraCalibration and
// several cameras, the joint optimisation) → CamCalibDone →
// WaitBeforeProjCalib → ProjCalib (panel scan, projector calibration, the
// stereo recalibration with two cameras) → ProjCalibDone (the setup file
// written, "HardwareSetupAfterCalibration.tarvelinsetup" kept,
// Calibration/SetupIsCalibrated on) → AllDone → Idle. A failure or a
// cancel (in any state) goes to Cancel, which waits for the worker and
// returns to Idle; the setup in memory and on disk are then unchanged.
//
// Flat-plate view: Start → WaitBeforeCapture → Capture (every camera's
// image added as one multi-view of the plate calibration) → AllDone → Idle.
class CalibrationMachine : public ICalibrationMachines {
 public:
  struct Options {
    std::filesystem::path setupFile;          // written after an accepted calibration
    std::filesystem::path calibrationFolder;  // the project's "calibration" folder
    double waitTimeMs = 500.0;                // before the camera and the projector steps
    double maxRMS = 0.5;                      // pixels
  };

  CalibrationMachine(Settings& settings, ICalibrationStation& station, Options options,
                     LogSink log);
  ~CalibrationMachine() override;
  CalibrationMachine(const CalibrationMachine&) = delete;
  CalibrationMachine& operator=(const CalibrationMachine&) = delete;

  // Idle → StartCalib from the station's current setup; false when busy.
  bool StartCalibration(const scan::HardwareSetupIO& setup);
  // Idle → Start for one more view of the plate; false when busy or
  // without a plate calibration.
  bool StartFlatPlateView();
  void SetFlatPlateCalibration(std::shared_ptr<scan::FlatPlateCalibration> calibration) {
    m_flatPlate = std::move(calibration);
  }
  void RequestCancel() { m_cancelRequested = true; }
  void Tick() override;

  CalibStatus GetCalibStatus() const override { return m_calib; }
  AddFlatPlateViewStatus GetFlatPlateViewStatus() const override { return m_view; }
  // The setup of the last accepted calibration (else the one started from).
  const scan::HardwareSetupIO& GetSetup() const { return m_setup; }
  // Why the last run ended in Cancel ("cancelled" when the user did).
  const std::string& GetLastError() const { return m_lastError; }

 private:
  void TickCalibration();
  void TickFlatPlateView();
  bool WaitOver() const { return m_timer.ElapsedSeconds() * 1000.0 >= m_options.waitTimeMs; }
  // True when the worker has ended; its result in `ok`.
  bool WorkerDone(bool& ok);
  void Fail(const std::string& reason);
  scan::CameraCalibrationOptions ReadOptions();
  bool CalibrateCameras();
  bool CalibrateProjector();
  bool CaptureView();

  Settings& m_settings;
  ICalibrationStation& m_station;
  const Options m_options;
  LogSink m_log;
  CalibStatus m_calib = CalibStatus::Idle;
  AddFlatPlateViewStatus m_view = AddFlatPlateViewStatus::Idle;
  utils::Timer m_timer;
  std::atomic<bool> m_cancelled{false};
  bool m_cancelRequested = false;
  std::future<bool> m_worker;
  std::string m_workerError;  // written by the worker, read after it ended

  scan::HardwareSetupIO m_setup, m_working;
  scan::HardwareSetup m_panels;
  std::vector<std::shared_ptr<cam::CameraModelTsai>> m_models;
  scan::CameraCalibrationOptions m_calibOptions;
  bool m_optimizeJointly = true;
  std::shared_ptr<scan::FlatPlateCalibration> m_flatPlate;
  std::string m_lastError;
};

}  // namespace shell
