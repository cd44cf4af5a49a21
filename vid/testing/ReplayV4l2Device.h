#pragma once

// Replayed V4L2 cameras for tests and benchmarks: a V4l2Calls that answers
// the ioctls a driver answers, from a device description, and streams frames
// into memory-mapped buffers.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "vid/V4l2Calls.h"

namespace vid::testing {

struct ReplayInterval {
  std::uint32_t numerator = 1;
  std::uint32_t denominator = 30;  // frames per second = denominator / numerator
};

struct ReplayFrameSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<ReplayInterval> intervals;
};

struct ReplayFormat {
  std::uint32_t fourcc = 0;
  std::string description;
  bool compressed = false;
  std::vector<ReplayFrameSize> sizes;  // discrete sizes, in the device's order
};

struct ReplayControl {
  std::uint32_t id = 0;
  std::string name;
  std::uint32_t type = 1;  // V4L2_CTRL_TYPE_INTEGER
  std::int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  std::uint32_t flags = 0;
  std::vector<std::string> menu;  // menu item names by index ("" = no item)
  std::int32_t value = 0;
};

// A device as its descriptors and controls list it.
struct ReplayDescriptor {
  std::string card;
  std::string driver = "uvcvideo";
  std::string busInfo;
  std::vector<ReplayFormat> formats;
  std::vector<ReplayControl> controls;
  std::uint32_t linePadding = 0;  // bytes added to each row of uncompressed formats
  // When set, every frame of an uncompressed format is drawn by this into
  // bytes (bytesPerLine × height, zeroed) when it is produced, instead of the
  // replay scene; called under the bus's lock.
  std::function<void(std::uint32_t fourcc, std::uint32_t width, std::uint32_t height,
                     std::uint32_t bytesPerLine, std::uint64_t frame,
                     std::vector<std::uint8_t>& bytes)>
      render;
};

// A common 1080p UVC webcam: YUYV at 19 sizes from 640 × 480 (30 fps) to
// 2304 × 1536 (2 fps), MJPG at 17 sizes up to 1920 × 1080 at 30 fps; the
// UVC processing-unit and camera-terminal controls with auto white balance,
// exposure auto (manual and aperture priority), focus auto.
ReplayDescriptor UvcWebcam1080p();
// A monochrome USB3 industrial camera: GREY 1920 × 1200 at 60, 50, 30, 25
// and 15 fps, 1280 × 960 at 60 and 25, 744 × 480 at 60; Y16 (which the
// sampler cannot take); gain, gamma, brightness, exposure without auto mode,
// and the driver's own "Trigger Mode", "Software Trigger", "Trigger Delay (us)".
ReplayDescriptor MonoIndustrialCamera();

// The scene every replayed camera sees: smooth gradients in blue, green and
// red with a bright square that moves with the frame number (BGR bytes).
img::UniImage<img::RGB8> ReplayScene(std::uint32_t width, std::uint32_t height,
                                     std::uint64_t frame);
// Its grey value at a pixel (what GREY frames carry and YUYV frames carry as Y).
std::uint8_t ReplayGrey(const img::RGB8& c);
// A baseline JPEG of a BGR image (4:2:2 like webcams send).
std::vector<std::uint8_t> EncodeJpeg(const img::UniImage<img::RGB8>& image, int quality = 90);

// Faults a device can show.
struct ReplayFaults {
  bool realTime = true;                 // frames at the interval's pace; else as fast as asked
  bool stall = false;                   // never delivers a frame
  std::int64_t unplugAfterFrames = -1;  // the device goes away after this many frames
  std::int64_t corruptJpegFrame = -1;   // this frame's JPEG is cut short (as a USB error does)
  std::int64_t shortFrame = -1;         // this frame's bytesused is half the image
  std::int64_t damagedFrame = -1;       // this frame carries V4L2_BUF_FLAG_ERROR
  std::uint32_t dropEvery = 0;          // every n-th frame number is skipped (lost by the device)
  bool refuseSetFormat = false;         // VIDIOC_S_FMT fails with EBUSY
  std::set<std::uint32_t> refusedControls{};  // VIDIOC_S_CTRL fails with EIO
};

// What a test can read back of a device.
struct ReplayDeviceState {
  std::uint32_t fourcc = 0, width = 0, height = 0;
  ReplayInterval interval;
  bool streaming = false;
  bool open = false;
  std::uint64_t framesProduced = 0;
  std::uint64_t softwareTriggers = 0;
  std::map<std::uint32_t, std::int32_t> controls;
};

// A set of replayed devices at node paths ("/dev/video0" ...). Thread-safe.
class ReplayV4l2Bus : public V4l2Calls {
 public:
  ReplayV4l2Bus();
  ~ReplayV4l2Bus() override;

  void Plug(const std::string& node, const ReplayDescriptor& descriptor,
            const ReplayFaults& faults = {});
  // The device goes away: listed no more, its calls fail with ENODEV.
  void Unplug(const std::string& node);
  ReplayDeviceState GetState(const std::string& node) const;
  // The ioctl requests made so far, in order (all devices).
  std::vector<unsigned long> GetRequests() const;

  std::vector<std::string> ListDeviceNodes() override;
  int Open(const std::string& path) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  void* Mmap(std::size_t length, int fd, std::int64_t offset) override;
  int Munmap(void* address, std::size_t length) override;
  int Poll(int fd, int timeoutMs) override;

 private:
  struct Device;
  Device* DeviceOf(int fd);
  int HandleIoctl(Device& device, unsigned long request, void* argument);
  bool Produce(Device& device);

  mutable std::mutex m_mutex;
  std::map<std::string, std::unique_ptr<Device>> m_devices;
  std::map<int, std::string> m_fds;
  int m_nextFd = 100;
  std::vector<unsigned long> m_requests;
};

}  // namespace vid::testing
