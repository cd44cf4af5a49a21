#include "devices/felvar/FelvarStructuredLightScanner.h"

#include <cstdio>
#include <iostream>

#include "devices/felvar/FeHalHelper.h"
#include "devices/felvar/ImageTextureFilter.h"
#include "devices/felvar/ProjectorFelvar.h"
#include "vid/ImageConversion.h"
#include "vid/ImageQueue.h"

namespace felvar {

FelvarStructuredLightScanner::FelvarStructuredLightScanner(const InitParams& params,
                                                           Options options)
    : sls::GenericStructuredLightScanner(kProductName, params, options.v4l2),
      m_options(std::move(options)) {
  if (m_options.slsWidth != CameraModelFelvar::kFullWidth &&
      m_options.slsWidth != CameraModelFelvar::kHalfWidth &&
      m_options.slsWidth != CameraModelFelvar::kQuarterWidth)
    m_options.slsWidth = CameraModelFelvar::kHalfWidth;
  std::printf("Load Felvar factory calibration....\n");
  std::fflush(stdout);
  m_calibrated = FeHalHelper::LoadDeviceModels(*m_cameraModel, *m_projectorModel,
                                               m_options.programData + "/Orla/Felvar/SDK/");
  if (!m_calibrated) std::cerr << "Error - Could not connect to Felvar camera." << std::endl;
}

FelvarStructuredLightScanner::~FelvarStructuredLightScanner() {
  // The projector is given back before the cameras go.
  if (auto control = GetProjectorControl()) control->Deactivate();
  SetProjectorControl(nullptr);
}

std::vector<vid::CameraInfo> FelvarStructuredLightScanner::GetSupportedCameras() const {
  vid::CameraInfo info;
  info.source = {vid::SourceType::Live, kCameraName};
  info.allowedFormats = {GrabberFelvar::StructuredLightFormat(m_options.slsWidth)};
  info.frameRateChoices = {{1, 30.0}, {2, 15.0}};
  info.forceConfiguration = true;
  return {info};
}

std::vector<vid::ProjectorInfo> FelvarStructuredLightScanner::GetSupportedProjectors() const {
  return {vid::ProjectorInfo(1920, 1080, 60.0, kProjectorName, 2.2)};
}

bool FelvarStructuredLightScanner::CreateImageCapture(std::size_t cameraIndex) {
  const auto make = [this](const std::string& name) {
    vid::GrabberDirectShow::Options options;
    options.v4l2 = GetDevices();
    options.consoleInfo = false;
    auto grabber = std::make_shared<GrabberFelvar>(GetLogFilePath(name + ".txt"), options);
    grabber->setSLSFormat(m_options.slsWidth);
    return grabber;
  };
  if (!CreateCapture(cameraIndex, "FelvarStructuredLightScanner", make)) return false;
  if (m_calibrated) {
    auto model = std::make_shared<CameraModelFelvar>(*m_cameraModel);
    model->ScaleToResolution(m_options.slsWidth, m_options.slsWidth * 3 / 4);
    SetCameraModel(model, cameraIndex);
    SetProjectorModel(m_projectorModel);
  }
  return true;
}

bool FelvarStructuredLightScanner::InitProjectorControl() {
  if (auto old = GetProjectorControl()) old->Deactivate();
  auto control = std::make_shared<ProjectorFelvar>();
  if (!control->Open()) {
    SetProjectorControl(nullptr);
    return false;
  }
  SetProjectorControl(control);
  return true;
}

std::shared_ptr<GrabberFelvar> FelvarStructuredLightScanner::FindGrabber() const {
  for (std::size_t i = 0; i < GetCameraCount(); ++i)
    if (auto grabber = std::dynamic_pointer_cast<GrabberFelvar>(GetImageCapture(i))) return grabber;
  return nullptr;
}

void FelvarStructuredLightScanner::OnCaptureStateChanged(int state) {
  const auto control = GetProjectorControl();
  const auto grabber = FindGrabber();
  if (state == 1) {
    if (control) control->Activate();
    if (grabber && !grabber->setStructuredLightCameraSettings(m_options.exposure))
      std::cerr << "Error setting structured light settings" << std::endl;
  } else if (state == 0) {
    if (grabber && !grabber->setTextureCaptureCameraSettings())
      std::cerr << "Error setting texture capture settings" << std::endl;
    if (control) control->Deactivate();
  }
}

scan::StructuredLightScanner::HighQualityTexture
FelvarStructuredLightScanner::CaptureHighQualityTexture() {
  HighQualityTexture texture;
  const auto grabber = FindGrabber();
  if (!grabber || !grabber->setTextureCaptureCameraSettings()) {
    std::fprintf(stderr, "Prepare capture texture failed.\n");
    return texture;
  }
  auto queue = std::make_shared<vid::ImageQueue>(1, vid::ImageQueue::kStopWhenFull);
  grabber->StartCapture(queue, std::make_shared<ImageTextureFilter>(m_options.textureThreshold));
  const bool arrived = queue->Wait(vid::ImageQueue::kNotEmpty, m_options.textureTimeoutSeconds);
  grabber->StopCapture();
  if (!arrived) {
    std::cerr << "Capture texture image timeout!!!" << std::endl;
    return texture;
  }
  auto image = std::make_unique<img::UniImage<img::RGB8>>();
  const vid::ImagePtr frame = queue->Pop();
  if (!frame || !vid::ConvertToColor(*frame, *image)) {
    std::cerr << "Capture texture image failed!!!" << std::endl;
    return texture;
  }
  if (m_calibrated) {
    auto model = std::make_unique<CameraModelFelvar>(*m_cameraModel);
    model->ScaleToResolution(image->width, image->height);
    texture.cameraModel = std::move(model);
  }
  texture.image = std::move(image);
  return texture;
}

}  // namespace felvar
