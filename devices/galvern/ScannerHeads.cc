#include "devices/galvern/ScannerHeads.h"

#include <algorithm>
#include <iostream>

#include "devices/felvar/FeHalHelper.h"
#include "devices/felvar/ProjectorFelvar.h"
#include "devices/galvern/CameraCalibrationMemory.h"
#include "devices/galvern/SystemCalibrationUpdate.h"
#include "scan/SLSingleColorPattern.h"
#include "vid/ImageConversion.h"
#include "vid/ImageQueue.h"

namespace galvern {
namespace {

constexpr const char* kHeadCamera = "33UX178";
constexpr const char* kTirra = "TirraStructuredLightScanner";
constexpr const char* kGalvern = "GalvernStructuredLightScanner";

vid::PropertyValues Manual(std::initializer_list<std::pair<const char*, double>> values) {
  vid::PropertyValues properties;
  for (const auto& [name, value] : values)
    properties[name] = vid::Property(value, vid::Property::kManual);
  return properties;
}

// A grabber that reaches the camera's user memory; INFO lines to its log only.
std::shared_ptr<vid::GrabberDirectShow> MakeImagingSource(const std::string& logFile,
                                                          const HeadDevices& devices) {
  vid::GrabberImagingSource::Options options;
  options.grabber.v4l2 = devices.v4l2;
  options.grabber.consoleInfo = false;
  options.usbOpener = devices.usbOpener;
  return std::make_shared<vid::GrabberImagingSource>(logFile, options);
}

// The camera's model from its memory, when it keeps one.
template <class Head>
void ReadBackCalibration(Head& head, std::size_t cameraIndex) {
  std::uint64_t value = 0;
  std::string text;
  head.ReadCalibrationFromCamera(cameraIndex, value, text);
}

}  // namespace

// --- The dual-camera head

TirraStructuredLightScanner::TirraStructuredLightScanner(std::uint32_t variant,
                                                         const InitParams& params,
                                                         HeadDevices devices)
    : sls::GenericStructuredLightScanner("Custom", params, devices.v4l2),
      m_variant(variant),
      m_devices(std::move(devices)) {}

bool TirraStructuredLightScanner::InitProjectorControl() {
  SetProjectorControl(nullptr);
  const std::uint16_t product = m_variant == 0 ? kProjectorProductIdVariant0 : kProjectorProductId;
  if (felvar::FeHalHelper::GetDevicePaths(kProjectorVendorId, product).empty()) return false;
  auto control = std::make_shared<felvar::ProjectorFelvar>();
  if (!control->Open()) return false;
  SetProjectorControl(std::move(control));
  return true;
}

std::vector<vid::CameraInfo> TirraStructuredLightScanner::GetSupportedCameras() const {
  const bool first = m_variant == 0;
  vid::CameraInfo info;
  info.source = {vid::SourceType::Live, kHeadCamera};
  info.allowedFormats = {{vid::subtype::Y800, 0, 0, first ? 30.0 : 20.0}};
  info.forceConfiguration = true;
  info.frameRateChoices = {{1, 60.0}, {1, 30.0}, {1, 20.0}, {1, 15.0},
                           {1, 10.0}, {1, 7.5},  {1, 5.0}};
  info.defaultProperties = Manual({{"brightness", 0},
                                   {"exposure", -14},
                                   {"flip_horizontal", first ? 1 : 0},
                                   {"flip_vertical", 0},
                                   {"flip_vertical_sw", first ? 1 : 0},
                                   {"gain", 0},
                                   {"gamma", 100},
                                   {"sharpness", 0},
                                   {"pan", 0},
                                   {"tilt", 0},
                                   {"trigger_enable", 0},
                                   {"zoom", 0}});
  return {info};
}

std::vector<vid::ProjectorInfo> TirraStructuredLightScanner::GetSupportedProjectors() const {
  return {vid::ProjectorInfo(1920, 1080, 60.0, "Orla Horizontal", 2.2)};
}

bool TirraStructuredLightScanner::CreateImageCapture(std::size_t cameraIndex) {
  const bool created = CreateCapture(cameraIndex, kTirra, [this](const std::string& name) {
    return MakeImagingSource(GetLogFilePath(name + ".txt"), m_devices);
  });
  if (created) ReadBackCalibration(*this, cameraIndex);
  return created;
}

bool TirraStructuredLightScanner::WriteCalibrationToCamera(std::size_t cameraIndex,
                                                           std::uint64_t value,
                                                           const std::string& text) {
  return galvern::WriteCalibrationToCamera(*this, kTirra, cameraIndex, value, text);
}

bool TirraStructuredLightScanner::ReadCalibrationFromCamera(std::size_t cameraIndex,
                                                            std::uint64_t& value,
                                                            std::string& text) {
  return galvern::ReadCalibrationFromCamera(*this, kTirra, cameraIndex, value, text);
}

void TirraStructuredLightScanner::OnCaptureStateChanged(int state) {
  const auto control = GetProjectorControl();
  if (state == 1 && control && !control->Activate())
    std::cerr << "TirraStructuredLightScanner - the projector unit could not be switched on"
              << std::endl;
  if (state == 2 && GetPatternDisplay())
    GetPatternDisplay()->DisplayPatterns({}, {scan::SLSingleColorPattern::WhitePattern()});
  if (state == 0 && control) control->Deactivate();
}

scan::StructuredLightScanner::HighQualityTexture
TirraStructuredLightScanner::CaptureHighQualityTexture() {
  const int skip = std::max(1, GetAcquisitionParameters().imageSkipCount);
  const auto frames = std::size_t(skip + 2);  // the last one is taken
  HighQualityTexture texture;
  const auto capture = GetCameraCount() > 0 ? GetImageCapture(0) : nullptr;
  if (!capture) {
    std::cerr << "TirraStructuredLightScanner - no texture: camera 0 is not connected" << std::endl;
    return texture;
  }
  auto queue = std::make_shared<vid::ImageQueue>(frames, vid::ImageQueue::kStopWhenFull);
  capture->StartCapture(queue, nullptr);
  const bool arrived = queue->Wait(vid::ImageQueue::kFull, m_textureTimeoutSeconds);
  capture->StopCapture();
  vid::ImagePtr frame;
  for (std::size_t i = 0; i < frames; ++i) frame = queue->Pop();
  auto image = std::make_unique<img::UniImage<img::RGB8>>();
  if (!arrived || !frame || !vid::ConvertToColor(*frame, *image)) {
    std::cerr << "TirraStructuredLightScanner - no texture: camera 0 delivered no frame within "
              << m_textureTimeoutSeconds << " s" << std::endl;
    return texture;
  }
  if (const auto model = GetCameraModel(0)) {
    texture.cameraModel = model->CloneModel();
    texture.cameraModel->ScaleToResolution(image->width, image->height);
  }
  texture.image = std::move(image);
  return texture;
}

int TirraStructuredLightScanner::UpdateSystemCalibration() {
  return galvern::UpdateSystemCalibration(*this, m_calibrationFolder, std::cout);
}

// --- The single-camera head

GalvernStructuredLightScanner::GalvernStructuredLightScanner(const InitParams& params,
                                                             HeadDevices devices)
    : sls::GenericStructuredLightScanner("Custom", params, devices.v4l2),
      m_devices(std::move(devices)) {}

std::vector<vid::CameraInfo> GalvernStructuredLightScanner::GetSupportedCameras() const {
  vid::CameraInfo info;
  info.source = {vid::SourceType::Live, kHeadCamera};
  info.allowedFormats = {{vid::subtype::Y800, 0, 0, 30.0}};
  info.forceConfiguration = true;
  info.defaultProperties = Manual({{"exposure", -14},
                                   {"flip_horizontal", 0},
                                   {"flip_vertical", 0},
                                   {"flip_vertical_sw", 0},
                                   {"gain", 34},
                                   {"gamma", 100},
                                   {"sharpness", 0},
                                   {"pan", 0},
                                   {"tilt", 0},
                                   {"zoom", 0}});
  return {info};
}

std::vector<vid::ProjectorInfo> GalvernStructuredLightScanner::GetSupportedProjectors() const {
  return {vid::ProjectorInfo(1920, 1280, 60.0, "Orla Horizontal", 2.2)};
}

bool GalvernStructuredLightScanner::CreateImageCapture(std::size_t cameraIndex) {
  const bool created = CreateCapture(cameraIndex, kGalvern, [this](const std::string& name) {
    return MakeImagingSource(GetLogFilePath(name + ".txt"), m_devices);
  });
  if (created) ReadBackCalibration(*this, cameraIndex);
  return created;
}

bool GalvernStructuredLightScanner::WriteCalibrationToCamera(std::size_t cameraIndex,
                                                             std::uint64_t value,
                                                             const std::string& text) {
  return galvern::WriteCalibrationToCamera(*this, kGalvern, cameraIndex, value, text);
}

bool GalvernStructuredLightScanner::ReadCalibrationFromCamera(std::size_t cameraIndex,
                                                              std::uint64_t& value,
                                                              std::string& text) {
  return galvern::ReadCalibrationFromCamera(*this, kGalvern, cameraIndex, value, text);
}

}  // namespace galvern
