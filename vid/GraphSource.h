#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vid/MediaType.h"
#include "vid/Property.h"

namespace vid {

// One frame as a source hands it to the sampler: the device's bytes, valid
// until ReleaseFrame.
struct RawFrame {
  const std::uint8_t* data = nullptr;
  std::size_t bytes = 0;
  std::size_t bytesPerLine = 0;  // of uncompressed frames; 0 = packed rows
  double timestamp = 0.0;        // seconds
  bool damaged = false;          // the device marked the frame as faulty
  std::int64_t sequence = -1;    // the device's frame number; -1 when it counts none
};

// A pixel format the device offers, as listed to the user (including those
// the sampler cannot take).
struct DeviceFormat {
  std::uint32_t fourcc = 0;
  std::string description;
  bool supported = false;
};

// The source end of a capture graph: a live device, a folder of numbered
// image files played as a video, or one still image. The grabber configures
// it on the caller's thread; the sampler's streaming thread alone calls
// WaitFrame and ReleaseFrame between StartStreaming and StopStreaming.
class GraphSource {
 public:
  enum class Wait { kFrame, kTimeout, kEnd, kLost, kError };

  virtual ~GraphSource() = default;
  GraphSource() = default;
  GraphSource(const GraphSource&) = delete;
  GraphSource& operator=(const GraphSource&) = delete;

  // The friendly name (a device's card name, a file's path).
  virtual std::string GetName() const = 0;
  virtual std::vector<MediaType> GetMediaTypes() const = 0;
  virtual std::vector<DeviceFormat> GetDeviceFormats() const { return {}; }
  // False (see GetError) when the source refuses the type.
  virtual bool SetMediaType(const MediaType& type) = 0;
  virtual MediaType GetMediaType() const = 0;

  virtual bool StartStreaming() = 0;
  virtual void StopStreaming() = 0;
  // Waits at most timeoutMs for the next frame. kEnd: a video has no more
  // frames; kLost: the device has gone; kError: see GetError.
  virtual Wait WaitFrame(int timeoutMs, RawFrame& frame) = 0;
  // Gives the frame of the last kFrame back to the source.
  virtual void ReleaseFrame() = 0;
  // True for files, whose frames the sampler holds back to the frame rate.
  virtual bool IsPaced() const { return false; }

  // The supported property names (those of Property.h) and their access.
  virtual std::vector<std::string> GetPropertyNames() const { return {}; }
  virtual bool GetProperty(const std::string& name, Property& value, PropertyRange& range) const {
    return false;
  }
  virtual bool SetProperty(const std::string& name, const Property& value) { return false; }
  virtual bool SupportsSoftwareTrigger() const { return false; }
  virtual bool SendSoftwareTrigger() { return false; }

  // Why the last failing call failed.
  virtual std::string GetError() const = 0;
};

}  // namespace vid
