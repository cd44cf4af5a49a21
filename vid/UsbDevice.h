#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lib33u::driver_interface {

// The USB access the camera control channel needs: identity and vendor
// control transfers to the device (recipient device). Transfers that fail
// throw std::runtime_error.
class IUsbDevice {
 public:
  virtual ~IUsbDevice() = default;
  virtual std::uint16_t GetProductId() const = 0;
  // The second identity query: the device's serial number string ("" when
  // it has none).
  virtual std::string GetSerialNumber() const = 0;
  // Device to host: reads at most `length` bytes into `buffer`; returns the
  // count received.
  virtual std::size_t ControlTransferIn(std::uint8_t request, std::uint16_t value,
                                        std::uint16_t index, std::uint8_t* buffer,
                                        std::size_t length) = 0;
  // Host to device: sends `length` bytes.
  virtual void ControlTransferOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                  const std::uint8_t* data, std::size_t length) = 0;
};

}  // namespace lib33u::driver_interface
