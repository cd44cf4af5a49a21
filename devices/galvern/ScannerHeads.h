#pragma once

#include <array>
#include <cstdint>
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
  bool IsHighQualityTextureSupported() const override { return true; }
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
