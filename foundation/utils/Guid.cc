#include "foundation/utils/Guid.h"

#include <random>

namespace utils {

Guid Guid::NewGuid() {
  std::random_device device;  // the kernel's random source
  Guid guid;
  for (std::size_t i = 0; i < 16; i += 4) {
    const std::uint32_t word = device();
    for (std::size_t k = 0; k < 4; ++k) guid.m_bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
  }
  guid.m_bytes[6] = static_cast<std::uint8_t>((guid.m_bytes[6] & 0x0F) | 0x40);  // version 4
  guid.m_bytes[8] = static_cast<std::uint8_t>((guid.m_bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return guid;
}

std::string Guid::ToString() const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[m_bytes[i] >> 4];
    text += kHex[m_bytes[i] & 0x0F];
  }
  return text;
}

std::optional<Guid> Guid::FromString(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Guid guid;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      if (text[pos++] != '-') return std::nullopt;
    }
    const int high = nibble(text[pos]);
    const int low = nibble(text[pos + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    guid.m_bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    pos += 2;
  }
  return guid;
}

bool Guid::IsNull() const {
  for (std::uint8_t b : m_bytes) {
    if (b != 0) return false;
  }
  return true;
}

}  // namespace utils
