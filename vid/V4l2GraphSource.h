#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vid/GraphSource.h"
#include "vid/V4l2Calls.h"
#include "vid/VideoInputDevices.h"

namespace vid {

// The live back-end of the capture graph: a V4L2 video-capture node streamed
// through memory-mapped buffers.
//
// Media types: every (pixel format, frame size, frame interval) the device
// lists, in its order; stepwise sizes and intervals give their two ends.
// Formats libv4l2 only emulates are left out.
//
// Properties map onto V4L2 controls: the image-processing names onto the
// user controls (brightness, contrast, hue, saturation, sharpness, gamma,
// white balance temperature, backlight compensation, gain), the camera names
// onto the absolute camera controls (pan, tilt, zoom, exposure, iris, focus;
// "auto_exposure" is the exposure auto priority), the flips onto HFLIP and
// VFLIP, and "trigger_enable", "delay" and the software trigger onto the
// driver's own controls whose names say "trigger mode", "trigger delay" and
// "software trigger". A property's automatic mode is the control's automatic
// companion (exposure auto, white balance auto, autogain, focus auto, hue
// auto). "exposure" is in log2 seconds (-7 is 1/128 s) like the other
// sources; the device's 100 µs units are converted.
class V4l2GraphSource : public GraphSource {
 public:
  // Opens the node and reads its formats and controls. Throws
  // CaptureDeviceNotAvailableException when it cannot be opened.
  V4l2GraphSource(std::shared_ptr<V4l2Calls> calls, const VideoInputDevice& device);
  ~V4l2GraphSource() override;

  std::string GetName() const override { return m_device.name; }
  const VideoInputDevice& GetDevice() const { return m_device; }
  std::vector<MediaType> GetMediaTypes() const override { return m_types; }
  std::vector<DeviceFormat> GetDeviceFormats() const override { return m_formats; }
  bool SetMediaType(const MediaType& type) override;
  MediaType GetMediaType() const override { return m_current; }

  bool StartStreaming() override;
  void StopStreaming() override;
  Wait WaitFrame(int timeoutMs, RawFrame& frame) override;
  void ReleaseFrame() override;

  std::vector<std::string> GetPropertyNames() const override;
  bool GetProperty(const std::string& name, Property& value, PropertyRange& range) const override;
  bool SetProperty(const std::string& name, const Property& value) override;
  bool SupportsSoftwareTrigger() const override { return m_softwareTrigger != 0; }
  bool SendSoftwareTrigger() override;

  std::string GetError() const override;

 private:
  struct Control;
  struct Buffer {
    void* address = nullptr;
    std::size_t length = 0;
  };

  void ReadMediaTypes();
  void AddSizes(std::uint32_t fourcc);
  void AddIntervals(std::uint32_t fourcc, std::uint32_t width, std::uint32_t height);
  void ReadControls();
  const Control* FindControl(const std::string& name) const;
  bool GetControl(std::uint32_t id, std::int32_t& value) const;
  bool SetControl(std::uint32_t id, std::int32_t value);
  bool Fail(const std::string& text);
  bool FailErrno(const std::string& text);
  void ReleaseBuffers();

  std::shared_ptr<V4l2Calls> m_calls;
  VideoInputDevice m_device;
  int m_fd = -1;
  std::vector<MediaType> m_types;
  std::vector<DeviceFormat> m_formats;
  MediaType m_current;
  std::size_t m_bytesPerLine = 0;
  std::vector<Control> m_controls;
  std::uint32_t m_softwareTrigger = 0;  // control id, 0 = none
  std::vector<Buffer> m_buffers;
  bool m_streaming = false;
  int m_dequeued = -1;  // index of the buffer handed out, -1 = none
  void SetError(const std::string& text) const;
  mutable std::mutex m_errorMutex;  // the streaming thread and the caller's both report
  mutable std::string m_error;
};

}  // namespace vid
