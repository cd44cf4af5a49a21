#include "vid/VideoInputDevices.h"

#include <linux/videodev2.h>

#include <cstring>

namespace vid {
namespace {

std::string Text(const __u8* bytes, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes),
                     strnlen(reinterpret_cast<const char*>(bytes), size));
}

}  // namespace

std::vector<VideoInputDevice> EnumerateVideoInputDevices(V4l2Calls& calls) {
  std::vector<VideoInputDevice> devices;
  for (const std::string& path : calls.ListDeviceNodes()) {
    const int fd = calls.Open(path);
    if (fd < 0) continue;
    v4l2_capability caps{};
    if (calls.Ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
      const std::uint32_t nodeCaps =
          (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
      if ((nodeCaps & V4L2_CAP_VIDEO_CAPTURE) && (nodeCaps & V4L2_CAP_STREAMING))
        devices.push_back({path, Text(caps.card, sizeof(caps.card)),
                           Text(caps.driver, sizeof(caps.driver)),
                           Text(caps.bus_info, sizeof(caps.bus_info))});
    }
    calls.Close(fd);
  }
  return devices;
}

const VideoInputDevice* FindVideoInputDevice(const std::vector<VideoInputDevice>& devices,
                                             const std::string& name) {
  for (const auto& device : devices)
    if (device.path == name) return &device;
  for (const auto& device : devices)
    if (device.name == name) return &device;
  if (name.empty()) return nullptr;
  for (const auto& device : devices)
    if (device.name.find(name) != std::string::npos) return &device;
  return nullptr;
}

}  // namespace vid
