#include "vid/V4l2Calls.h"

#include <fcntl.h>
#include <libudev.h>
#include <libv4l2.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vid {
namespace {

// The number at the end of "/dev/video12".
long NodeNumber(const std::string& path) {
  const auto digits = path.find_last_not_of("0123456789");
  return digits + 1 < path.size() ? std::strtol(path.c_str() + digits + 1, nullptr, 10) : -1;
}

class SystemCalls : public V4l2Calls {
 public:
  std::vector<std::string> ListDeviceNodes() override {
    std::vector<std::string> nodes;
    udev* context = udev_new();
    if (!context) return nodes;
    udev_enumerate* list = udev_enumerate_new(context);
    if (list) {
      udev_enumerate_add_match_subsystem(list, "video4linux");
      udev_enumerate_scan_devices(list);
      udev_list_entry* entry = nullptr;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
        udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!device) continue;
        if (const char* node = udev_device_get_devnode(device)) nodes.emplace_back(node);
        udev_device_unref(device);
      }
      udev_enumerate_unref(list);
    }
    udev_unref(context);
    std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
      return NodeNumber(a) < NodeNumber(b);
    });
    return nodes;
  }

  int Open(const std::string& path) override {
    return v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  int Close(int fd) override { return v4l2_close(fd); }
  int Ioctl(int fd, unsigned long request, void* argument) override {
    int result;
    do {
      result = v4l2_ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
  }
  void* Mmap(std::size_t length, int fd, std::int64_t offset) override {
    void* address = v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    return address == MAP_FAILED ? nullptr : address;
  }
  int Munmap(void* address, std::size_t length) override { return v4l2_munmap(address, length); }
  int Poll(int fd, int timeoutMs) override {
    pollfd entry{fd, POLLIN, 0};
    int result;
    do {
      result = poll(&entry, 1, timeoutMs);
    } while (result == -1 && errno == EINTR);
    if (result <= 0) return result;
    if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      errno = ENODEV;
      return -1;
    }
    return 1;
  }
};

}  // namespace

std::shared_ptr<V4l2Calls> SystemV4l2Calls() { return std::make_shared<SystemCalls>(); }

}  // namespace vid
