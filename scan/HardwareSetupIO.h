#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cam/CameraModel.h"
#include "vid/Property.h"

namespace scan {

// What a hardware-setup file (".tarvelinsetup", XML) holds: the product,
// the calibration panels' scale and orientation, the cameras with their
// models, white balance, properties and image rotation, and the projector
// with its model (an inverse camera in normalised coordinates) and the
// display output that shows the patterns.
struct HardwareSetupIO {
  struct Calibration {
    double scale = 0.0;
    std::string orientation;
  };
  struct Camera {
    std::string name;
    std::shared_ptr<cam::CameraModel> cameraModel;  // null when it could not be read
    std::array<float, 3> whiteBalanceFactors{};     // blue, green, red
    vid::PropertyValues cameraProperties;
    std::int32_t imageRotation = 0;  // -1 "Left", 1 "Right", 0 none
  };
  struct ExtendedDisplay {
    std::string name;
    std::int32_t screenID = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t resX = 0;
    std::int32_t resY = 0;
    double refreshRate = 0.0;  // Hz
  };
  struct Projector {
    std::string modelType;  // the type attribute of the model element
    std::shared_ptr<cam::CameraModel> projectorModel;
    ExtendedDisplay extendedDisplay;
  };

  std::string product;
  Calibration calibration;
  std::vector<Camera> cameras;
  Projector projector;
};

// Reads a hardware-setup file. A file that cannot be opened or that the XML
// parser rejects gives an empty setup, an "Error: ..." line with the
// parser's description on stderr, and false. Missing attributes read as 0
// (or empty); numbers are read locale-independently and must be finite
// (otherwise they read as 0). A camera or projector model that cannot be
// read is left null with its message on stderr; the camera is still listed.
bool LoadHardwareSetup(HardwareSetupIO& setup, const std::string& path);
// The same from XML text.
bool ReadHardwareSetup(HardwareSetupIO& setup, std::string_view xml);

// Writes the setup with the element and attribute names the reader uses;
// numbers in shortest round-trip form. Models other than Tsai and OCV are
// left out. False (with an "Error: ..." line) when the file cannot be
// written; an existing file is then left as it was.
bool SaveHardwareSetup(const HardwareSetupIO& setup, const std::string& path);
std::string WriteHardwareSetup(const HardwareSetupIO& setup);

// The copies a calibration keeps in the project's "calibration" folder.
inline constexpr const char* kHardwareSetupBeforeCalibration = "HardwareSetupBeforeCalibration.tarvelinsetup";
inline constexpr const char* kHardwareSetupAfterCalibration = "HardwareSetupAfterCalibration.tarvelinsetup";
// Saves the setup as one of them (the folder is created when missing).
bool SaveCalibrationCopy(const HardwareSetupIO& setup, const std::filesystem::path& calibrationFolder,
                         bool afterCalibration);

}  // namespace scan
