#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "vid/UsbDevice.h"

namespace lib33u::driver_interface {

// Memory access of a camera through its control channel.
class IGenCPDevice {
 public:
  virtual ~IGenCPDevice() = default;
  virtual std::size_t GetMaxReadPayload() = 0;
  virtual std::size_t GetMaxWritePayload() = 0;
  virtual void ReadMemory(std::uint64_t address, std::uint8_t* buffer, std::size_t length) = 0;
  virtual void WriteMemory(std::uint64_t address, const std::uint8_t* data, std::size_t length) = 0;
};

}  // namespace lib33u::driver_interface

namespace lib33u::device_interface::gencp {

// The GenCP command layer of a USB3 Vision camera's control channel, over
// vendor control transfers. All fields are little-endian.
//
// Command (out transfer, request 48, value 0, index 0): "U3VC", flags (0
// read, 0x4000 write: acknowledge requested), command ID (0x0800 read
// memory, 0x0802 write memory), length of what follows the 12-byte header
// (12 for a read, data length + 8 for a write), request ID, 8-byte address,
// then for a read 2 reserved bytes and the 2-byte count, for a write the data.
//
// Acknowledge (in transfer, request 48, into a buffer of the maximum
// acknowledge size): prefix, status (bit 15: failure), command ID, data
// length, request ID answered, then the data of a read.
//
// The maximum acknowledge and command sizes are read once (in transfers of
// 4 bytes, requests 35 and 36) and cached. One mutex serialises the
// commands of a device; the request ID counter is shared by all devices of
// the process and increments for every command.
//
// Failures throw: std::invalid_argument "length must be divisible by 4";
// std::runtime_error "ack::req_id mismatch", "status failed", "ack length
// mismatch", "ack too short" (fewer than 12 bytes), "invalid maximum size"
// (a size the device reports below the header), and whatever the USB
// transfer throws.
class GenCPDevice : public driver_interface::IGenCPDevice {
 public:
  static constexpr std::uint8_t kRequestMaxAckSize = 35;
  static constexpr std::uint8_t kRequestMaxCommandSize = 36;
  static constexpr std::uint8_t kRequestCommand = 48;
  static constexpr std::uint16_t kReadMemory = 0x0800;
  static constexpr std::uint16_t kWriteMemory = 0x0802;
  static constexpr std::uint16_t kFlagRequestAck = 0x4000;
  static constexpr std::size_t kHeaderSize = 12;

  explicit GenCPDevice(std::shared_ptr<driver_interface::IUsbDevice> usb);

  // Maximum acknowledge size − 12 and maximum command size − 20.
  std::size_t GetMaxReadPayload() override;
  std::size_t GetMaxWritePayload() override;
  void ReadMemory(std::uint64_t address, std::uint8_t* buffer, std::size_t length) override;
  void WriteMemory(std::uint64_t address, const std::uint8_t* data, std::size_t length) override;

  // The request ID the next command of any device will carry.
  static std::uint16_t PeekNextRequestId();

 private:
  std::size_t ReadSize(std::uint8_t request, std::optional<std::size_t>& cache);
  // Sends one command and returns its acknowledge (checked for request ID and status).
  std::vector<std::uint8_t> Transact(std::uint16_t command, std::uint16_t flags,
                                     std::uint64_t address, const std::uint8_t* payload,
                                     std::size_t payloadLength);

  std::shared_ptr<driver_interface::IUsbDevice> m_usb;
  std::mutex m_mutex;
  std::optional<std::size_t> m_maxAck;
  std::optional<std::size_t> m_maxCommand;
  static std::atomic<std::uint16_t> s_requestId;
};

// The fields of an acknowledge; nothing when fewer than 12 bytes arrived.
struct Acknowledge {
  std::uint32_t prefix = 0;
  std::uint16_t status = 0;
  std::uint16_t command = 0;
  std::uint16_t length = 0;
  std::uint16_t requestId = 0;
  const std::uint8_t* data = nullptr;  // into the parsed bytes
  std::size_t available = 0;           // bytes after the header
};
std::optional<Acknowledge> ParseAcknowledge(const std::uint8_t* bytes, std::size_t size);

}  // namespace lib33u::device_interface::gencp
