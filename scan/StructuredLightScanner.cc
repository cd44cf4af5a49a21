#include "scan/StructuredLightScanner.h"

#include <algorithm>
#include <stdexcept>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "vid/ImageConversion.h"

namespace scan {
namespace {

constexpr double kLiveFrameRate = 20.0;  // frames per second of the live preview

void Throw(const char* method, const char* text) {
  throw std::invalid_argument(std::string("StructuredLightScanner::") + method + " - " + text);
}

}  // namespace

StructuredLightScanner::StructuredLightScanner(const InitParams& params)
    : m_frameRateLimit(params.frameRateLimit > 0.0 ? params.frameRateLimit : 0.0),
      m_logDirectory(params.logDirectory) {}

StructuredLightScanner::~StructuredLightScanner() {
  for (const CameraSlot& slot : m_cameras) {
    auto it = m_defaultPropertyArchive.find(slot.name);
    if (it == m_defaultPropertyArchive.end()) continue;
    auto properties = std::dynamic_pointer_cast<vid::ImageCaptureProperties>(slot.imageCapture);
    if (!properties) continue;
    try {
      properties->SetProperties(it->second);
    } catch (...) {
      // A device that fails while being given back its defaults is left as it is.
    }
  }
}

CameraSlot& StructuredLightScanner::Slot(std::size_t cameraIndex, const char* method) {
  if (cameraIndex >= m_cameras.size()) Throw(method, "Invalid camera index.");
  return m_cameras[cameraIndex];
}

const CameraSlot& StructuredLightScanner::Slot(std::size_t cameraIndex, const char* method) const {
  if (cameraIndex >= m_cameras.size()) Throw(method, "Invalid camera index.");
  return m_cameras[cameraIndex];
}

// --- Cameras ---

std::size_t StructuredLightScanner::AddCamera(const std::string& name, bool createCapture) {
  std::size_t index = m_cameras.size();
  if (auto existing = GetCameraIndex(name)) {
    index = *existing;
  } else {
    CameraSlot slot;
    slot.name = name;
    m_cameras.push_back(std::move(slot));
  }
  if (createCapture && !m_cameras[index].imageCapture) CreateImageCapture(index);
  return index;
}

std::optional<std::size_t> StructuredLightScanner::GetCameraIndex(const std::string& name) const {
  for (std::size_t i = 0; i < m_cameras.size(); ++i)
    if (m_cameras[i].name == name) return i;
  return std::nullopt;
}

void StructuredLightScanner::RemoveCamera(std::size_t cameraIndex) {
  Slot(cameraIndex, "RemoveCamera");
  m_cameras.erase(m_cameras.begin() + static_cast<std::ptrdiff_t>(cameraIndex));
}

CameraList StructuredLightScanner::GetCameraList() const {
  const std::vector<std::string> available = GetAvailableCameraNames();
  const std::vector<vid::CameraInfo> descriptors = GetSupportedCameras();
  auto accepted = [&](const std::string& device) {
    for (const vid::CameraInfo& d : descriptors)
      if (d.source.name.empty() || device.find(d.source.name) != std::string::npos) return true;
    return false;
  };
  auto isAvailable = [&](const std::string& name) {
    return std::find(available.begin(), available.end(), name) != available.end();
  };
  CameraList list;
  for (const CameraSlot& slot : m_cameras) {
    if (!accepted(slot.name)) continue;
    const int a = isAvailable(slot.name) ? 1 : 0;
    const int status = slot.imageCapture ? 4 - a : 1 + a;
    list.Set(slot.name, static_cast<CameraList::Status>(status));
  }
  for (const std::string& name : available) {
    if (!GetCameraIndex(name) && accepted(name)) list.Set(name, CameraList::Status::Available);
  }
  return list;
}

// --- Captures, properties, rotation ---

void StructuredLightScanner::SetImageCapture(std::shared_ptr<vid::ImageCapture> capture,
                                             std::size_t cameraIndex) {
  CameraSlot& slot = Slot(cameraIndex, "SetImageCapture");
  slot.imageCapture = std::move(capture);
  auto properties = std::dynamic_pointer_cast<vid::ImageCaptureProperties>(slot.imageCapture);
  if (slot.imageCapture) slot.name = slot.imageCapture->GetName();
  if (!slot.name.empty() && properties)
    m_defaultPropertyArchive[slot.name] = properties->GetProperties();
  SyncWithCalibrationArchive(cameraIndex);
  ReadWhiteBalanceFactorsFromArchive(cameraIndex);
  auto archived = m_propertyArchive.find(slot.name);
  if (archived != m_propertyArchive.end() && properties)
    properties->SetProperties(archived->second);
}

std::shared_ptr<vid::ImageCapture> StructuredLightScanner::GetImageCapture(
    std::size_t cameraIndex) const {
  return Slot(cameraIndex, "GetImageCapture").imageCapture;
}

std::shared_ptr<vid::ImageCaptureProperties> StructuredLightScanner::GetImageCaptureProperties(
    std::size_t cameraIndex) const {
  return std::dynamic_pointer_cast<vid::ImageCaptureProperties>(
      Slot(cameraIndex, "GetImageCaptureProperties").imageCapture);
}

void StructuredLightScanner::SetImageCapturePropertyValues(const vid::PropertyValues& values,
                                                           std::size_t cameraIndex) {
  const CameraSlot& slot = Slot(cameraIndex, "SetImageCapturePropertyValues");
  if (auto properties = std::dynamic_pointer_cast<vid::ImageCaptureProperties>(slot.imageCapture)) {
    properties->SetProperties(values);
  } else if (!slot.name.empty()) {
    m_propertyArchive[slot.name] = values;
  }
}

void StructuredLightScanner::SetImageRotation(std::uint32_t rotation, std::size_t cameraIndex) {
  Slot(cameraIndex, "SetImageRotation").imageRotation = rotation;
}

std::uint32_t StructuredLightScanner::GetImageRotation(std::size_t cameraIndex) const {
  return Slot(cameraIndex, "GetImageRotation").imageRotation;
}

bool StructuredLightScanner::IsColorCaptureSupported() const {
  for (const CameraSlot& slot : m_cameras) {
    if (!slot.imageCapture || !vid::IsColorFormat(slot.imageCapture->GetFormat())) return false;
  }
  return true;
}

double StructuredLightScanner::GetMeasuredFramerate(std::size_t cameraIndex) const {
  const CameraSlot& slot = Slot(cameraIndex, "GetMeasuredFramerate");
  return slot.framerateMeasure ? slot.framerateMeasure->GetFramerate() : 0.0;
}

double StructuredLightScanner::GetTimeSinceLastNewImage(std::size_t cameraIndex) const {
  const CameraSlot& slot = Slot(cameraIndex, "GetTimeSinceLastNewImage");
  return slot.framerateMeasure ? slot.framerateMeasure->GetTimeSinceLastUpdate() : 0.0;
}

// --- Calibration, projector, scan ---

void StructuredLightScanner::SetCameraModel(std::shared_ptr<cam::CameraModel> model,
                                            std::size_t cameraIndex) {
  Slot(cameraIndex, "SetCameraModel").cameraModel = std::move(model);
  SyncWithCalibrationArchive(cameraIndex);
}

std::shared_ptr<cam::CameraModel> StructuredLightScanner::GetCameraModel(
    std::size_t cameraIndex) const {
  return Slot(cameraIndex, "GetCameraModel").cameraModel;
}

double StructuredLightScanner::GetFocalLengthRatio(std::size_t cameraIndex) const {
  const cam::CameraModel* model = Slot(cameraIndex, "GetFocalLengthRatio").cameraModel.get();
  if (!model || !model->IsValid() || model->GetResX() == 0) return 0.0;
  if (auto tsai = dynamic_cast<const cam::CameraModelTsai*>(model))
    return tsai->GetIntrinsics().f / model->GetResX();
  if (auto ocv = dynamic_cast<const cam::CameraModelOCV*>(model))
    return ocv->GetIntrinsics().f / model->GetResX();
  return 0.0;
}

void StructuredLightScanner::SetProjector(const std::string& name, SLPatternDisplayPtr display,
                                          ProjectorControlPtr /*control*/) {
  if (name != m_projectorName) m_patternDisplay = std::move(display);
  m_projectorName = name;
  if (!name.empty()) {
    InitProjectorControl();
  } else {
    m_projectorControl.reset();
  }
}

bool StructuredLightScanner::InitProjectorControl() {
  m_projectorControl.reset();
  return false;
}

void StructuredLightScanner::SetTextureCaptureMode(std::int32_t mode) {
  m_textureCaptureMode = (mode == 2 && !IsHighQualityTextureSupported()) ? 1 : mode;
}

bool StructuredLightScanner::IsCalibrated() const {
  for (const CameraSlot& slot : m_cameras) {
    if (!slot.imageCapture || !slot.cameraModel || !slot.cameraModel->IsValid()) return false;
  }
  return m_patternDisplay && m_projectorModel && m_projectorModel->IsValid();
}

// --- Archives ---

void StructuredLightScanner::AddToCalibrationArchive(std::shared_ptr<cam::CameraModel> model,
                                                     const std::string& name) {
  if (name.empty()) Throw("AddToCalibrationArchive", "name is empty.");
  if (!model) Throw("AddToCalibrationArchive", "model is nullptr.");
  m_calibrationArchive[name] = std::move(model);
}

void StructuredLightScanner::SyncWithCalibrationArchive(std::size_t cameraIndex) {
  if (cameraIndex >= m_cameras.size())
    Throw("SyncWithCalibrationArchive", "cameraIndex is invalid.");
  CameraSlot& slot = m_cameras[cameraIndex];
  if (slot.name.empty()) return;
  if (slot.cameraModel) {
    AddToCalibrationArchive(slot.cameraModel, slot.name);
  } else if (auto it = m_calibrationArchive.find(slot.name); it != m_calibrationArchive.end()) {
    slot.cameraModel = it->second;
  }
}

void StructuredLightScanner::AddToWhiteBalanceArchive(const std::string& name, double red,
                                                      double green, double blue) {
  if (name.empty()) Throw("AddToWhiteBalanceArchive", "name is empty.");
  m_whiteBalanceArchive[name] = WhiteBalanceFactors{red, green, blue};
}

void StructuredLightScanner::ReadWhiteBalanceFactorsFromArchive(std::size_t cameraIndex) {
  if (cameraIndex >= m_cameras.size())
    Throw("ReadWhiteBalanceFactorsFromArchive", "cameraIndex is invalid.");
  CameraSlot& slot = m_cameras[cameraIndex];
  if (slot.name.empty()) return;
  slot.whiteBalance = m_whiteBalanceArchive[slot.name];  // a new entry is 1, 1, 1
}

void StructuredLightScanner::SetWhiteBalanceFactors(double red, double green, double blue,
                                                    std::size_t cameraIndex) {
  if (cameraIndex >= m_cameras.size()) Throw("SetWhiteBalanceFactors", "cameraIndex is invalid.");
  CameraSlot& slot = m_cameras[cameraIndex];
  slot.whiteBalance = WhiteBalanceFactors{red, green, blue};
  if (!slot.name.empty()) AddToWhiteBalanceArchive(slot.name, red, green, blue);
}

WhiteBalanceFactors StructuredLightScanner::GetWhiteBalanceFactors(std::size_t cameraIndex) const {
  if (cameraIndex >= m_cameras.size()) Throw("GetWhiteBalanceFactors", "cameraIndex is invalid.");
  return m_cameras[cameraIndex].whiteBalance;
}

std::string StructuredLightScanner::GetLogFilePath(const std::string& fileName) const {
  return m_logDirectory.empty() ? std::string() : m_logDirectory + "/" + fileName;
}

// --- Live preview ---

template <typename Image, typename Convert>
bool StructuredLightScanner::NextLive(Image& image, std::size_t cameraIndex, const char* method,
                                      Convert convert) {
  CameraSlot& slot = Slot(cameraIndex, method);
  if (!slot.imageCapture) return false;
  if (!slot.imageCapture->IsReady()) {
    slot.liveQueue.reset();
    return false;
  }
  if (!slot.liveQueue)
    slot.liveQueue = std::make_shared<vid::ImageQueue>(1, vid::ImageQueue::kReplaceNewest);
  if (!slot.imageCapture->IsCapturing()) {
    slot.framerateMeasure->Reset();
    auto filter = std::make_shared<ImageLiveFilter>(kLiveFrameRate, slot.framerateMeasure);
    slot.liveFilter = filter;
    slot.imageCapture->StartCapture(slot.liveQueue, filter);
  }
  vid::ImagePtr frame = slot.liveQueue->Pop();
  if (!frame) return false;
  return convert(*frame, image, slot.imageRotation);
}

bool StructuredLightScanner::NextLiveImage(img::UniImage<img::uint8>& image,
                                           std::size_t cameraIndex) {
  return NextLive(image, cameraIndex, "NextLiveImage",
                  [](vid::Image& frame, img::UniImage<img::uint8>& out, std::uint32_t rotation) {
                    return vid::TakeAsGray(frame, out, rotation);
                  });
}

bool StructuredLightScanner::NextLiveRGBImage(img::UniImage<img::RGB8>& image,
                                              std::size_t cameraIndex) {
  return NextLive(image, cameraIndex, "NextLiveRGBImage",
                  [](vid::Image& frame, img::UniImage<img::RGB8>& out, std::uint32_t rotation) {
                    return vid::ConvertToColor(frame, out, 0, rotation);
                  });
}

void StructuredLightScanner::StopLiveImageCapture() {
  for (CameraSlot& slot : m_cameras) {
    if (slot.imageCapture && !slot.liveFilter.expired()) {
      slot.imageCapture->StopCapture();
      slot.liveFilter.reset();
    }
  }
}

void StructuredLightScanner::SetContentChangeDetection(
    const std::shared_ptr<vid::ContentChangeDetection>& detector, std::size_t cameraIndex) {
  if (auto filter = Slot(cameraIndex, "SetContentChangeDetection").liveFilter.lock())
    filter->SetContentChangeDetection(detector);
}

// --- Results ---

SLScanEvaluationResultPtr StructuredLightScanner::GetEvaluationResult(
    std::size_t cameraIndex) const {
  return Slot(cameraIndex, "GetEvaluationResult").evaluationResult;
}

SLScannedImagesStorePtr StructuredLightScanner::GetScannedImages(std::size_t cameraIndex) const {
  return Slot(cameraIndex, "GetScannedImages").scannedImages;
}

bool StructuredLightScanner::HasHighQualityTexture() const {
  return m_highQualityTexture.image && m_highQualityTexture.cameraModel;
}

std::shared_ptr<img::UniImage<img::RGB8>> StructuredLightScanner::GetHighQualityTextureImage()
    const {
  if (!m_highQualityTexture.image) return nullptr;
  return std::make_shared<img::UniImage<img::RGB8>>(*m_highQualityTexture.image);
}

std::shared_ptr<cam::CameraModel> StructuredLightScanner::GetHighQualityTextureCameraModel() const {
  if (!m_highQualityTexture.cameraModel) return nullptr;
  return m_highQualityTexture.cameraModel->CloneModel();
}

}  // namespace scan
