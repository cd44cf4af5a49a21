#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace utils {

// Notices USB devices coming and going and tells the shell whether an active
// camera or the active turntable is among them. A device is known by its
// description (the USB product string); a description matches an active
// name when either contains the other, ignoring case.
class UsbManager {
 public:
  enum Kind : std::int32_t { kRemoved = 0, kAdded = 1 };

  struct ChangeReport {
    std::int32_t kind = kRemoved;
    std::vector<std::string>
        affected;  // active camera and turntable names among the changed devices
  };

  // Lists the present devices' descriptions in enumeration order.
  using DeviceLister = std::function<std::vector<std::string>()>;

  // Devices from libudev (ListUsbDevices).
  UsbManager();
  explicit UsbManager(DeviceLister lister);
  virtual ~UsbManager();
  UsbManager(const UsbManager&) = delete;
  UsbManager& operator=(const UsbManager&) = delete;

  // Stores the names and takes a fresh device list as the reference.
  void SetActiveCameras(const std::vector<std::string>& names);
  void SetActiveTurntable(const std::string& name);
  // Compares a fresh device list with the stored one: no more entries than
  // before is a removal (the devices gone), else an addition (the devices
  // new); counted per description, so one of two identical cameras counts.
  // The fresh list becomes the stored one.
  ChangeReport DeviceNodeChanged();
  const std::vector<std::string>& GetDeviceList() const { return m_devices; }

  // Waits at most timeoutSeconds for the kernel to announce a USB device
  // added or removed (a libudev monitor, opened on first use). True when one
  // came; false on time-out or when monitoring is not possible here.
  bool WaitForDeviceEvent(double timeoutSeconds);

  // The product strings of the present USB devices, from libudev; devices
  // without one are skipped; empty when enumeration fails.
  static std::vector<std::string> ListUsbDevices();

 private:
  struct Monitor;
  DeviceLister m_lister;
  std::vector<std::string> m_devices;
  std::vector<std::string> m_cameras;
  std::string m_turntable;
  std::unique_ptr<Monitor> m_monitor;
};

}  // namespace utils
