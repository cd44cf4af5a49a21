#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/felvar/CameraModelFelvar.h"
#include "devices/felvar/GrabberFelvar.h"
#include "devices/sls/GenericStructuredLightScanner.h"

namespace felvar {

// The projector–camera unit as a scanner product ("Felvar"): its camera
// bridge ("USB Camera-OV580") opened as a GrabberFelvar in a structured-light
// sensor mode, its projector ("Orla Horizontal", 1920 × 1080 at 60 Hz, gamma
// 2.2) prepared by a ProjectorFelvar around each capture, its factory
// calibration read from the unit (else from the files of the SDK folder),
// and a colour texture taken in the camera's texture mode once the patterns
// are captured.
//
// Threads: as the base scanner; the capture hooks run on its worker thread.
class FelvarStructuredLightScanner : public sls::GenericStructuredLightScanner {
 public:
  static constexpr const char* kProductName = "Felvar";
  static constexpr const char* kCameraName = "USB Camera-OV580";
  static constexpr const char* kProjectorName = "Orla Horizontal";

  struct Options {
    // The camera bridge's video devices (null: the machine's).
    std::shared_ptr<vid::V4l2Calls> v4l2;
    // The program-data location; the factory calibration files are in
    // "<programData>/Orla/Felvar/SDK/".
    std::string programData = "/var/lib/tarvelin";
    std::uint32_t slsWidth = CameraModelFelvar::kHalfWidth;  // 2208, 1104 or 4416
    std::uint16_t exposure = GrabberFelvar::kDefaultExposure;
    std::uint32_t textureThreshold = 40;  // mean brightness a texture frame must exceed
    double textureTimeoutSeconds = 5.0;
  };

  // Prints "Load Felvar factory calibration....", loads the unit's models,
  // and "Error - Could not connect to Felvar camera." on standard error
  // when they cannot be read.
  FelvarStructuredLightScanner(const InitParams& params, Options options);
  ~FelvarStructuredLightScanner() override;

  std::vector<vid::CameraInfo> GetSupportedCameras() const override;
  std::vector<vid::ProjectorInfo> GetSupportedProjectors() const override;
  // Throws std::invalid_argument
  // "FelvarStructuredLightScanner::CreateImageCapture - Invalid camera index.".
  // The camera gets the factory model scaled to its sensor mode.
  bool CreateImageCapture(std::size_t cameraIndex) override;
  // Installs a ProjectorFelvar; false when the projector cannot be opened.
  bool InitProjectorControl() override;
  // 1: projector activated and structured-light camera settings; 0: texture
  // settings and projector deactivated.
  void OnCaptureStateChanged(int state) override;
  HighQualityTexture CaptureHighQualityTexture() override;
  bool IsHighQualityTextureSupported() const override { return true; }

  bool HasFactoryCalibration() const { return m_calibrated; }
  // The factory models (null without calibration): the camera at 2208 × 1656,
  // the projector in normalised coordinates.
  std::shared_ptr<CameraModelFelvar> GetFactoryCameraModel() const {
    return m_calibrated ? m_cameraModel : nullptr;
  }
  std::shared_ptr<cam::CameraModelTsai> GetFactoryProjectorModel() const {
    return m_calibrated ? m_projectorModel : nullptr;
  }
  const Options& GetOptions() const { return m_options; }

 private:
  std::shared_ptr<GrabberFelvar> FindGrabber() const;

  Options m_options;
  std::shared_ptr<CameraModelFelvar> m_cameraModel = std::make_shared<CameraModelFelvar>();
  std::shared_ptr<cam::CameraModelTsai> m_projectorModel = std::make_shared<cam::CameraModelTsai>();
  bool m_calibrated = false;
};

}  // namespace felvar
