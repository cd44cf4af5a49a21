#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devices/sls/GenericStructuredLightScanner.h"
#include "vid/GrabberImagingSource.h"

namespace galvern {

// The device access of a scanner head: the video devices and the USB
// control channel of its camera (empty: the machine's).
struct HeadDevices {
  std::shared_ptr<vid::V4l2Calls> v4l2;
  vid::GrabberImagingSource::UsbOpener usbOpener;
};

// The dual-camera scanner head with its fixed USB cameras ("33UX178") and
// projector unit ("Orla Horizontal", 1920 × 1080). Its cameras are opened
// as vid::GrabberImagingSource, which reaches their user memory: a camera
// that connects gets its model back from the calibration record there.
// Hardware variant 0 runs the cameras at 30 fps mirrored horizontally
// (and flipped in software), the others at 20 fps unmirrored.
class TirraStructuredLightScanner : public sls::GenericStructuredLightScanner {
 public:
  TirraStructuredLightScanner(std::uint32_t variant, const InitParams& params,
                              HeadDevices devices = {});

  std::vector<vid::CameraInfo> GetSupportedCameras() const override;
  std::vector<vid::ProjectorInfo> GetSupportedProjectors() const override;
  // Throws std::invalid_argument
  // "TirraStructuredLightScanner::CreateImageCapture - Invalid camera index.".
  bool CreateImageCapture(std::size_t cameraIndex) override;
  // Capture state 1 (patterns) switches the projector unit on, 0 (done)
  // off again; 2 (texture) shows a white field for the texture frame.
  void OnCaptureStateChanged(int state) override;
  // The texture: a frame of camera 0 under the white field, taken once as
  // many frames as the acquisition skips after a pattern change (at least
  // one) and one more have passed (the first may still show the last
  // pattern); in colour, with camera 0's model at the frame's size. Empty,
  // with a line on standard error, when camera 0 has no capture or the
  // frames do not arrive within the texture timeout.
  HighQualityTexture CaptureHighQualityTexture() override;
  bool IsHighQualityTextureSupported() const override { return true; }
  void SetTextureTimeout(double seconds) { m_textureTimeoutSeconds = seconds; }
  // The head's projector unit, found by its USB IDs in the unit device
  // library's listing and opened as a felvar::ProjectorFelvar; false (no
  // control) when none is listed or it cannot be opened.
  bool InitProjectorControl() override;

  // The projector unit's USB IDs: one product for variant 0, another for the rest.
  static constexpr std::uint16_t kProjectorVendorId = 0xF3E1;
  static constexpr std::uint16_t kProjectorProductIdVariant0 = 0x0B01;
  static constexpr std::uint16_t kProjectorProductId = 0x0B02;

  // See CameraCalibrationMemory.h.
  bool WriteCalibrationToCamera(std::size_t cameraIndex, std::uint64_t value,
                                const std::string& text);
  bool ReadCalibrationFromCamera(std::size_t cameraIndex, std::uint64_t& value, std::string& text);

  // Refines the pose between cameras 0 and 1 from the last scan and writes
  // "EpipolarErrorImage.bmp" into the calibration folder; see
  // galvern::UpdateSystemCalibration for the result codes.
  int UpdateSystemCalibration();
  // Where the error image goes; "calibration" (of the working folder) by default.
  void SetCalibrationFolder(std::filesystem::path folder) {
    m_calibrationFolder = std::move(folder);
  }

  void ActivateAutoWhiteBalanceForNextScan() { m_autoWhiteBalanceForNextScan = true; }
  bool IsAutoWhiteBalanceForNextScan() const { return m_autoWhiteBalanceForNextScan; }
  std::uint32_t GetVariant() const { return m_variant; }
  // Red, green, blue.
  const std::array<double, 3>& GetWhiteBalance() const { return m_whiteBalance; }

 private:
  std::uint32_t m_variant;
  HeadDevices m_devices;
  bool m_autoWhiteBalanceForNextScan = false;
  std::array<double, 3> m_whiteBalance{4.88462, 1.47381, 3.63748};
  std::filesystem::path m_calibrationFolder = "calibration";
  double m_textureTimeoutSeconds = 5.0;
};

// The single-camera scanner head: its USB camera ("33UX178", 30 fps) and
// projector unit ("Orla Horizontal", 1920 × 1280); cameras opened as for
// the dual-camera head, with the calibration kept in the camera's memory.
class GalvernStructuredLightScanner : public sls::GenericStructuredLightScanner {
 public:
  explicit GalvernStructuredLightScanner(const InitParams& params, HeadDevices devices = {});

  std::vector<vid::CameraInfo> GetSupportedCameras() const override;
  std::vector<vid::ProjectorInfo> GetSupportedProjectors() const override;
  // Throws std::invalid_argument
  // "GalvernStructuredLightScanner::CreateImageCapture - Invalid camera index.".
  bool CreateImageCapture(std::size_t cameraIndex) override;

  bool WriteCalibrationToCamera(std::size_t cameraIndex, std::uint64_t value,
                                const std::string& text);
  bool ReadCalibrationFromCamera(std::size_t cameraIndex, std::uint64_t& value, std::string& text);

 private:
  HeadDevices m_devices;
};

}  // namespace galvern
