#include "vid/testing/ReplayV4l2Device.h"

#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <thread>

#include "vid/MediaType.h"

namespace vid::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<ReplayInterval> Rates(std::initializer_list<double> fps) {
  std::vector<ReplayInterval> intervals;
  for (double f : fps) {
    if (f == 7.5) {
      intervals.push_back({2, 15});
    } else {
      intervals.push_back({1, static_cast<std::uint32_t>(f)});
    }
  }
  return intervals;
}

ReplayControl Integer(std::uint32_t id, const char* name, int min, int max, int step, int def,
                      std::uint32_t flags = 0) {
  ReplayControl c;
  c.id = id;
  c.name = name;
  c.type = V4L2_CTRL_TYPE_INTEGER;
  c.minimum = min, c.maximum = max, c.step = step, c.defaultValue = def, c.value = def;
  c.flags = flags;
  return c;
}

ReplayControl Boolean(std::uint32_t id, const char* name, int def) {
  ReplayControl c = Integer(id, name, 0, 1, 1, def);
  c.type = V4L2_CTRL_TYPE_BOOLEAN;
  return c;
}

void Copy(__u8* out, std::size_t size, const std::string& text) {
  std::memset(out, 0, size);
  std::memcpy(out, text.data(), std::min(size - 1, text.size()));
}

}  // namespace

