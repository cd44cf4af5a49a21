#pragma once

#include <memory>
#include <string>

#include "vid/UsbDevice.h"

namespace lib33u::driver_interface::usb {

// A real camera's control channel: vendor control transfers through libusb
// (request type 0xC0 in, 0x40 out, recipient device, 1 s time-out).
class LibusbDevice : public IUsbDevice {
 public:
  // The USB device behind a video node ("/dev/video0"), found through
  // libudev. Throws std::runtime_error with the reason when there is none or
  // it cannot be opened (permissions: a udev rule must grant access).
  static std::shared_ptr<LibusbDevice> OpenForVideoNode(const std::string& node);
  // The device at a bus number and address.
  static std::shared_ptr<LibusbDevice> Open(int bus, int address);
  ~LibusbDevice() override;

  std::uint16_t GetProductId() const override { return m_productId; }
  std::string GetSerialNumber() const override { return m_serial; }
  std::size_t ControlTransferIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                std::uint8_t* buffer, std::size_t length) override;
  void ControlTransferOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                          const std::uint8_t* data, std::size_t length) override;

 private:
  struct Handles;
  explicit LibusbDevice(std::unique_ptr<Handles> handles);

  std::unique_ptr<Handles> m_handles;
  std::uint16_t m_productId = 0;
  std::string m_serial;
};

}  // namespace lib33u::driver_interface::usb
