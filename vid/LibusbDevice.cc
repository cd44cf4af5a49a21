#include "vid/LibusbDevice.h"

#include <libudev.h>
#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace lib33u::driver_interface::usb {
namespace {

constexpr unsigned kTimeoutMs = 1000;
// Request types: vendor, recipient device, device to host / host to device.
constexpr std::uint8_t kVendorIn = 0xC0;
constexpr std::uint8_t kVendorOut = 0x40;

std::runtime_error Error(const std::string& what, int code) {
  return std::runtime_error(what + " (" + libusb_error_name(code) + ")");
}

}  // namespace

struct LibusbDevice::Handles {
  libusb_context* context = nullptr;
  libusb_device_handle* handle = nullptr;
  ~Handles() {
    if (handle) libusb_close(handle);
    if (context) libusb_exit(context);
  }
};

LibusbDevice::LibusbDevice(std::unique_ptr<Handles> handles) : m_handles(std::move(handles)) {
  libusb_device_descriptor descriptor{};
  libusb_device* device = libusb_get_device(m_handles->handle);
  if (libusb_get_device_descriptor(device, &descriptor) == 0) {
    m_productId = descriptor.idProduct;
    unsigned char text[256];
    if (descriptor.iSerialNumber &&
        libusb_get_string_descriptor_ascii(m_handles->handle, descriptor.iSerialNumber, text,
                                           sizeof(text)) > 0)
      m_serial = reinterpret_cast<const char*>(text);
  }
}

LibusbDevice::~LibusbDevice() = default;

std::shared_ptr<LibusbDevice> LibusbDevice::Open(int bus, int address) {
  auto handles = std::make_unique<Handles>();
  if (const int r = libusb_init(&handles->context); r != 0) throw Error("libusb_init failed", r);
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(handles->context, &list);
  if (count < 0) throw Error("Could not list USB devices", int(count));
  int opened = LIBUSB_ERROR_NO_DEVICE;
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address) {
      opened = libusb_open(list[i], &handles->handle);
      break;
    }
  }
  libusb_free_device_list(list, 1);
  if (opened != 0)
    throw Error("Could not open USB device " + std::to_string(bus) + ":" + std::to_string(address),
                opened);
  return std::shared_ptr<LibusbDevice>(new LibusbDevice(std::move(handles)));
}

std::shared_ptr<LibusbDevice> LibusbDevice::OpenForVideoNode(const std::string& node) {
  udev* context = udev_new();
  if (!context) throw std::runtime_error("Could not create a udev context.");
  const std::string sysname = std::filesystem::path(node).filename().string();
  udev_device* video =
      udev_device_new_from_subsystem_sysname(context, "video4linux", sysname.c_str());
  int bus = -1, address = -1;
  if (video) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(video, "usb", "usb_device");
    if (usb) {
      const char* busnum = udev_device_get_sysattr_value(usb, "busnum");
      const char* devnum = udev_device_get_sysattr_value(usb, "devnum");
      if (busnum && devnum) bus = std::atoi(busnum), address = std::atoi(devnum);
    }
    udev_device_unref(video);
  }
  udev_unref(context);
  if (bus < 0) throw std::runtime_error("No USB device behind " + node + ".");
  return Open(bus, address);
}

std::size_t LibusbDevice::ControlTransferIn(std::uint8_t request, std::uint16_t value,
                                            std::uint16_t index, std::uint8_t* buffer,
                                            std::size_t length) {
  const int r = libusb_control_transfer(
      m_handles->handle, kVendorIn, request, value, index, buffer,
      static_cast<std::uint16_t>(std::min<std::size_t>(length, 0xFFFF)), kTimeoutMs);
  if (r < 0) throw Error("USB control transfer in failed", r);
  return static_cast<std::size_t>(r);
}

void LibusbDevice::ControlTransferOut(std::uint8_t request, std::uint16_t value,
                                      std::uint16_t index, const std::uint8_t* data,
                                      std::size_t length) {
  const int r = libusb_control_transfer(m_handles->handle, kVendorOut, request, value, index,
                                        const_cast<std::uint8_t*>(data),
                                        static_cast<std::uint16_t>(length), kTimeoutMs);
  if (r < 0) throw Error("USB control transfer out failed", r);
  if (static_cast<std::size_t>(r) != length)
    throw std::runtime_error("USB control transfer out sent " + std::to_string(r) + " of " +
                             std::to_string(length) + " bytes");
}

}  // namespace lib33u::driver_interface::usb
