#include "devices/felvar/FeHalHelper.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "devices/felvar/Vemko.h"

namespace felvar {
namespace {

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) return false;
  text = s.str();
  return true;
}

using vemko::Hex;

}  // namespace

bool FeHalHelper::IsFelvar() {
  for (const UsbFunction& f : {kCameraBridge, kProjectorFunction, kTouchMatFunction})
    if (GetDevicePaths(f.vendorId, f.productId).empty()) return false;
  return true;
}

std::vector<std::string> FeHalHelper::GetDevicePaths(std::uint16_t vendorId,
                                                     std::uint16_t productId) {
  vemko_device_id* ids = nullptr;
  std::uint32_t count = 0;
  const std::uint64_t status = vemko::System::device_ids(ids, count);
  if (status != VEMKO_OK) {
    std::fprintf(stderr, "FeHalHelper::GetDevicePaths: Error %llx listing the devices\n",
                 Hex(status));
    return {};
  }
  std::vector<std::string> paths;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (ids[i].vendor_id != vendorId || ids[i].product_id != productId) continue;
    paths.emplace_back(ids[i].path, strnlen(ids[i].path, sizeof(ids[i].path)));
  }
  vemko::System::free_device_ids(ids, count);
  return paths;
}

bool FeHalHelper::GetCalibrationData(std::string& cameraText, std::string& projectorText,
                                     std::string& folder) {
  if (!folder.empty()) {
    std::printf("Get calibration data from files...\n");
    const bool read = ReadText(folder + "3DcamCal.cal", cameraText) &&
                      ReadText(folder + "3DprojCal.cal", projectorText);
    if (!read)
      std::fprintf(stderr,
                   "FeHalHelper::GetCalibrationData: Can't load calibration data from files.\n");
    folder.clear();
    return read;
  }
  vemko::Projector projector;
  std::uint64_t status = projector.open();
  if (status != VEMKO_OK) {
    std::printf("FeHalHelper::GetCalibrationData: Error %llx opening the projector\n", Hex(status));
    return false;
  }
  std::printf("Get calibration data from projector...\n");
  vemko_calibration_texts data{};
  status = projector.calibration_data(data);
  if (status != VEMKO_OK) {
    std::printf(
        "FeHalHelper::GetCalibrationData: Error %llx getting calibration data from projector.\n",
        Hex(status));
    projector.close();
    return false;
  }
  cameraText = data.camera ? data.camera : "";
  projectorText = data.projector ? data.projector : "";
  vemko::Projector::free_calibration_data(data);
  projector.close();
  return true;
}

bool FeHalHelper::LoadDeviceModels(cam::CameraModelTsai& camera, cam::CameraModelTsai& projector,
                                   const std::string& folder) {
  std::string cameraText, projectorText, none;
  if (!GetCalibrationData(cameraText, projectorText, none)) {
    std::string files = folder;
    if (files.empty() || !GetCalibrationData(cameraText, projectorText, files)) return false;
  }
  if (!camera.ReadFromXML(cameraText)) return false;
  camera.ScaleToResolution(kModelWidth, kModelHeight);
  return projector.ReadFromXML(projectorText + "<resX>1</resX><resY>1</resY>");
}

}  // namespace felvar
