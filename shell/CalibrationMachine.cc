#include "shell/CalibrationMachine.h"

#include <chrono>

#include "scan/ProjectorCalibrator.h"
#include "shell/SettingPath.h"

namespace shell {
namespace {

bool Flag(Settings& settings, const char* key) {
  return settings.GetSetting<bool>(SettingPath(std::string("Calibration/") + key)).Value();
}

}  // namespace

CalibrationMachine::CalibrationMachine(Settings& settings, ICalibrationStation& station,
                                       Options options, LogSink log)
    : m_settings(settings),
      m_station(station),
      m_options(std::move(options)),
      m_log(std::move(log)) {}

CalibrationMachine::~CalibrationMachine() {
  m_cancelled = true;
  if (m_worker.valid()) m_worker.wait();
}

bool CalibrationMachine::StartCalibration(const scan::HardwareSetupIO& setup) {
  if (m_calib != CalibStatus::Idle || m_view != AddFlatPlateViewStatus::Idle) return false;
  m_setup = setup;
  m_cancelRequested = false;
  m_cancelled = false;
  m_lastError.clear();
  m_calib = CalibStatus::StartCalib;
  return true;
}

bool CalibrationMachine::StartFlatPlateView() {
  if (m_calib != CalibStatus::Idle || m_view != AddFlatPlateViewStatus::Idle || !m_flatPlate)
    return false;
  m_cancelRequested = false;
  m_cancelled = false;
  m_lastError.clear();
  m_view = AddFlatPlateViewStatus::Start;
  return true;
}

void CalibrationMachine::Tick() {
  TickCalibration();
  TickFlatPlateView();
}

bool CalibrationMachine::WorkerDone(bool& ok) {
  if (!m_worker.valid()) return false;
  if (m_worker.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
  ok = m_worker.get();
  return true;
}

void CalibrationMachine::Fail(const std::string& reason) {
  m_lastError = reason;
  if (m_log) m_log("Calibration: " + reason);
}

scan::CameraCalibrationOptions CalibrationMachine::ReadOptions() {
  scan::CameraCalibrationOptions o;
  o.calibrateExtrinsicsOnly = Flag(m_settings, "CalibrateExtrinsicsOnly");
  o.autoDetectCalibCornerSetup = Flag(m_settings, "AutoDetectCalibCornerSetup");
  o.compensatePatternOffsets = Flag(m_settings, "CompensatePatternOffsets");
  o.compensatePatternRotInPlane = Flag(m_settings, "CompensatePatternRotInPlane");
  o.compensateAngleBetweenPatterns = Flag(m_settings, "CompensateAngleBetweenPatterns");
  o.compensateNonSquarePixels = Flag(m_settings, "CompensateNonSquarePixels");
  o.maxRMS = m_options.maxRMS;
  return o;
}

void CalibrationMachine::TickCalibration() {
  if (m_calib == CalibStatus::Idle) return;
  if (m_cancelRequested && m_calib != CalibStatus::Cancel && m_calib != CalibStatus::AllDone) {
    m_cancelRequested = false;
    m_cancelled = true;
    Fail("cancelled");
    m_calib = CalibStatus::Cancel;
  }
  bool ok = false;
  switch (m_calib) {
    case CalibStatus::StartCalib: {
      const double scale =
          m_setup.calibration.scale > 0.0
              ? m_setup.calibration.scale
              : m_settings.GetSetting<double>(SettingPath("Calibration/CalibScale")).Value();
      m_panels = scan::HardwareSetup();
      m_panels.SetDefaultZentoCalibGrids(scale);
      m_working = m_setup;
      m_working.calibration.scale = scale;
      m_calibOptions = ReadOptions();  // settings are read here, on the user-interface thread
      m_optimizeJointly = Flag(m_settings, "OptimizeMultiCameraCalibration");
      if (m_setup.cameras.size() != m_station.GetCameraCount()) {
        Fail("the setup's cameras are not the station's");
        m_calib = CalibStatus::Cancel;
        break;
      }
      if (!scan::SaveCalibrationCopy(m_setup, m_options.calibrationFolder, false)) {
        Fail("cannot write the copy of the setup before calibration");
        m_calib = CalibStatus::Cancel;
        break;
      }
      m_timer.Restart();
      m_calib = CalibStatus::WaitBeforeCamCalib;
      break;
    }
    case CalibStatus::WaitBeforeCamCalib:
      if (WaitOver()) {
        m_worker = std::async(std::launch::async, [this] { return CalibrateCameras(); });
        m_calib = CalibStatus::CamCalib;
      }
      break;
    case CalibStatus::CamCalib:
      if (WorkerDone(ok)) {
        if (ok) {
          m_calib = CalibStatus::CamCalibDone;
        } else {
          Fail(m_workerError);
          m_calib = CalibStatus::Cancel;
        }
      }
      break;
    case CalibStatus::CamCalibDone:
      m_timer.Restart();
      m_calib = CalibStatus::WaitBeforeProjCalib;
      break;
    case CalibStatus::WaitBeforeProjCalib:
      if (WaitOver()) {
        m_worker = std::async(std::launch::async, [this] { return CalibrateProjector(); });
        m_calib = CalibStatus::ProjCalib;
      }
      break;
    case CalibStatus::ProjCalib:
      if (WorkerDone(ok)) {
        if (ok) {
          m_calib = CalibStatus::ProjCalibDone;
        } else {
          Fail(m_workerError);
          m_calib = CalibStatus::Cancel;
        }
      }
      break;
    case CalibStatus::ProjCalibDone:
      if (!scan::SaveHardwareSetup(m_working, m_options.setupFile.string()) ||
          !scan::SaveCalibrationCopy(m_working, m_options.calibrationFolder, true)) {
        Fail("cannot write the calibrated setup " + m_options.setupFile.string());
        m_calib = CalibStatus::Cancel;
        break;
      }
      m_setup = m_working;
      m_settings.GetSetting<bool>(SettingPath("Calibration/SetupIsCalibrated")).SetValue(true);
      if (m_log)
        m_log("Calibration: the setup is calibrated and stored in " + m_options.setupFile.string());
      m_calib = CalibStatus::AllDone;
      break;
    case CalibStatus::Cancel:
      if (m_worker.valid() && !WorkerDone(ok)) break;  // the worker ends at its next check
      m_calib = CalibStatus::Idle;
      break;
    case CalibStatus::AllDone:
      m_calib = CalibStatus::Idle;
      break;
    case CalibStatus::Idle:
      break;
  }
}

bool CalibrationMachine::CalibrateCameras() {
  m_models.clear();
  for (std::size_t c = 0; c < m_working.cameras.size(); ++c) {
    if (m_cancelled) return m_workerError = "cancelled", false;
    img::GreyImage image;
    if (!m_station.GrabCameraImage(c, image, m_workerError)) return false;
    auto tsai = std::dynamic_pointer_cast<cam::CameraModelTsai>(m_working.cameras[c].cameraModel);
    auto model = tsai ? std::make_shared<cam::CameraModelTsai>(*tsai)
                      : std::make_shared<cam::CameraModelTsai>();
    if (!m_panels.CalibrateCamera(*model, image, m_calibOptions)) {
      m_workerError = "the calibration of camera " + std::to_string(c) + " failed";
      return false;
    }
    m_models.push_back(model);
  }
  if (m_models.size() > 1 && m_optimizeJointly &&
      !m_panels.OptimizeCameras(m_models, m_calibOptions)) {
    m_workerError = "the joint optimisation of the cameras failed";
    return false;
  }
  for (std::size_t c = 0; c < m_models.size(); ++c) m_working.cameras[c].cameraModel = m_models[c];
  return true;
}

bool CalibrationMachine::CalibrateProjector() {
  const auto results = m_station.ScanPanels(m_cancelled, m_workerError);
  if (m_cancelled) return m_workerError = "cancelled", false;
  if (results.size() != m_models.size()) {
    if (m_workerError.empty()) m_workerError = "the scan of the panels failed";
    return false;
  }
  std::vector<scan::ProjectorView> views;
  for (std::size_t c = 0; c < results.size(); ++c)
    views.push_back({m_models[c], results[c]->CorrespondencesX(), results[c]->CorrespondencesY(),
                     results[c]->Quality()});
  scan::ProjectorCalibrationOptions options;
  options.projectorWidth = std::uint32_t(std::max(1, m_working.projector.extendedDisplay.resX));
  options.projectorHeight = std::uint32_t(std::max(1, m_working.projector.extendedDisplay.resY));
  auto start = std::dynamic_pointer_cast<cam::CameraModelTsai>(m_working.projector.projectorModel);
  auto model = start ? std::make_shared<cam::CameraModelTsai>(*start)
                     : std::make_shared<cam::CameraModelTsai>();
  scan::ProjectorCalibrator calibrator;
  if (!calibrator.CalibProjector(*model, m_panels, views, options)) {
    m_workerError = "the projector calibration failed";
    return false;
  }
  if (views.size() > 1) calibrator.StereoRecalibration(*model, views[0], views[1], options);
  m_working.projector.projectorModel = model;
  m_working.projector.modelType = "CameraModelTsai";
  return true;
}

void CalibrationMachine::TickFlatPlateView() {
  if (m_view == AddFlatPlateViewStatus::Idle) return;
  if (m_cancelRequested && m_view != AddFlatPlateViewStatus::Cancel &&
      m_view != AddFlatPlateViewStatus::AllDone) {
    m_cancelRequested = false;
    m_cancelled = true;
    Fail("cancelled");
    m_view = AddFlatPlateViewStatus::Cancel;
  }
  bool ok = false;
  switch (m_view) {
    case AddFlatPlateViewStatus::Start:
      m_timer.Restart();
      m_view = AddFlatPlateViewStatus::WaitBeforeCapture;
      break;
    case AddFlatPlateViewStatus::WaitBeforeCapture:
      if (WaitOver()) {
        m_worker = std::async(std::launch::async, [this] { return CaptureView(); });
        m_view = AddFlatPlateViewStatus::Capture;
      }
      break;
    case AddFlatPlateViewStatus::Capture:
      if (WorkerDone(ok)) {
        if (!ok) Fail(m_workerError);
        m_view = ok ? AddFlatPlateViewStatus::AllDone : AddFlatPlateViewStatus::Cancel;
      }
      break;
    case AddFlatPlateViewStatus::Cancel:
      if (m_worker.valid() && !WorkerDone(ok)) break;
      m_view = AddFlatPlateViewStatus::Idle;
      break;
    case AddFlatPlateViewStatus::AllDone:
      m_view = AddFlatPlateViewStatus::Idle;
      break;
    case AddFlatPlateViewStatus::Idle:
      break;
  }
}

bool CalibrationMachine::CaptureView() {
  std::vector<img::GreyImage> images(m_station.GetCameraCount());
  for (std::size_t c = 0; c < images.size(); ++c) {
    if (m_cancelled) return m_workerError = "cancelled", false;
    if (!m_station.GrabCameraImage(c, images[c], m_workerError)) return false;
  }
  if (m_cancelled) return m_workerError = "cancelled", false;
  if (!m_flatPlate->AddMultiView(images)) {
    m_workerError = "the plate was not found in the first camera's image";
    return false;
  }
  return true;
}

}  // namespace shell
