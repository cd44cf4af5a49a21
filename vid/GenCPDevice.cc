#include "vid/GenCPDevice.h"

#include <cstring>
#include <stdexcept>

namespace lib33u::device_interface::gencp {
namespace {

constexpr std::uint8_t kCommandPrefix[4] = {'U', '3', 'V', 'C'};

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
  out[at] = std::uint8_t(v & 0xFF);
  out[at + 1] = std::uint8_t(v >> 8);
}

void Put64(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

std::uint16_t Get16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

}  // namespace

std::atomic<std::uint16_t> GenCPDevice::s_requestId{0};

std::optional<Acknowledge> ParseAcknowledge(const std::uint8_t* bytes, std::size_t size) {
  if (!bytes || size < GenCPDevice::kHeaderSize) return std::nullopt;
  Acknowledge ack;
  ack.prefix = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
               std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
  ack.status = Get16(bytes + 4);
  ack.command = Get16(bytes + 6);
  ack.length = Get16(bytes + 8);
  ack.requestId = Get16(bytes + 10);
  ack.data = bytes + GenCPDevice::kHeaderSize;
  ack.available = size - GenCPDevice::kHeaderSize;
  return ack;
}

GenCPDevice::GenCPDevice(std::shared_ptr<driver_interface::IUsbDevice> usb)
    : m_usb(std::move(usb)) {
  if (!m_usb) throw std::invalid_argument("GenCPDevice - usb device is nullptr.");
}

std::uint16_t GenCPDevice::PeekNextRequestId() { return std::uint16_t(s_requestId.load() + 1); }

std::size_t GenCPDevice::ReadSize(std::uint8_t request, std::optional<std::size_t>& cache) {
  if (cache) return *cache;
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  const std::size_t received = m_usb->ControlTransferIn(request, 0, 0, bytes, sizeof(bytes));
  std::size_t size = 0;
  for (std::size_t i = 0; i < received && i < 4; ++i) size |= std::size_t(bytes[i]) << (8 * i);
  if (size < 20) throw std::runtime_error("invalid maximum size");
  cache = size;
  return size;
}

std::size_t GenCPDevice::GetMaxReadPayload() {
  std::lock_guard lock(m_mutex);
  return ReadSize(kRequestMaxAckSize, m_maxAck) - kHeaderSize;
}

std::size_t GenCPDevice::GetMaxWritePayload() {
  std::lock_guard lock(m_mutex);
  return ReadSize(kRequestMaxCommandSize, m_maxCommand) - 20;
}

std::vector<std::uint8_t> GenCPDevice::Transact(std::uint16_t command, std::uint16_t flags,
                                                std::uint64_t address, const std::uint8_t* payload,
                                                std::size_t payloadLength) {
  const std::size_t ackSize = ReadSize(kRequestMaxAckSize, m_maxAck);
  const std::uint16_t id = ++s_requestId;
  std::vector<std::uint8_t> packet(20 + payloadLength, 0);
  std::memcpy(packet.data(), kCommandPrefix, 4);
  Put16(packet, 4, flags);
  Put16(packet, 6, command);
  Put16(packet, 8, std::uint16_t(8 + payloadLength));
  Put16(packet, 10, id);
  Put64(packet, 12, address);
  if (payloadLength) std::memcpy(packet.data() + 20, payload, payloadLength);
  m_usb->ControlTransferOut(kRequestCommand, 0, 0, packet.data(), packet.size());

  std::vector<std::uint8_t> ack(ackSize, 0);
  ack.resize(m_usb->ControlTransferIn(kRequestCommand, 0, 0, ack.data(), ack.size()));
  const auto parsed = ParseAcknowledge(ack.data(), ack.size());
  if (!parsed) throw std::runtime_error("ack too short");
  if (parsed->requestId != id) throw std::runtime_error("ack::req_id mismatch");
  if (parsed->status & 0x8000) throw std::runtime_error("status failed");
  return ack;
}

void GenCPDevice::ReadMemory(std::uint64_t address, std::uint8_t* buffer, std::size_t length) {
  if (length % 4 != 0) throw std::invalid_argument("length must be divisible by 4");
  if (length > 0xFFFF) throw std::invalid_argument("length exceeds one command");
  std::uint8_t count[4] = {0, 0, std::uint8_t(length & 0xFF), std::uint8_t(length >> 8)};
  std::lock_guard lock(m_mutex);
  const std::vector<std::uint8_t> ack = Transact(kReadMemory, 0, address, count, sizeof(count));
  const auto parsed = ParseAcknowledge(ack.data(), ack.size());
  if (parsed->length != length || parsed->available < length)
    throw std::runtime_error("ack length mismatch");
  if (length) std::memcpy(buffer, parsed->data, length);
}

void GenCPDevice::WriteMemory(std::uint64_t address, const std::uint8_t* data, std::size_t length) {
  if (length % 4 != 0) throw std::invalid_argument("length must be divisible by 4");
  if (length + 8 > 0xFFFF) throw std::invalid_argument("length exceeds one command");
  std::lock_guard lock(m_mutex);
  Transact(kWriteMemory, kFlagRequestAck, address, data, length);
}

}  // namespace lib33u::device_interface::gencp
