#include "devices/galvern/CameraCalibrationMemory.h"

#include <iostream>
#include <stdexcept>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "vid/CameraMemoryRecord.h"
#include "vid/GrabberImagingSource.h"

namespace galvern {
namespace {

void CheckIndex(const scan::StructuredLightScanner& scanner, const char* className,
                const char* method, std::size_t cameraIndex) {
  if (cameraIndex >= scanner.GetCameraCount())
    throw std::invalid_argument(std::string(className) + "::" + method +
                                " - Invalid camera index.");
}

vid::GrabberImagingSource& ImagingSource(const scan::StructuredLightScanner& scanner,
                                         const char* className, const char* method,
                                         std::size_t cameraIndex) {
  auto* grabber =
      dynamic_cast<vid::GrabberImagingSource*>(scanner.GetImageCapture(cameraIndex).get());
  if (!grabber)
    throw std::logic_error(std::string(className) + "::" + method +
                           " - Image capture is not set or of wrong type.");
  return *grabber;
}

void FillPose(const cam::CameraModel& model, vid::CameraMemoryRecord& record) {
  const math::Frame<double>& wTc = model.GetFrame_wTc();
  for (int column = 0; column < 4; ++column)
    for (int row = 0; row < 3; ++row) record.pose[std::size_t(3 * column + row)] = wTc(row, column);
  record.resX = model.GetResX();
  record.resY = model.GetResY();
}

std::shared_ptr<cam::CameraModel> ModelOf(const vid::CameraMemoryRecord& record) {
  math::Frame<double> wTc;
  for (int column = 0; column < 4; ++column)
    for (int row = 0; row < 3; ++row) wTc(row, column) = record.pose[std::size_t(3 * column + row)];
  const auto& p = record.parameters;
  std::shared_ptr<cam::CameraModel> model;
  if (record.modelType == vid::CameraMemoryRecord::kTsai && p.size() == 5) {
    auto tsai = std::make_shared<cam::CameraModelTsai>();
    tsai->SetResolution(record.resX, record.resY);
    tsai->SetIntrinsics(p[0], p[1], p[2], p[3], p[4]);
    model = tsai;
  } else if (record.modelType == vid::CameraMemoryRecord::kOcv && p.size() == 9) {
    auto ocv = std::make_shared<cam::CameraModelOCV>();
    ocv->SetIntrinsics({p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8]}, record.resX,
                       record.resY);
    model = ocv;
  }
  if (!model || !model->IsValid() || record.resX == 0 || record.resY == 0) return nullptr;
  model->SetFrame_wTc(wTc);
  return model;
}

}  // namespace

bool WriteCalibrationToCamera(scan::StructuredLightScanner& scanner, const char* className,
                              std::size_t cameraIndex, std::uint64_t value,
                              const std::string& text) {
  constexpr const char* kMethod = "WriteCalibrationToCamera";
  CheckIndex(scanner, className, kMethod, cameraIndex);
  const auto model = scanner.GetCameraModel(cameraIndex);
  if (!model)
    throw std::logic_error(std::string(className) + "::" + kMethod + " - Camera model is not set.");
  vid::GrabberImagingSource& grabber = ImagingSource(scanner, className, kMethod, cameraIndex);

  vid::CameraMemoryRecord record;
  if (const auto* tsai = dynamic_cast<const cam::CameraModelTsai*>(model.get())) {
    const auto& i = tsai->GetIntrinsics();
    record.modelType = vid::CameraMemoryRecord::kTsai;
    record.parameters = {i.cx, i.cy, i.f, i.sx, i.kappa1};
  } else if (const auto* ocv = dynamic_cast<const cam::CameraModelOCV*>(model.get())) {
    const auto& i = ocv->GetIntrinsics();
    record.modelType = vid::CameraMemoryRecord::kOcv;
    record.parameters = {i.cx, i.cy, i.f, i.sx, i.k1, i.k2, i.p1, i.p2, i.k3};
  } else {
    throw std::logic_error(std::string(className) + "::" + kMethod +
                           " - Camera model is not Tsai or OCV camera model.");
  }
  FillPose(*model, record);
  record.value = value;
  record.text = text;
  try {
    return vid::WriteCameraMemoryRecord(grabber, record);
  } catch (const std::invalid_argument&) {
    return false;  // longer than a record can say
  }
}

bool ReadCalibrationFromCamera(scan::StructuredLightScanner& scanner, const char* className,
                               std::size_t cameraIndex, std::uint64_t& value, std::string& text) {
  constexpr const char* kMethod = "ReadCalibrationFromCamera";
  CheckIndex(scanner, className, kMethod, cameraIndex);
  vid::GrabberImagingSource& grabber = ImagingSource(scanner, className, kMethod, cameraIndex);
  vid::CameraMemoryRecord record;
  const vid::CameraMemoryStatus status = vid::ReadCameraMemoryRecord(grabber, record);
  if (status == vid::CameraMemoryStatus::kReadFailed ||
      status == vid::CameraMemoryStatus::kWrongVersion) {
    const unsigned type = status == vid::CameraMemoryStatus::kReadFailed ? 0u : record.modelType;
    std::cerr << "Error in ReadCalibrationFromCamera - Wrong version in camera file. Expected: "
              << 1 << ", read: " << type << '\n';
    return false;
  }
  if (status == vid::CameraMemoryStatus::kNoData) {
    std::cerr << "Error in ReadCalibrationFromCamera - Could not read data from camera\n";
    return false;
  }
  const auto model = status == vid::CameraMemoryStatus::kOk ? ModelOf(record) : nullptr;
  if (!model) {
    std::cerr << "Error in ReadCalibrationFromCamera - Could not create camera model from camera "
                 "memory\n";
    return false;
  }
  scanner.SetCameraModel(model, cameraIndex);
  value = record.value;
  text = record.text;
  return true;
}

}  // namespace galvern
