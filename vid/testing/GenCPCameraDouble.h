#pragma once

// An in-process camera that answers the control channel as a USB3 Vision
// camera does: it keeps a user memory, reports its maximum acknowledge and
// command sizes, executes read- and write-memory commands and acknowledges
// them. Faults can be switched on to test the protocol checks.

#include <cstdint>
#include <mutex>
#include <vector>

#include "vid/UsbDevice.h"

namespace vid::testing {

class GenCPCameraDouble : public lib33u::driver_interface::IUsbDevice {
 public:
  static constexpr std::uint64_t kMemoryBase = 0x4C525443BB090000ull;
  static constexpr std::size_t kMemorySize = 65536;

  struct Faults {
    bool staleRequestId = false;   // acknowledges carry the previous command's ID
    bool failStatus = false;       // status 0x8006 (failure bit set)
    std::size_t truncateAck = 0;   // > 0: the acknowledge is cut to this many bytes
    std::int32_t lengthDelta = 0;  // added to the length field of read acknowledges
    bool unplugged = false;        // every transfer throws
  };

  GenCPCameraDouble(std::uint16_t maxAckSize = 1024, std::uint16_t maxCommandSize = 1024,
                    std::uint16_t productId = 0x9078, const char* serial = "41810422");

  std::uint16_t GetProductId() const override { return m_productId; }
  std::string GetSerialNumber() const override { return m_serial; }
  std::size_t ControlTransferIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                std::uint8_t* buffer, std::size_t length) override;
  void ControlTransferOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                          const std::uint8_t* data, std::size_t length) override;

  void SetFaults(const Faults& faults);
  // Every out transfer's bytes, in order.
  std::vector<std::vector<std::uint8_t>> GetCommands() const;
  std::size_t GetTransferCount() const;
  std::vector<std::uint8_t> GetMemory() const;
  void SetMemory(std::size_t offset, const std::vector<std::uint8_t>& bytes);

 private:
  mutable std::mutex m_mutex;
  std::uint16_t m_maxAck, m_maxCommand, m_productId;
  std::string m_serial;
  Faults m_faults;
  std::vector<std::uint8_t> m_memory;
  std::vector<std::vector<std::uint8_t>> m_commands;
  std::vector<std::uint8_t> m_pendingAck;
  std::uint16_t m_previousId = 0;
  std::size_t m_transfers = 0;
};

}  // namespace vid::testing
