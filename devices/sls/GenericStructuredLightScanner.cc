#include "devices/sls/GenericStructuredLightScanner.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>

#include "devices/sls/ProductTables.h"
#include "vid/VideoInputDevices.h"

namespace sls {
namespace {

bool Matches(const vid::CameraInfo& info, const std::string& deviceName) {
  return deviceName.find(info.source.name) != std::string::npos;
}

void Say(const char* line) { std::cout << line << '\n'; }

// Holds the grabber at rate (fps; 0: any). The format choice takes the
// nearest type the device offers, so the rate it got is checked; a rate the
// device does not offer restores the format it had. False then.
bool HoldRate(vid::GrabberDirectShow& grabber, double rate) {
  const vid::Format current = grabber.GetFormat();
  vid::Format limited = current;
  limited.fps = rate;
  if (grabber.ChangeFormat({limited}, true) == vid::GrabberDirectShow::kOk &&
      (rate <= 0.0 || std::abs(grabber.GetFormat().fps - rate) <= 0.001))
    return true;
  grabber.ChangeFormat({current}, true);
  return false;
}

}  // namespace

GenericStructuredLightScanner::GenericStructuredLightScanner(
    std::string productName, const InitParams& params, std::shared_ptr<vid::V4l2Calls> devices)
    : scan::StructuredLightScanner(params),
      m_productName(std::move(productName)),
      m_devices(std::move(devices)) {}

std::vector<vid::CameraInfo> GenericStructuredLightScanner::GetSupportedCameras() const {
  return SupportedCameras(m_productName);
}

std::vector<vid::ProjectorInfo> GenericStructuredLightScanner::GetSupportedProjectors() const {
  return SupportedProjectors(m_productName);
}

std::vector<std::string> GenericStructuredLightScanner::GetAvailableCameraNames() const {
  std::vector<std::string> supported, configured;
  for (const auto& info : GetSupportedCameras())
    if (!info.source.name.empty()) supported.push_back(info.source.name);
  for (std::size_t c = 0; c < GetCameraCount(); ++c) configured.push_back(GetCameraName(c));
  const auto calls = m_devices ? m_devices : vid::SystemV4l2Calls();
  std::vector<std::string> available;
  for (const auto& device : vid::EnumerateVideoInputDevices(*calls)) {
    const bool known = std::any_of(supported.begin(), supported.end(), [&](const std::string& s) {
      return device.name.find(s) != std::string::npos;
    });
    const bool taken =
        std::find(configured.begin(), configured.end(), device.name) != configured.end();
    const bool listed =
        std::find(available.begin(), available.end(), device.name) != available.end();
    if (known && !taken && !listed) available.push_back(device.name);
  }
  return available;
}

bool GenericStructuredLightScanner::FindDescriptor(const std::string& deviceName,
                                                   vid::CameraInfo& info) const {
  for (const auto& candidate : GetSupportedCameras()) {
    if (!Matches(candidate, deviceName)) continue;
    if (candidate.allowedFormats.empty()) return false;
    info = candidate;
    return true;
  }
  return false;
}

std::shared_ptr<vid::GrabberDirectShow> GenericStructuredLightScanner::MakeGrabber(
    const std::string& cameraName) const {
  vid::GrabberDirectShow::Options options;
  options.v4l2 = m_devices;
  options.consoleInfo = false;  // the connect ladder's lines are the console's
  const std::string log = GetLogFilePath(cameraName + ".txt");
  return std::make_shared<vid::GrabberDirectShow>(log, options);
}

bool GenericStructuredLightScanner::CreateImageCapture(std::size_t cameraIndex) {
  return CreateCapture(cameraIndex, "GenericStructuredLightScanner",
                       [this](const std::string& name) { return MakeGrabber(name); });
}

bool GenericStructuredLightScanner::CreateCapture(
    std::size_t cameraIndex, const char* className,
    const std::function<std::shared_ptr<vid::GrabberDirectShow>(const std::string&)>& makeGrabber) {
  if (cameraIndex >= GetCameraCount())
    throw std::invalid_argument(std::string(className) +
                                "::CreateImageCapture - Invalid camera index.");
  const std::string name = GetCameraName(cameraIndex);
  vid::CameraInfo info;
  if (!FindDescriptor(name, info)) return false;
  info.source = {vid::SourceType::Live, name};
  const auto grabber = makeGrabber(name);
  if (!grabber || !grabber->Init()) return false;
  if (OpenGrabberConfiguration(*grabber, info, GetFrameRateLimit()) != vid::GrabberDirectShow::kOk)
    return false;
  if (!grabber->Run()) return false;
  SetImageCapture(grabber, cameraIndex);
  return true;
}

std::int32_t GenericStructuredLightScanner::OpenGrabberConfiguration(
    vid::GrabberDirectShow& grabber, vid::CameraInfo info, double frameRateLimit) {
  if (info.allowedFormats.empty())
    throw std::logic_error("OpenGrabberConfiguration - cameraInfo does not contain any format.");
  Say("Trying to connect forcing that format...");
  std::int32_t result = grabber.Open(info, true);
  if (result != vid::GrabberDirectShow::kOk) {
    Say("Trying to connect without forcing...");
    result = grabber.Open(info, false);
    vid::Format& first = info.allowedFormats.front();
    auto retry = [&](const char* line, auto change) {
      if (result == vid::GrabberDirectShow::kOk) return;
      Say(line);
      change(first);
      result = grabber.Open(info, false);
    };
    if (first.mediaSubtype != vid::subtype::RGB24)
      retry("Trying to connect with color format RGB24...",
            [](vid::Format& f) { f.mediaSubtype = vid::subtype::RGB24; });
    if (!first.mediaSubtype.IsNull())
      retry("Trying to connect with any color format...",
            [](vid::Format& f) { f.mediaSubtype = utils::Guid(); });
    if (first.fps != 0.0)
      retry("Trying to connect with any fps...", [](vid::Format& f) { f.fps = 0.0; });
    if (first.width != 0 || first.height != 0)
      retry("Trying to connect with any resolution...",
            [](vid::Format& f) { f.width = f.height = 0; });
  }
  if (result == vid::GrabberDirectShow::kOk && frameRateLimit > 0.0 &&
      grabber.GetFormat().fps > frameRateLimit && !HoldRate(grabber, frameRateLimit))
    Say("Warning - Could not set framerate limit");
  Say(result == vid::GrabberDirectShow::kOk ? "Connected." : "Could not connect!");
  return result;
}

void GenericStructuredLightScanner::SetFrameRateLimit(double fps) {
  scan::StructuredLightScanner::SetFrameRateLimit(fps);
  for (std::size_t c = 0; c < GetCameraCount(); ++c) {
    auto grabber = std::dynamic_pointer_cast<vid::GrabberDirectShow>(GetImageCapture(c));
    if (!grabber) continue;
    if (!HoldRate(*grabber, GetFrameRateLimit()))
      std::cout << "Warning - Could not set framerate limit for camera " << GetCameraName(c)
                << '\n';
  }
}

}  // namespace sls
