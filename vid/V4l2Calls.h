#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vid {

// The calls the live camera back-end makes on video device nodes, so that a
// test can replay a device ioctl by ioctl. Requests and argument structures
// are those of <linux/videodev2.h>. Failing calls return -1 (Mmap: nullptr)
// and set errno, as the system calls do.
class V4l2Calls {
 public:
  virtual ~V4l2Calls() = default;

  // The video device nodes present now ("/dev/video0" ...), in node order.
  virtual std::vector<std::string> ListDeviceNodes() = 0;
  // A file descriptor opened for reading and writing, non-blocking.
  virtual int Open(const std::string& path) = 0;
  virtual int Close(int fd) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual void* Mmap(std::size_t length, int fd, std::int64_t offset) = 0;
  virtual int Munmap(void* address, std::size_t length) = 0;
  // Waits at most timeoutMs for a frame: 1 when one is ready, 0 on time-out,
  // -1 with errno set on failure (ENODEV when the device has gone).
  virtual int Poll(int fd, int timeoutMs) = 0;
};

// The machine's devices: nodes listed by libudev, calls through libv4l2.
std::shared_ptr<V4l2Calls> SystemV4l2Calls();

}  // namespace vid
