#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cam/CameraModelTsai.h"

namespace felvar {

// Device detection and factory calibration of the projector–camera unit,
// through its device library (DeviceLibrary.h). Failures are printed as
// lines on standard error and turned into false results.
class FeHalHelper {
 public:
  struct UsbFunction {
    std::uint16_t vendorId;
    std::uint16_t productId;
  };
  // The unit's three USB functions: the camera bridge and the maker's
  // projector and touch-mat functions.
  static constexpr UsbFunction kCameraBridge{0x05A9, 0xF580};
  static constexpr UsbFunction kProjectorFunction{0xF3E1, 0x0A01};
  static constexpr UsbFunction kTouchMatFunction{0xF3E1, 0x0A02};

  // The camera model's size after loading: the half sensor mode.
  static constexpr std::uint32_t kModelWidth = 2208;
  static constexpr std::uint32_t kModelHeight = 1656;

  // True when the library lists all three functions of the unit.
  static bool IsFelvar();

  // The paths of the attached devices with that vendor and product ID; a
  // failing listing gives an empty list and prints its status.
  static std::vector<std::string> GetDevicePaths(std::uint16_t vendorId, std::uint16_t productId);

  // The unit's calibration texts: from folder + "3DcamCal.cal" and folder +
  // "3DprojCal.cal" when folder is not empty (the folder is cleared then),
  // else from the unit's projector.
  static bool GetCalibrationData(std::string& cameraText, std::string& projectorText,
                                 std::string& folder);

  // The camera model (scaled to kModelWidth × kModelHeight) and the
  // projector model (normalised coordinates) from the unit, else from the
  // files in folder. True when both were read.
  static bool LoadDeviceModels(cam::CameraModelTsai& camera, cam::CameraModelTsai& projector,
                               const std::string& folder);
};

}  // namespace felvar
