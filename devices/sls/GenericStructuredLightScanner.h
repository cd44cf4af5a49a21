#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/StructuredLightScanner.h"
#include "vid/GrabberDirectShow.h"
#include "vid/V4l2Calls.h"

namespace sls {

// The scanner of the camera-plus-projector kits, selected by product name
// (see ProductTables.h): which cameras and projectors the product
// supports, and how a camera is opened so that it delivers a format the
// product needs (the connect ladder of OpenGrabberConfiguration).
// Construction never touches devices; device problems show as false
// results, the ladder's lines on standard output and the grabber's log
// ("<log directory>/<camera name>.txt").
//
// Threads: as the base scanner (user-interface thread).
class GenericStructuredLightScanner : public scan::StructuredLightScanner {
 public:
  // devices: the video-device calls of the cameras (null: the machine's).
  GenericStructuredLightScanner(std::string productName, const InitParams& params,
                                std::shared_ptr<vid::V4l2Calls> devices = nullptr);

  std::vector<vid::CameraInfo> GetSupportedCameras() const override;
  std::vector<vid::ProjectorInfo> GetSupportedProjectors() const override;
  // The devices present whose name contains a supported camera's name and
  // that are not configured already.
  std::vector<std::string> GetAvailableCameraNames() const override;
  // Throws std::invalid_argument for an index out of range.
  bool CreateImageCapture(std::size_t cameraIndex) override;
  // The base limit, then every grabber's current format at that rate.
  void SetFrameRateLimit(double fps) override;

  // Opens the grabber with the descriptor, falling back step by step to
  // less demanding formats (unforced, RGB24, any subtype, any rate, any
  // size), then holds the rate at frameRateLimit (> 0). 0 when connected.
  // Throws std::logic_error when the descriptor has no format.
  static std::int32_t OpenGrabberConfiguration(vid::GrabberDirectShow& grabber,
                                               vid::CameraInfo info, double frameRateLimit);

  const std::string& GetProductName() const { return m_productName; }
  void SetProductName(std::string name) { m_productName = std::move(name); }

 protected:
  // The first descriptor that matches the device name; false when none
  // does or it has no format.
  bool FindDescriptor(const std::string& deviceName, vid::CameraInfo& info) const;
  // The index check and the ladder with a grabber made by makeGrabber;
  // className prefixes the invalid-index message.
  bool CreateCapture(
      std::size_t cameraIndex, const char* className,
      const std::function<std::shared_ptr<vid::GrabberDirectShow>(const std::string&)>&
          makeGrabber);
  std::shared_ptr<vid::GrabberDirectShow> MakeGrabber(const std::string& cameraName) const;
  const std::shared_ptr<vid::V4l2Calls>& GetDevices() const { return m_devices; }

 private:
  std::string m_productName;
  std::shared_ptr<vid::V4l2Calls> m_devices;
};

}  // namespace sls
