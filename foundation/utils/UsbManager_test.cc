#include "foundation/utils/UsbManager.h"

#include <gtest/gtest.h>

namespace utils {
namespace {

// A USB bus whose device list a test changes.
struct Bus {
  std::vector<std::string> devices;
  UsbManager::DeviceLister Lister() {
    return [this] { return devices; };
  }
};

TEST(UsbManager, UnpluggingAndReplugOneOfTwoCamerasNamesIt) {
  Bus bus;
  bus.devices = {"USB Receiver", "HD Pro Webcam C920", "Mono USB3 Camera 1920x1200", "Hub"};
  UsbManager manager(bus.Lister());
  manager.SetActiveCameras({"HD Pro Webcam C920", "Mono USB3 Camera"});
  bus.devices = {"USB Receiver", "HD Pro Webcam C920", "Hub"};
  auto report = manager.DeviceNodeChanged();
  EXPECT_EQ(report.kind, UsbManager::kRemoved);
  EXPECT_EQ(report.affected, std::vector<std::string>{"Mono USB3 Camera"});
  bus.devices = {"USB Receiver", "HD Pro Webcam C920", "Hub", "Mono USB3 Camera 1920x1200"};
  report = manager.DeviceNodeChanged();
  EXPECT_EQ(report.kind, UsbManager::kAdded);
  EXPECT_EQ(report.affected, std::vector<std::string>{"Mono USB3 Camera"});
}

TEST(UsbManager, IdenticalCamerasCountOneByOne) {
  Bus bus;
  bus.devices = {"HD Pro Webcam C920", "HD Pro Webcam C920"};
  UsbManager manager(bus.Lister());
  manager.SetActiveCameras({"hd pro webcam"});  // matched ignoring case, by part
  bus.devices = {"HD Pro Webcam C920"};
  const auto report = manager.DeviceNodeChanged();
  EXPECT_EQ(report.kind, UsbManager::kRemoved);
  EXPECT_EQ(report.affected, std::vector<std::string>{"hd pro webcam"});
}

TEST(UsbManager, ChangesOfOtherDevicesAffectNothingButTheTurntableCounts) {
  Bus bus;
  bus.devices = {"HD Pro Webcam C920", "Turntable Controller"};
  UsbManager manager(bus.Lister());
  manager.SetActiveCameras({"HD Pro Webcam C920"});
  manager.SetActiveTurntable("Turntable");
  bus.devices.push_back("USB Keyboard");
  auto report = manager.DeviceNodeChanged();
  EXPECT_EQ(report.kind, UsbManager::kAdded);
  EXPECT_TRUE(report.affected.empty());
  bus.devices = {"HD Pro Webcam C920", "USB Keyboard"};
  report = manager.DeviceNodeChanged();
  EXPECT_EQ(report.kind, UsbManager::kRemoved);
  EXPECT_EQ(report.affected, std::vector<std::string>{"Turntable"});
  // Nothing changed: a removal of nothing.
  report = manager.DeviceNodeChanged();
  EXPECT_EQ(report.kind, UsbManager::kRemoved);
  EXPECT_TRUE(report.affected.empty());
}

TEST(UsbManager, TheMachinesListAndMonitorAnswerWithoutDevices) {
  // Whatever this machine has (maybe no USB at all): a list, and a wait that
  // returns by its time-out.
  UsbManager manager;
  manager.SetActiveCameras({"none"});
  EXPECT_EQ(manager.GetDeviceList(), UsbManager::ListUsbDevices());
  manager.WaitForDeviceEvent(0.01);
}

}  // namespace
}  // namespace utils
