#include "vid/testing/GenCPCameraDouble.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vid::testing {
namespace {

std::uint16_t Get16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v & 0xFF);
  p[1] = std::uint8_t(v >> 8);
}

}  // namespace

GenCPCameraDouble::GenCPCameraDouble(std::uint16_t maxAckSize, std::uint16_t maxCommandSize,
                                     std::uint16_t productId, const char* serial)
    : m_maxAck(maxAckSize),
      m_maxCommand(maxCommandSize),
      m_productId(productId),
      m_serial(serial),
      m_memory(kMemorySize, 0) {}

void GenCPCameraDouble::SetFaults(const Faults& faults) {
  std::lock_guard lock(m_mutex);
  m_faults = faults;
}

std::vector<std::vector<std::uint8_t>> GenCPCameraDouble::GetCommands() const {
  std::lock_guard lock(m_mutex);
  return m_commands;
}

std::size_t GenCPCameraDouble::GetTransferCount() const {
  std::lock_guard lock(m_mutex);
  return m_transfers;
}

std::vector<std::uint8_t> GenCPCameraDouble::GetMemory() const {
  std::lock_guard lock(m_mutex);
  return m_memory;
}

void GenCPCameraDouble::SetMemory(std::size_t offset, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(m_mutex);
  std::copy(bytes.begin(), bytes.end(), m_memory.begin() + std::ptrdiff_t(offset));
}

std::size_t GenCPCameraDouble::ControlTransferIn(std::uint8_t request, std::uint16_t, std::uint16_t,
                                                 std::uint8_t* buffer, std::size_t length) {
  std::lock_guard lock(m_mutex);
  ++m_transfers;
  if (m_faults.unplugged)
    throw std::runtime_error("USB control transfer in failed (LIBUSB_ERROR_NO_DEVICE)");
  if (request == 35 || request == 36) {
    const std::uint32_t size = request == 35 ? m_maxAck : m_maxCommand;
    const std::uint8_t bytes[4] = {std::uint8_t(size), std::uint8_t(size >> 8), 0, 0};
    const std::size_t n = std::min<std::size_t>(4, length);
    std::memcpy(buffer, bytes, n);
    return n;
  }
  if (request != 48 || m_pendingAck.empty())
    throw std::runtime_error("USB control transfer in failed (LIBUSB_ERROR_PIPE)");
  std::vector<std::uint8_t> ack;
  ack.swap(m_pendingAck);
  if (m_faults.truncateAck) ack.resize(std::min(ack.size(), m_faults.truncateAck));
  const std::size_t n = std::min(ack.size(), length);
  std::memcpy(buffer, ack.data(), n);
  return n;
}

void GenCPCameraDouble::ControlTransferOut(std::uint8_t request, std::uint16_t, std::uint16_t,
                                           const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(m_mutex);
  ++m_transfers;
  if (m_faults.unplugged)
    throw std::runtime_error("USB control transfer out failed (LIBUSB_ERROR_NO_DEVICE)");
  m_commands.emplace_back(data, data + length);
  if (request != 48 || length < 20 || length > m_maxCommand || std::memcmp(data, "U3VC", 4) != 0)
    throw std::runtime_error("USB control transfer out failed (LIBUSB_ERROR_PIPE)");
  const std::uint16_t command = Get16(data + 6);
  const std::uint16_t id = Get16(data + 10);
  const std::uint64_t address = Get64(data + 12);
  std::uint16_t status = 0;
  std::vector<std::uint8_t> payload;
  const bool inside = address >= kMemoryBase && address - kMemoryBase < kMemorySize;
  const std::size_t offset = inside ? std::size_t(address - kMemoryBase) : 0;
  if (command == 0x0800 && length == 24) {
    const std::size_t count = Get16(data + 22);
    if (!inside || offset + count > kMemorySize || count + 12 > m_maxAck) {
      status = 0x8006;  // invalid address
    } else {
      payload.assign(m_memory.begin() + std::ptrdiff_t(offset),
                     m_memory.begin() + std::ptrdiff_t(offset + count));
    }
  } else if (command == 0x0802) {
    const std::size_t count = length - 20;
    if (!inside || offset + count > kMemorySize) {
      status = 0x8006;
    } else {
      std::copy(data + 20, data + length, m_memory.begin() + std::ptrdiff_t(offset));
    }
  } else {
    status = 0x8001;  // not implemented
  }
  if (m_faults.failStatus) status = 0x8006;
  std::vector<std::uint8_t> ack(12 + payload.size(), 0);
  std::memcpy(ack.data(), "U3VA", 4);
  Put16(&ack[4], status);
  Put16(&ack[6], std::uint16_t(command + 1));
  Put16(&ack[8], std::uint16_t(std::int32_t(payload.size()) + m_faults.lengthDelta));
  Put16(&ack[10], m_faults.staleRequestId ? m_previousId : id);
  std::copy(payload.begin(), payload.end(), ack.begin() + 12);
  m_pendingAck = std::move(ack);
  m_previousId = id;
}

}  // namespace vid::testing
