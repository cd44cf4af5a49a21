// Feeds arbitrary acknowledges to the GenCP channel: a read or a write must
// return or throw its protocol error, never read outside the bytes received.
// The first input byte chooses read or write and whether the acknowledge
// answers the command's request ID (so that both paths are explored).

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "vid/GenCPDevice.h"

namespace {

class FuzzUsb : public lib33u::driver_interface::IUsbDevice {
 public:
  FuzzUsb(const std::uint8_t* ack, std::size_t size, bool matchId)
      : m_ack(ack, ack + size), m_matchId(matchId) {}
  std::uint16_t GetProductId() const override { return 1; }
  std::string GetSerialNumber() const override { return "1"; }
  std::size_t ControlTransferIn(std::uint8_t request, std::uint16_t, std::uint16_t,
                                std::uint8_t* buffer, std::size_t length) override {
    if (request != 48) {
      const std::uint8_t size[4] = {0x00, 0x04, 0, 0};  // 1024
      std::memcpy(buffer, size, std::min<std::size_t>(4, length));
      return std::min<std::size_t>(4, length);
    }
    std::vector<std::uint8_t> ack = m_ack;
    if (m_matchId && ack.size() >= 12)
      ack[10] = std::uint8_t(m_id), ack[11] = std::uint8_t(m_id >> 8);
    const std::size_t n = std::min(ack.size(), length);
    if (n) std::memcpy(buffer, ack.data(), n);
    return n;
  }
  void ControlTransferOut(std::uint8_t, std::uint16_t, std::uint16_t, const std::uint8_t* data,
                          std::size_t length) override {
    if (length >= 12) m_id = std::uint16_t(data[10] | data[11] << 8);
  }

 private:
  std::vector<std::uint8_t> m_ack;
  bool m_matchId;
  std::uint16_t m_id = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  auto usb = std::make_shared<FuzzUsb>(data + 1, size - 1, (mode & 1) != 0);
  lib33u::device_interface::gencp::GenCPDevice device(usb);
  std::uint8_t buffer[64];
  try {
    if (mode & 2) {
      device.WriteMemory(0x4C525443BB090000ull, buffer, 8);
    } else {
      device.ReadMemory(0x4C525443BB090000ull, buffer, 4 * ((mode >> 2) % 17));
    }
  } catch (const std::runtime_error&) {
  } catch (const std::invalid_argument&) {
  }
  lib33u::device_interface::gencp::ParseAcknowledge(data, size);
  return 0;
}
