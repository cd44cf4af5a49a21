#include "vid/V4l2GraphSource.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "vid/ImageCapture.h"

namespace vid {
namespace {

constexpr double kExposureUnit = 100e-6;  // seconds per V4L2 absolute exposure unit
constexpr std::uint32_t kBufferCount = 4;

struct Mapping {
  const char* name;
  std::uint32_t id;
  std::uint32_t autoId;  // 0 = no automatic mode
};

constexpr Mapping kMappings[] = {
    {"brightness", V4L2_CID_BRIGHTNESS, 0},
    {"contrast", V4L2_CID_CONTRAST, 0},
    {"hue", V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
    {"saturation", V4L2_CID_SATURATION, 0},
    {"sharpness", V4L2_CID_SHARPNESS, 0},
    {"gamma", V4L2_CID_GAMMA, 0},
    {"white_balance", V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {"backlight_compensation", V4L2_CID_BACKLIGHT_COMPENSATION, 0},
    {"gain", V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
    {"pan", V4L2_CID_PAN_ABSOLUTE, 0},
    {"tilt", V4L2_CID_TILT_ABSOLUTE, 0},
    {"zoom", V4L2_CID_ZOOM_ABSOLUTE, 0},
    {"exposure", V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO},
    {"iris", V4L2_CID_IRIS_ABSOLUTE, 0},
    {"focus", V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO},
    {"auto_exposure", V4L2_CID_EXPOSURE_AUTO_PRIORITY, 0},
    {"flip_horizontal", V4L2_CID_HFLIP, 0},
    {"flip_vertical", V4L2_CID_VFLIP, 0},
};

std::string Lower(const char* text, std::size_t size) {
  std::string s(text, strnlen(text, size));
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", value);
  return text;
}

}  // namespace

struct V4l2GraphSource::Control {
  std::string name;
  std::uint32_t id = 0;
  std::int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  std::uint32_t autoId = 0;
  std::int32_t autoOn = 1, autoOff = 0;  // companion values for automatic and manual
  bool log2Seconds = false;              // "exposure": device units ↔ log2 seconds

  double ToProperty(std::int32_t v) const {
    return log2Seconds ? std::log2(std::max(v, 1) * kExposureUnit) : double(v);
  }
};

V4l2GraphSource::V4l2GraphSource(std::shared_ptr<V4l2Calls> calls, const VideoInputDevice& device)
    : m_calls(std::move(calls)), m_device(device) {
  m_fd = m_calls->Open(device.path);
  if (m_fd < 0)
    throw CaptureDeviceNotAvailableException("Could not open video device " + device.path + ": " +
                                             std::strerror(errno));
  ReadMediaTypes();
  ReadControls();
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (m_calls->Ioctl(m_fd, VIDIOC_G_FMT, &format) == 0) {
    for (const MediaType& type : m_types) {
      if (type.fourcc == format.fmt.pix.pixelformat &&
          type.format.width == std::int32_t(format.fmt.pix.width) &&
          type.format.height == std::int32_t(format.fmt.pix.height)) {
        m_current = type;
        m_bytesPerLine = format.fmt.pix.bytesperline;
        break;
      }
    }
  }
}

V4l2GraphSource::~V4l2GraphSource() {
  StopStreaming();
  if (m_fd >= 0) m_calls->Close(m_fd);
}

void V4l2GraphSource::SetError(const std::string& text) const {
  std::lock_guard lock(m_errorMutex);
  m_error = text;
}

std::string V4l2GraphSource::GetError() const {
  std::lock_guard lock(m_errorMutex);
  return m_error;
}

bool V4l2GraphSource::Fail(const std::string& text) {
  SetError(text);
  return false;
}

bool V4l2GraphSource::FailErrno(const std::string& text) {
  return Fail(text + " (" + std::strerror(errno) + ")");
}

void V4l2GraphSource::ReadMediaTypes() {
  for (std::uint32_t index = 0;; ++index) {
    v4l2_fmtdesc desc{};
    desc.index = index;
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_calls->Ioctl(m_fd, VIDIOC_ENUM_FMT, &desc) != 0) break;
    if (desc.flags & V4L2_FMT_FLAG_EMULATED) continue;
    const bool compressed = desc.pixelformat == fourcc::MJPG || desc.pixelformat == fourcc::JPEG;
    const bool supported = compressed || !SubtypeOfFourcc(desc.pixelformat).IsNull();
    m_formats.push_back({desc.pixelformat,
                         std::string(reinterpret_cast<const char*>(desc.description),
                                     strnlen(reinterpret_cast<const char*>(desc.description),
                                             sizeof(desc.description))),
                         supported});
    if (supported) AddSizes(desc.pixelformat);
  }
}

void V4l2GraphSource::AddSizes(std::uint32_t code) {
  for (std::uint32_t index = 0;; ++index) {
    v4l2_frmsizeenum size{};
    size.index = index;
    size.pixel_format = code;
    if (m_calls->Ioctl(m_fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      AddIntervals(code, size.discrete.width, size.discrete.height);
      continue;
    }
    AddIntervals(code, size.stepwise.max_width, size.stepwise.max_height);
    if (size.stepwise.min_width != size.stepwise.max_width ||
        size.stepwise.min_height != size.stepwise.max_height)
      AddIntervals(code, size.stepwise.min_width, size.stepwise.min_height);
    break;
  }
}

void V4l2GraphSource::AddIntervals(std::uint32_t code, std::uint32_t width, std::uint32_t height) {
  std::vector<double> rates;
  auto rate = [](const v4l2_fract& f) {
    return f.numerator ? double(f.denominator) / f.numerator : 0.0;
  };
  for (std::uint32_t index = 0;; ++index) {
    v4l2_frmivalenum interval{};
    interval.index = index;
    interval.pixel_format = code;
    interval.width = width;
    interval.height = height;
    if (m_calls->Ioctl(m_fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
    if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      rates.push_back(rate(interval.discrete));
      continue;
    }
    rates.push_back(rate(interval.stepwise.min));  // the shortest interval: the highest rate
    if (rate(interval.stepwise.max) != rates.back()) rates.push_back(rate(interval.stepwise.max));
    break;
  }
  if (rates.empty()) rates.push_back(0.0);  // the driver lists no intervals
  const bool compressed = code == fourcc::MJPG || code == fourcc::JPEG;
  for (double fps : rates) {
    const Format base{utils::Guid(), std::int32_t(width), std::int32_t(height), fps};
    if (compressed) {
      m_types.push_back({Format{subtype::RGB24, base.width, base.height, fps}, code});
      m_types.push_back({Format{subtype::Y800, base.width, base.height, fps}, code});
    } else {
      m_types.push_back({Format{SubtypeOfFourcc(code), base.width, base.height, fps}, code});
    }
  }
}

void V4l2GraphSource::ReadControls() {
  auto query = [&](std::uint32_t id, v4l2_queryctrl& q) {
    q = v4l2_queryctrl{};
    q.id = id;
    return m_calls->Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED);
  };
  auto add = [&](const std::string& name, const v4l2_queryctrl& q) {
    Control c;
    c.name = name;
    c.id = q.id;
    c.minimum = q.minimum;
    c.maximum = q.maximum;
    c.step = std::max(q.step, 1);
    c.defaultValue = q.default_value;
    c.log2Seconds = name == "exposure";
    m_controls.push_back(c);
    return &m_controls.back();
  };
  for (const Mapping& mapping : kMappings) {
    v4l2_queryctrl q;
    if (!query(mapping.id, q)) continue;
    Control* control = add(mapping.name, q);
    if (!mapping.autoId || !query(mapping.autoId, q)) continue;
    control->autoId = mapping.autoId;
    if (mapping.autoId != V4L2_CID_EXPOSURE_AUTO) continue;
    control->autoOff = V4L2_EXPOSURE_MANUAL;
    control->autoOn = -1;
    for (std::int32_t candidate : {V4L2_EXPOSURE_APERTURE_PRIORITY, V4L2_EXPOSURE_AUTO}) {
      v4l2_querymenu item{};
      item.id = V4L2_CID_EXPOSURE_AUTO;
      item.index = static_cast<std::uint32_t>(candidate);
      if (candidate >= q.minimum && candidate <= q.maximum &&
          m_calls->Ioctl(m_fd, VIDIOC_QUERYMENU, &item) == 0) {
        control->autoOn = candidate;
        break;
      }
    }
    if (control->autoOn < 0) control->autoId = 0;
  }
  // The driver's own trigger controls, found by name.
  v4l2_queryctrl q{};
  q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
  while (m_calls->Ioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0) {
    const std::string name = Lower(reinterpret_cast<const char*>(q.name), sizeof(q.name));
    if (!(q.flags & V4L2_CTRL_FLAG_DISABLED) && Contains(name, "trigger")) {
      if (q.type == V4L2_CTRL_TYPE_BUTTON && Contains(name, "software")) {
        m_softwareTrigger = q.id;
      } else if (Contains(name, "delay") && !FindControl("delay")) {
        add("delay", q);
      } else if ((Contains(name, "mode") || name == "trigger") && !FindControl("trigger_enable")) {
        add("trigger_enable", q);
      }
    }
    q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
  }
}

const V4l2GraphSource::Control* V4l2GraphSource::FindControl(const std::string& name) const {
  for (const Control& c : m_controls)
    if (c.name == name) return &c;
  return nullptr;
}

bool V4l2GraphSource::GetControl(std::uint32_t id, std::int32_t& value) const {
  v4l2_control control{id, 0};
  if (m_calls->Ioctl(m_fd, VIDIOC_G_CTRL, &control) != 0) {
    SetError(std::string("Could not read control (") + std::strerror(errno) + ")");
    return false;
  }
  value = control.value;
  return true;
}

bool V4l2GraphSource::SetControl(std::uint32_t id, std::int32_t value) {
  v4l2_control control{id, value};
  if (m_calls->Ioctl(m_fd, VIDIOC_S_CTRL, &control) != 0)
    return FailErrno("The device refused the value " + std::to_string(value));
  return true;
}

std::vector<std::string> V4l2GraphSource::GetPropertyNames() const {
  std::vector<std::string> names;
  for (const Control& c : m_controls) names.push_back(c.name);
  return names;
}

bool V4l2GraphSource::GetProperty(const std::string& name, Property& value,
                                  PropertyRange& range) const {
  const Control* c = FindControl(name);
  if (!c) return false;
  std::int32_t current = 0;
  if (!GetControl(c->id, current)) return false;
  std::int32_t mode = Property::kManual;
  std::int32_t companion = 0;
  if (c->autoId && GetControl(c->autoId, companion) && companion != c->autoOff)
    mode = Property::kAuto;
  value = Property(c->ToProperty(current), mode);
  if (c->log2Seconds) {
    range = PropertyRange{std::ceil(c->ToProperty(c->minimum) - 1e-9),
                          std::floor(c->ToProperty(c->maximum) + 1e-9),
                          std::round(c->ToProperty(c->defaultValue)), 1.0, true};
  } else {
    range = PropertyRange{double(c->minimum), double(c->maximum), double(c->defaultValue),
                          double(c->step), true};
  }
  return true;
}

bool V4l2GraphSource::SetProperty(const std::string& name, const Property& value) {
  const Control* c = FindControl(name);
  if (!c) return Fail("Property '" + name + "' is not supported.");
  if (!value.valid || !std::isfinite(value.value)) return Fail("Invalid value for '" + name + "'.");
  if (value.IsAuto()) {
    if (!c->autoId) return Fail("Property '" + name + "' has no automatic mode.");
    return SetControl(c->autoId, c->autoOn);
  }
  const double raw = c->log2Seconds ? std::pow(2.0, value.value) / kExposureUnit : value.value;
  if (!(raw >= c->minimum - 0.5 && raw <= c->maximum + 0.5)) {
    const double low = c->ToProperty(c->minimum);
    const double high = c->ToProperty(c->maximum);
    return Fail("Value " + Number(value.value) + " of '" + name + "' is outside [" + Number(low) +
                ", " + Number(high) + "].");
  }
  if (c->autoId && !SetControl(c->autoId, c->autoOff)) return false;
  return SetControl(c->id, std::clamp(std::int32_t(std::lround(raw)), c->minimum, c->maximum));
}

bool V4l2GraphSource::SendSoftwareTrigger() {
  if (!m_softwareTrigger) return Fail("Software trigger is not supported.");
  return SetControl(m_softwareTrigger, 1);
}

bool V4l2GraphSource::SetMediaType(const MediaType& type) {
  if (m_streaming) return Fail("Cannot change the format while streaming.");
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = static_cast<std::uint32_t>(type.format.width);
  format.fmt.pix.height = static_cast<std::uint32_t>(type.format.height);
  format.fmt.pix.pixelformat = type.fourcc;
  format.fmt.pix.field = V4L2_FIELD_NONE;
  if (m_calls->Ioctl(m_fd, VIDIOC_S_FMT, &format) != 0) return FailErrno("VIDIOC_S_FMT failed");
  if (format.fmt.pix.pixelformat != type.fourcc ||
      format.fmt.pix.width != std::uint32_t(type.format.width) ||
      format.fmt.pix.height != std::uint32_t(type.format.height))
    return Fail("The device offers " + FourccToString(format.fmt.pix.pixelformat) + " " +
                std::to_string(format.fmt.pix.width) + " x " +
                std::to_string(format.fmt.pix.height) + " instead of " + DescribeMediaType(type) +
                ".");
  m_bytesPerLine = type.IsCompressed() ? 0 : format.fmt.pix.bytesperline;
  MediaType applied = type;
  if (type.format.fps > 0.0) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {
        1000, static_cast<std::uint32_t>(std::lround(type.format.fps * 1000.0))};
    if (m_calls->Ioctl(m_fd, VIDIOC_S_PARM, &parm) != 0) return FailErrno("VIDIOC_S_PARM failed");
    const v4l2_fract& f = parm.parm.capture.timeperframe;
    if (f.numerator && std::fabs(double(f.denominator) / f.numerator - type.format.fps) >
                           0.001 * type.format.fps + 0.001)
      applied.format.fps = double(f.denominator) / f.numerator;
  }
  m_current = applied;
  return true;
}

bool V4l2GraphSource::StartStreaming() {
  if (m_streaming) return true;
  v4l2_requestbuffers request{};
  request.count = kBufferCount;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (m_calls->Ioctl(m_fd, VIDIOC_REQBUFS, &request) != 0)
    return FailErrno("VIDIOC_REQBUFS failed");
  if (request.count < 2) {
    ReleaseBuffers();
    return Fail("The device gave fewer than two buffers.");
  }
  for (std::uint32_t i = 0; i < request.count; ++i) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = i;
    if (m_calls->Ioctl(m_fd, VIDIOC_QUERYBUF, &buffer) != 0) {
      FailErrno("VIDIOC_QUERYBUF failed");
      ReleaseBuffers();
      return false;
    }
    void* address = m_calls->Mmap(buffer.length, m_fd, buffer.m.offset);
    if (!address) {
      FailErrno("Could not map a frame buffer");
      ReleaseBuffers();
      return false;
    }
    m_buffers.push_back({address, buffer.length});
    if (m_calls->Ioctl(m_fd, VIDIOC_QBUF, &buffer) != 0) {
      FailErrno("VIDIOC_QBUF failed");
      ReleaseBuffers();
      return false;
    }
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (m_calls->Ioctl(m_fd, VIDIOC_STREAMON, &type) != 0) {
    FailErrno("VIDIOC_STREAMON failed");
    ReleaseBuffers();
    return false;
  }
  m_streaming = true;
  return true;
}

void V4l2GraphSource::ReleaseBuffers() {
  for (const Buffer& b : m_buffers) m_calls->Munmap(b.address, b.length);
  m_buffers.clear();
  v4l2_requestbuffers request{};
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  m_calls->Ioctl(m_fd, VIDIOC_REQBUFS, &request);
  m_dequeued = -1;
}

void V4l2GraphSource::StopStreaming() {
  if (!m_streaming) return;
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  m_calls->Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
  ReleaseBuffers();
  m_streaming = false;
}

GraphSource::Wait V4l2GraphSource::WaitFrame(int timeoutMs, RawFrame& frame) {
  if (!m_streaming) {
    Fail("The device is not streaming.");
    return Wait::kError;
  }
  const int ready = m_calls->Poll(m_fd, timeoutMs);
  if (ready == 0) return Wait::kTimeout;
  if (ready < 0) {
    const bool lost = errno == ENODEV;
    FailErrno("Waiting for a frame failed");
    return lost ? Wait::kLost : Wait::kError;
  }
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  if (m_calls->Ioctl(m_fd, VIDIOC_DQBUF, &buffer) != 0) {
    if (errno == EAGAIN) return Wait::kTimeout;
    const bool lost = errno == ENODEV;
    FailErrno("VIDIOC_DQBUF failed");
    return lost ? Wait::kLost : Wait::kError;
  }
  if (buffer.index >= m_buffers.size()) {
    Fail("The device returned an unknown buffer.");
    return Wait::kError;
  }
  m_dequeued = static_cast<int>(buffer.index);
  frame.data = static_cast<const std::uint8_t*>(m_buffers[buffer.index].address);
  frame.bytes = std::min<std::size_t>(buffer.bytesused, m_buffers[buffer.index].length);
  frame.bytesPerLine = m_bytesPerLine;
  frame.timestamp = double(buffer.timestamp.tv_sec) + 1e-6 * double(buffer.timestamp.tv_usec);
  frame.damaged = (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0;
  frame.sequence = buffer.sequence;
  return Wait::kFrame;
}

void V4l2GraphSource::ReleaseFrame() {
  if (m_dequeued < 0) return;
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  buffer.index = static_cast<std::uint32_t>(m_dequeued);
  m_dequeued = -1;
  m_calls->Ioctl(m_fd, VIDIOC_QBUF, &buffer);  // a lost device shows at the next wait
}

}  // namespace vid