ReplayDescriptor UvcWebcam1080p() {
  ReplayDescriptor d;
  d.card = "HD Pro Webcam C920";
  d.busInfo = "usb-0000:00:14.0-2";
  const auto all = Rates({30, 24, 20, 15, 10, 7.5, 5});
  ReplayFormat yuyv{fourcc::YUYV, "YUYV 4:2:2", false, {}};
  const std::pair<std::uint32_t, std::uint32_t> small[] = {
      {640, 480}, {160, 90},  {160, 120}, {176, 144}, {320, 180},
      {320, 240}, {352, 288}, {432, 240}, {640, 360}, {800, 448}};
  for (auto [w, h] : small) yuyv.sizes.push_back({w, h, all});
  yuyv.sizes.push_back({800, 600, Rates({24, 20, 15, 10, 7.5, 5})});
  yuyv.sizes.push_back({864, 480, Rates({24, 20, 15, 10, 7.5, 5})});
  yuyv.sizes.push_back({960, 720, Rates({15, 10, 7.5, 5})});
  yuyv.sizes.push_back({1024, 576, Rates({15, 10, 7.5, 5})});
  yuyv.sizes.push_back({1280, 720, Rates({10, 7.5, 5})});
  yuyv.sizes.push_back({1600, 896, Rates({7.5, 5})});
  yuyv.sizes.push_back({1920, 1080, Rates({5})});
  yuyv.sizes.push_back({2304, 1296, Rates({2})});
  yuyv.sizes.push_back({2304, 1536, Rates({2})});
  ReplayFormat mjpg{fourcc::MJPG, "Motion-JPEG", true, {}};
  const std::pair<std::uint32_t, std::uint32_t> jpegSizes[] = {
      {640, 480}, {160, 90},   {160, 120},  {176, 144},  {320, 180},  {320, 240},
      {352, 288}, {432, 240},  {640, 360},  {800, 448},  {800, 600},  {864, 480},
      {960, 720}, {1024, 576}, {1280, 720}, {1600, 896}, {1920, 1080}};
  for (auto [w, h] : jpegSizes) mjpg.sizes.push_back({w, h, all});
  d.formats = {yuyv, mjpg};

  ReplayControl exposureAuto = Integer(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure", 0, 3, 1, 3);
  exposureAuto.type = V4L2_CTRL_TYPE_MENU;
  exposureAuto.menu = {"", "Manual Mode", "", "Aperture Priority Mode"};
  d.controls = {
      Integer(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128),
      Integer(V4L2_CID_CONTRAST, "Contrast", 0, 255, 1, 128),
      Integer(V4L2_CID_SATURATION, "Saturation", 0, 255, 1, 128),
      Boolean(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance Temperature, Auto", 1),
      Integer(V4L2_CID_GAIN, "Gain", 0, 255, 1, 0),
      Integer(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2000, 6500, 1, 4000,
              V4L2_CTRL_FLAG_INACTIVE),
      Integer(V4L2_CID_SHARPNESS, "Sharpness", 0, 255, 1, 128),
      Integer(V4L2_CID_BACKLIGHT_COMPENSATION, "Backlight Compensation", 0, 1, 1, 0),
      exposureAuto,
      Integer(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure (Absolute)", 3, 2047, 1, 250,
              V4L2_CTRL_FLAG_INACTIVE),
      Boolean(V4L2_CID_EXPOSURE_AUTO_PRIORITY, "Exposure, Auto Priority", 0),
      Integer(V4L2_CID_PAN_ABSOLUTE, "Pan (Absolute)", -36000, 36000, 3600, 0),
      Integer(V4L2_CID_TILT_ABSOLUTE, "Tilt (Absolute)", -36000, 36000, 3600, 0),
      Integer(V4L2_CID_FOCUS_ABSOLUTE, "Focus (absolute)", 0, 250, 5, 0, V4L2_CTRL_FLAG_INACTIVE),
      Boolean(V4L2_CID_FOCUS_AUTO, "Focus, Auto", 1),
      Integer(V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 100, 500, 1, 100),
  };
  return d;
}

ReplayDescriptor MonoIndustrialCamera() {
  ReplayDescriptor d;
  d.card = "Mono USB3 Camera 1920x1200";
  d.busInfo = "usb-0000:00:14.0-4";
  ReplayFormat grey{fourcc::GREY, "8-bit Greyscale", false, {}};
  grey.sizes.push_back({1920, 1200, Rates({60, 50, 30, 25, 15})});
  grey.sizes.push_back({1280, 960, Rates({60, 25})});
  grey.sizes.push_back({744, 480, Rates({60})});
  ReplayFormat y16{MakeFourcc('Y', '1', '6', ' '), "16-bit Greyscale", false, {}};
  y16.sizes.push_back({1920, 1200, Rates({30})});
  d.formats = {grey, y16};
  constexpr std::uint32_t kPrivate = V4L2_CID_USER_BASE | 0x1000;
  ReplayControl trigger = Boolean(kPrivate + 1, "Trigger Mode", 0);
  ReplayControl software = Integer(kPrivate + 2, "Software Trigger", 0, 0, 0, 0);
  software.type = V4L2_CTRL_TYPE_BUTTON;
  d.controls = {
      Integer(V4L2_CID_BRIGHTNESS, "Brightness", 0, 4095, 1, 240),
      Integer(V4L2_CID_GAIN, "Gain", 0, 480, 1, 0),
      Integer(V4L2_CID_GAMMA, "Gamma", 1, 500, 1, 100),
      Integer(V4L2_CID_EXPOSURE_ABSOLUTE, "Exposure (Absolute)", 1, 300000, 1, 333),
      trigger,
      software,
      Integer(kPrivate + 3, "Trigger Delay (us)", 0, 1000000, 1, 0),
  };
  d.driver = "usb3cam";
  return d;
}

std::uint8_t ReplayGrey(const img::RGB8& c) {
  return static_cast<std::uint8_t>((77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8);
}

img::UniImage<img::RGB8> ReplayScene(std::uint32_t width, std::uint32_t height,
                                     std::uint64_t frame) {
  img::UniImage<img::RGB8> image(width, height);
  const std::uint32_t side = std::max<std::uint32_t>(4, std::min(width, height) / 8);
  const std::uint32_t x0 = std::uint32_t((frame * 7) % std::max<std::uint32_t>(1, width - side));
  const std::uint32_t y0 = height / 3;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const bool square = x >= x0 && x < x0 + side && y >= y0 && y < y0 + side;
      image(x, y) = square
                        ? img::RGB8::FromRGB(250, 250, 240)
                        : img::RGB8::FromRGB(std::uint8_t(40 + 160 * x / width),
                                             std::uint8_t(30 + 180 * y / height),
                                             std::uint8_t(60 + 120 * (x + y) / (width + height)));
    }
  }
  return image;
}

std::vector<std::uint8_t> EncodeJpeg(const img::UniImage<img::RGB8>& image, int quality) {
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(handle, reinterpret_cast<const unsigned char*>(image.data), int(image.width), 0,
              int(image.height), TJPF_BGR, &jpeg, &size, TJSAMP_422, quality, 0);
  std::vector<std::uint8_t> bytes(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  return bytes;
}

struct ReplayV4l2Bus::Device {
  ReplayDescriptor descriptor;
  std::vector<std::uint8_t> rendered;  // the last frame drawn by descriptor.render
  ReplayFaults faults;
  bool plugged = true;
  int openCount = 0;
  std::uint32_t fourcc = 0, width = 0, height = 0, bytesPerLine = 0, sizeImage = 0;
  ReplayInterval interval;
  struct Buffer {
    std::vector<std::uint8_t> bytes;
    std::uint32_t used = 0, sequence = 0, flags = 0;
    timeval timestamp{};
    const std::vector<std::uint8_t>* content = nullptr;  // the cached frame the bytes hold
  };
  std::vector<Buffer> buffers;
  std::deque<std::uint32_t> queued, done;
  bool streaming = false;
  Clock::time_point nextDue;
  std::uint64_t produced = 0;
  std::uint32_t sequence = 0;
  std::uint64_t triggers = 0, pendingTriggers = 0;
  std::map<std::pair<std::uint32_t, std::uint64_t>, std::vector<std::uint8_t>> frameCache;

  const ReplayFormat* Format(std::uint32_t code) const {
    for (const auto& f : descriptor.formats)
      if (f.fourcc == code) return &f;
    return nullptr;
  }
  const ReplayFrameSize* Size(std::uint32_t code, std::uint32_t w, std::uint32_t h) const {
    if (const ReplayFormat* f = Format(code))
      for (const auto& s : f->sizes)
        if (s.width == w && s.height == h) return &s;
    return nullptr;
  }
  ReplayControl* Control(std::uint32_t id) {
    for (auto& c : descriptor.controls)
      if (c.id == id) return &c;
    return nullptr;
  }
  bool Triggered() {
    for (auto& c : descriptor.controls)
      if (c.name == "Trigger Mode") return c.value != 0;
    return false;
  }
  double Fps() const {
    return interval.numerator ? double(interval.denominator) / interval.numerator : 30.0;
  }

  void Select(std::uint32_t code, std::uint32_t w, std::uint32_t h) {
    const ReplayFormat* f = Format(code);
    if (!f) f = &descriptor.formats.front();
    const ReplayFrameSize* best = &f->sizes.front();
    for (const auto& s : f->sizes)
      if (std::llabs(std::int64_t(s.width) * s.height - std::int64_t(w) * h) <
          std::llabs(std::int64_t(best->width) * best->height - std::int64_t(w) * h))
        best = &s;
    fourcc = f->fourcc;
    width = best->width;
    height = best->height;
    const int bpp = BitsPerPixel(SubtypeOfFourcc(fourcc));
    bytesPerLine =
        f->compressed ? 0 : width * std::uint32_t(bpp ? bpp : 16) / 8 + descriptor.linePadding;
    sizeImage = f->compressed ? width * height * 2 : bytesPerLine * height;
    interval = best->intervals.front();
    frameCache.clear();
    for (auto& b : buffers) b.content = nullptr;
  }

  const std::vector<std::uint8_t>& Frame(std::uint64_t n) {
    if (descriptor.render) {
      rendered.assign(std::size_t(bytesPerLine) * height, 0);
      descriptor.render(fourcc, width, height, bytesPerLine, n, rendered);
      return rendered;
    }
    const std::uint64_t key = n % 4;  // four distinct frames, made once
    auto it = frameCache.find({fourcc, key});
    if (it != frameCache.end()) return it->second;
    const auto scene = ReplayScene(width, height, key);
    std::vector<std::uint8_t> bytes;
    if (fourcc == fourcc::MJPG || fourcc == fourcc::JPEG) {
      bytes = EncodeJpeg(scene);
    } else {
      bytes.assign(std::size_t(bytesPerLine) * height, 0);
      for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = &bytes[std::size_t(y) * bytesPerLine];
        for (std::uint32_t x = 0; x < width; ++x) {
          const std::uint8_t g = ReplayGrey(scene(x, y));
          if (fourcc == fourcc::YUYV) {
            row[2 * x] = g;
            row[2 * x + 1] = x % 2 == 0 ? 118 : 138;  // U, V: a faint tint
          } else if (fourcc == fourcc::GREY) {
            row[x] = g;
          } else if (fourcc == fourcc::BGR24 || fourcc == fourcc::RGB24) {
            const img::RGB8& c = scene(x, y);
            const bool bgr = fourcc == fourcc::BGR24;
            row[3 * x] = bgr ? c.b : c.r, row[3 * x + 1] = c.g, row[3 * x + 2] = bgr ? c.r : c.b;
          } else if (fourcc == fourcc::UYVY) {
            row[2 * x] = x % 2 == 0 ? 118 : 138;
            row[2 * x + 1] = g;
          } else if (fourcc == fourcc::RGGB) {
            const img::RGB8& c = scene(x, y);  // R G / G B
            row[x] = y % 2 == 0 ? (x % 2 == 0 ? c.r : c.g) : (x % 2 == 0 ? c.g : c.b);
          } else {
            row[2 * x] = 0, row[2 * x + 1] = g;  // Y16: high byte
          }
        }
      }
    }
    return frameCache.emplace(std::make_pair(fourcc, key), std::move(bytes)).first->second;
  }
};

ReplayV4l2Bus::ReplayV4l2Bus() = default;
ReplayV4l2Bus::~ReplayV4l2Bus() = default;

void ReplayV4l2Bus::Plug(const std::string& node, const ReplayDescriptor& descriptor,
                         const ReplayFaults& faults) {
  std::lock_guard lock(m_mutex);
  auto device = std::make_unique<Device>();
  device->descriptor = descriptor;
  device->faults = faults;
  const ReplayFormat& first = descriptor.formats.front();
  device->Select(first.fourcc, first.sizes.front().width, first.sizes.front().height);
  m_devices[node] = std::move(device);
}

void ReplayV4l2Bus::Unplug(const std::string& node) {
  std::lock_guard lock(m_mutex);
  auto it = m_devices.find(node);
  if (it != m_devices.end()) it->second->plugged = false;
}

ReplayDeviceState ReplayV4l2Bus::GetState(const std::string& node) const {
  std::lock_guard lock(m_mutex);
  ReplayDeviceState state;
  auto it = m_devices.find(node);
  if (it == m_devices.end()) return state;
  const Device& d = *it->second;
  state.fourcc = d.fourcc, state.width = d.width, state.height = d.height;
  state.interval = d.interval;
  state.streaming = d.streaming;
  state.open = d.openCount > 0;
  state.framesProduced = d.produced;
  state.softwareTriggers = d.triggers;
  for (const auto& c : d.descriptor.controls) state.controls[c.id] = c.value;
  return state;
}

std::vector<unsigned long> ReplayV4l2Bus::GetRequests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

std::vector<std::string> ReplayV4l2Bus::ListDeviceNodes() {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> nodes;
  for (const auto& [node, device] : m_devices)
    if (device->plugged) nodes.push_back(node);
  return nodes;
}

ReplayV4l2Bus::Device* ReplayV4l2Bus::DeviceOf(int fd) {
  auto it = m_fds.find(fd);
  if (it == m_fds.end()) {
    errno = EBADF;
    return nullptr;
  }
  Device* device = m_devices.at(it->second).get();
  if (!device->plugged) {
    errno = ENODEV;
    return nullptr;
  }
  return device;
}

int ReplayV4l2Bus::Open(const std::string& path) {
  std::lock_guard lock(m_mutex);
  auto it = m_devices.find(path);
  if (it == m_devices.end() || !it->second->plugged) {
    errno = ENOENT;
    return -1;
  }
  ++it->second->openCount;
  m_fds[m_nextFd] = path;
  return m_nextFd++;
}

int ReplayV4l2Bus::Close(int fd) {
  std::lock_guard lock(m_mutex);
  auto it = m_fds.find(fd);
  if (it == m_fds.end()) {
    errno = EBADF;
    return -1;
  }
  Device& device = *m_devices.at(it->second);
  if (--device.openCount == 0) {
    device.streaming = false;
    device.buffers.clear();
    device.queued.clear();
    device.done.clear();
  }
  m_fds.erase(it);
  return 0;
}

int ReplayV4l2Bus::Ioctl(int fd, unsigned long request, void* argument) {
  std::lock_guard lock(m_mutex);
  m_requests.push_back(request);
  Device* device = DeviceOf(fd);
  if (!device) return -1;
  const int result = HandleIoctl(*device, request, argument);
  if (result != 0) {
    errno = result;
    return -1;
  }
  return 0;
}

int ReplayV4l2Bus::HandleIoctl(Device& d, unsigned long request, void* argument) {
  switch (request) {
    case VIDIOC_QUERYCAP: {
      auto* caps = static_cast<v4l2_capability*>(argument);
      *caps = v4l2_capability{};
      Copy(caps->driver, sizeof(caps->driver), d.descriptor.driver);
      Copy(caps->card, sizeof(caps->card), d.descriptor.card);
      Copy(caps->bus_info, sizeof(caps->bus_info), d.descriptor.busInfo);
      caps->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
      caps->capabilities = caps->device_caps | V4L2_CAP_DEVICE_CAPS;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* desc = static_cast<v4l2_fmtdesc*>(argument);
      if (desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc->index >= d.descriptor.formats.size())
        return EINVAL;
      const ReplayFormat& f = d.descriptor.formats[desc->index];
      desc->pixelformat = f.fourcc;
      desc->flags = f.compressed ? V4L2_FMT_FLAG_COMPRESSED : 0;
      Copy(desc->description, sizeof(desc->description), f.description);
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto* size = static_cast<v4l2_frmsizeenum*>(argument);
      const ReplayFormat* f = d.Format(size->pixel_format);
      if (!f || size->index >= f->sizes.size()) return EINVAL;
      size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
      size->discrete = {f->sizes[size->index].width, f->sizes[size->index].height};
      return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto* interval = static_cast<v4l2_frmivalenum*>(argument);
      const ReplayFrameSize* s = d.Size(interval->pixel_format, interval->width, interval->height);
      if (!s || interval->index >= s->intervals.size()) return EINVAL;
      interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
      interval->discrete = {s->intervals[interval->index].numerator,
                            s->intervals[interval->index].denominator};
      return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: {
      auto* format = static_cast<v4l2_format*>(argument);
      if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      if (request == VIDIOC_S_FMT) {
        if (d.streaming || d.faults.refuseSetFormat) return EBUSY;
        d.Select(format->fmt.pix.pixelformat, format->fmt.pix.width, format->fmt.pix.height);
      }
      format->fmt.pix.pixelformat = d.fourcc;
      format->fmt.pix.width = d.width;
      format->fmt.pix.height = d.height;
      format->fmt.pix.bytesperline = d.bytesPerLine;
      format->fmt.pix.sizeimage = d.sizeImage;
      format->fmt.pix.field = V4L2_FIELD_NONE;
      return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
      auto* parm = static_cast<v4l2_streamparm*>(argument);
      if (parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return EINVAL;
      if (request == VIDIOC_S_PARM) {
        if (d.streaming) return EBUSY;
        const v4l2_fract want = parm->parm.capture.timeperframe;
        const double fps = want.numerator ? double(want.denominator) / want.numerator : 0.0;
        const ReplayFrameSize* s = d.Size(d.fourcc, d.width, d.height);
        ReplayInterval best = s->intervals.front();
        for (const auto& i : s->intervals)
          if (std::fabs(double(i.denominator) / i.numerator - fps) <
              std::fabs(double(best.denominator) / best.numerator - fps))
            best = i;
        d.interval = best;
      }
      parm->parm.capture = v4l2_captureparm{};
      parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
      parm->parm.capture.timeperframe = {d.interval.numerator, d.interval.denominator};
      return 0;
    }
    case VIDIOC_QUERYCTRL: {
      auto* q = static_cast<v4l2_queryctrl*>(argument);
      const ReplayControl* found = nullptr;
      if (q->id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        const std::uint32_t after =
            q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        for (const auto& c : d.descriptor.controls)
          if (c.id > after && (!found || c.id < found->id)) found = &c;
      } else {
        found = d.Control(q->id);
      }
      if (!found) return EINVAL;
      *q = v4l2_queryctrl{};
      q->id = found->id;
      q->type = found->type;
      Copy(q->name, sizeof(q->name), found->name);
      q->minimum = found->minimum, q->maximum = found->maximum, q->step = found->step;
      q->default_value = found->defaultValue;
      q->flags = found->flags;
      return 0;
    }
    case VIDIOC_QUERYMENU: {
      auto* item = static_cast<v4l2_querymenu*>(argument);
      const ReplayControl* c = d.Control(item->id);
      if (!c || c->type != V4L2_CTRL_TYPE_MENU || item->index >= c->menu.size() ||
          c->menu[item->index].empty())
        return EINVAL;
      Copy(item->name, sizeof(item->name), c->menu[item->index]);
      return 0;
    }
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
      auto* control = static_cast<v4l2_control*>(argument);
      ReplayControl* c = d.Control(control->id);
      if (!c) return EINVAL;
      if (request == VIDIOC_G_CTRL) {
        control->value = c->value;
        return 0;
      }
      if (d.faults.refusedControls.count(c->id)) return EIO;
      if (c->type == V4L2_CTRL_TYPE_BUTTON) {
        ++d.triggers;
        ++d.pendingTriggers;
        return 0;
      }
      if (control->value < c->minimum || control->value > c->maximum) return ERANGE;
      c->value = control->value;
      // Automatic companions make their controls inactive, as UVC drivers do.
      auto setInactive = [&](std::uint32_t id, bool inactive) {
        if (ReplayControl* other = d.Control(id))
          other->flags = inactive ? other->flags | V4L2_CTRL_FLAG_INACTIVE
                                  : other->flags & ~V4L2_CTRL_FLAG_INACTIVE;
      };
      if (c->id == V4L2_CID_EXPOSURE_AUTO)
        setInactive(V4L2_CID_EXPOSURE_ABSOLUTE, c->value != V4L2_EXPOSURE_MANUAL);
      if (c->id == V4L2_CID_AUTO_WHITE_BALANCE)
        setInactive(V4L2_CID_WHITE_BALANCE_TEMPERATURE, c->value != 0);
      if (c->id == V4L2_CID_FOCUS_AUTO) setInactive(V4L2_CID_FOCUS_ABSOLUTE, c->value != 0);
      return 0;
    }
    case VIDIOC_REQBUFS: {
      auto* req = static_cast<v4l2_requestbuffers*>(argument);
      if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP)
        return EINVAL;
      if (d.streaming) return EBUSY;
      d.buffers.clear();
      d.queued.clear();
      d.done.clear();
      if (req->count == 0) return 0;
      req->count = std::clamp<std::uint32_t>(req->count, 2, 8);
      d.buffers.resize(req->count);
      for (auto& b : d.buffers) b.bytes.assign(d.sizeImage, 0), b.content = nullptr;
      return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF: {
      auto* b = static_cast<v4l2_buffer*>(argument);
      if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->index >= d.buffers.size()) return EINVAL;
      if (request == VIDIOC_QUERYBUF) {
        b->length = static_cast<std::uint32_t>(d.buffers[b->index].bytes.size());
        b->m.offset = b->index << 24;
        return 0;
      }
      if (std::find(d.queued.begin(), d.queued.end(), b->index) != d.queued.end()) return EINVAL;
      d.queued.push_back(b->index);
      return 0;
    }
    case VIDIOC_DQBUF: {
      auto* b = static_cast<v4l2_buffer*>(argument);
      if (!d.streaming) return EINVAL;
      if (d.done.empty()) return EAGAIN;
      const std::uint32_t index = d.done.front();
      d.done.pop_front();
      const Device::Buffer& buffer = d.buffers[index];
      b->index = index;
      b->bytesused = buffer.used;
      b->flags = buffer.flags;
      b->sequence = buffer.sequence;
      b->timestamp = buffer.timestamp;
      return 0;
    }
    case VIDIOC_STREAMON:
      if (d.buffers.empty()) return EINVAL;
      d.streaming = true;
      d.nextDue = Clock::now();
      return 0;
    case VIDIOC_STREAMOFF:
      d.streaming = false;
      d.queued.clear();
      d.done.clear();
      return 0;
    default:
      return ENOTTY;
  }
}

void* ReplayV4l2Bus::Mmap(std::size_t length, int fd, std::int64_t offset) {
  std::lock_guard lock(m_mutex);
  Device* device = DeviceOf(fd);
  if (!device) return nullptr;
  const std::size_t index = std::size_t(offset) >> 24;
  if (index >= device->buffers.size() || length > device->buffers[index].bytes.size()) {
    errno = EINVAL;
    return nullptr;
  }
  return device->buffers[index].bytes.data();
}

int ReplayV4l2Bus::Munmap(void*, std::size_t) { return 0; }

bool ReplayV4l2Bus::Produce(Device& d) {
  if (d.queued.empty()) return false;
  const std::uint32_t index = d.queued.front();
  d.queued.pop_front();
  Device::Buffer& buffer = d.buffers[index];
  const std::uint64_t n = d.produced++;
  const std::vector<std::uint8_t>& frame = d.Frame(n);
  std::size_t used = std::min(frame.size(), buffer.bytes.size());
  if (buffer.content != &frame || d.descriptor.render)
    std::memcpy(buffer.bytes.data(), frame.data(), used);  // unchanged bytes are not copied again
  buffer.content = &frame;
  if (std::int64_t(n) == d.faults.corruptJpegFrame)
    used = used / 3;  // cut short, as a lost USB packet run does
  if (std::int64_t(n) == d.faults.shortFrame) used /= 2;
  buffer.used = static_cast<std::uint32_t>(used);
  buffer.flags = std::int64_t(n) == d.faults.damagedFrame ? V4L2_BUF_FLAG_ERROR : 0;
  if (d.faults.dropEvery && (d.sequence + 1) % d.faults.dropEvery == 0) ++d.sequence;
  buffer.sequence = d.sequence++;
  const double seconds = double(n) / d.Fps();
  buffer.timestamp.tv_sec = static_cast<time_t>(seconds);
  buffer.timestamp.tv_usec = static_cast<suseconds_t>((seconds - std::floor(seconds)) * 1e6);
  d.done.push_back(index);
  if (d.faults.unplugAfterFrames >= 0 && std::int64_t(d.produced) >= d.faults.unplugAfterFrames)
    d.faults.unplugAfterFrames = -2;  // unplugged at the next call
  return true;
}

int ReplayV4l2Bus::Poll(int fd, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    {
      std::lock_guard lock(m_mutex);
      Device* d = DeviceOf(fd);
      if (!d) return -1;
      if (d->faults.unplugAfterFrames == -2 && d->done.empty()) {
        d->plugged = false;
        errno = ENODEV;
        return -1;
      }
      if (!d->streaming) {
        errno = EINVAL;
        return -1;
      }
      if (!d->done.empty()) return 1;
      const bool triggered = d->Triggered();
      const bool due = !d->faults.realTime || Clock::now() >= d->nextDue;
      if (d->faults.realTime && !triggered && due && d->queued.empty() && !d->faults.stall) {
        // No buffer for a frame that is due: the device loses it, as drivers do.
        ++d->sequence;
        d->nextDue += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / d->Fps()));
      }
      if (!d->faults.stall && !d->queued.empty() && (triggered ? d->pendingTriggers > 0 : due)) {
        if (triggered) --d->pendingTriggers;
        d->nextDue += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / d->Fps()));
        if (d->nextDue < Clock::now()) d->nextDue = Clock::now();
        Produce(*d);
        return 1;
      }
    }
    if (Clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace vid::testing
