#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "vid/GenCPDevice.h"
#include "vid/GrabberDirectShow.h"

namespace vid {

// The grabber of the USB cameras of the dedicated scanner heads: a
// GrabberDirectShow that also reaches the camera's control channel (GenCP
// over vendor control transfers) for the device identifier and the user
// memory where a head keeps its calibration.
class GrabberImagingSource : public GrabberDirectShow {
 public:
  // The user memory: GenCP address of offset 0, and the usable size in bytes.
  static constexpr std::uint64_t kUserMemoryBase = 0x4C525443BB090000ull;
  static constexpr std::size_t kUserMemorySize = 65535;

  // Opens the control channel of the USB device behind a video node; throws
  // std::runtime_error when it cannot.
  using UsbOpener =
      std::function<std::shared_ptr<lib33u::driver_interface::IUsbDevice>(const std::string& node)>;

  struct Options {
    GrabberDirectShow::Options grabber;
    UsbOpener usbOpener;  // empty: libusb through the node's USB parent
  };

  explicit GrabberImagingSource(const std::filesystem::path& logFile, Options options);
  explicit GrabberImagingSource(const std::filesystem::path& logFile = {})
      : GrabberImagingSource(logFile, Options{}) {}

  // The camera's identifier: its USB serial number read as a decimal or hex
  // number (other serials are hashed); 0 when there is no channel.
  std::uint64_t GetDeviceId() const override;

  // Reads `length` bytes (a multiple of 4) at `offset` with one command.
  bool ReadUserMemory(std::size_t offset, std::uint8_t* buffer, std::size_t length);
  // Writes a whole record at offset 0 with one command; false before any
  // transfer when it is longer than the user memory.
  bool WriteUserMemory(const std::uint8_t* data, std::size_t length);
  std::size_t GetUserMemorySize() const { return kUserMemorySize; }

 private:
  // The channel of the open live source, opened on first use; null (logged)
  // when there is none.
  lib33u::device_interface::gencp::GenCPDevice* Channel() const;

  UsbOpener m_usbOpener;
  mutable std::string m_channelNode;
  mutable std::shared_ptr<lib33u::driver_interface::IUsbDevice> m_usb;
  mutable std::unique_ptr<lib33u::device_interface::gencp::GenCPDevice> m_gencp;
};

}  // namespace vid
