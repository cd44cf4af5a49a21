#include "foundation/utils/UsbManager.h"

#include <libudev.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace utils {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool Matches(const std::string& description, const std::string& name) {
  if (description.empty() || name.empty()) return false;
  const std::string d = Lower(description), n = Lower(name);
  return d.find(n) != std::string::npos || n.find(d) != std::string::npos;
}

// The entries of `from` that `minus` does not account for, counted per text.
std::vector<std::string> Difference(const std::vector<std::string>& from,
                                    const std::vector<std::string>& minus) {
  std::map<std::string, int> remaining;
  for (const auto& s : minus) ++remaining[s];
  std::vector<std::string> result;
  for (const auto& s : from) {
    if (remaining[s] > 0) {
      --remaining[s];
    } else {
      result.push_back(s);
    }
  }
  return result;
}

}  // namespace

struct UsbManager::Monitor {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Monitor() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

UsbManager::UsbManager() : UsbManager(&UsbManager::ListUsbDevices) {}

UsbManager::UsbManager(DeviceLister lister) : m_lister(std::move(lister)) {}

UsbManager::~UsbManager() = default;

void UsbManager::SetActiveCameras(const std::vector<std::string>& names) {
  m_cameras = names;
  m_devices = m_lister();
}

void UsbManager::SetActiveTurntable(const std::string& name) { m_turntable = name; }

UsbManager::ChangeReport UsbManager::DeviceNodeChanged() {
  std::vector<std::string> fresh = m_lister();
  ChangeReport report;
  std::vector<std::string> changed;
  if (fresh.size() <= m_devices.size()) {
    report.kind = kRemoved;
    changed = Difference(m_devices, fresh);
  } else {
    report.kind = kAdded;
    changed = Difference(fresh, m_devices);
  }
  m_devices = std::move(fresh);
  std::vector<std::string> active = m_cameras;
  if (!m_turntable.empty()) active.push_back(m_turntable);
  for (const auto& name : active) {
    const bool hit = std::any_of(changed.begin(), changed.end(),
                                 [&](const std::string& d) { return Matches(d, name); });
    if (hit &&
        std::find(report.affected.begin(), report.affected.end(), name) == report.affected.end())
      report.affected.push_back(name);
  }
  return report;
}

bool UsbManager::WaitForDeviceEvent(double timeoutSeconds) {
  if (!m_monitor) {
    auto monitor = std::make_unique<Monitor>();
    monitor->context = udev_new();
    if (monitor->context)
      monitor->monitor = udev_monitor_new_from_netlink(monitor->context, "udev");
    if (!monitor->monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, "usb", "usb_device") <
            0 ||
        udev_monitor_enable_receiving(monitor->monitor) < 0)
      return false;
    m_monitor = std::move(monitor);
  }
  pollfd entry{udev_monitor_get_fd(m_monitor->monitor), POLLIN, 0};
  const int timeoutMs = timeoutSeconds <= 0.0 ? 0 : static_cast<int>(timeoutSeconds * 1000.0);
  if (poll(&entry, 1, timeoutMs) <= 0) return false;
  bool announced = false;
  while (udev_device* device = udev_monitor_receive_device(m_monitor->monitor)) {
    const char* action = udev_device_get_action(device);
    if (action && (std::string(action) == "add" || std::string(action) == "remove"))
      announced = true;
    udev_device_unref(device);
  }
  return announced;
}

std::vector<std::string> UsbManager::ListUsbDevices() {
  std::vector<std::string> devices;
  udev* context = udev_new();
  if (!context) return devices;
  if (udev_enumerate* list = udev_enumerate_new(context)) {
    udev_enumerate_add_match_subsystem(list, "usb");
    udev_enumerate_add_match_property(list, "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(list);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
      udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (!device) continue;
      if (const char* product = udev_device_get_sysattr_value(device, "product"))
        devices.emplace_back(product);
      udev_device_unref(device);
    }
    udev_enumerate_unref(list);
  }
  udev_unref(context);
  return devices;
}

}  // namespace utils
