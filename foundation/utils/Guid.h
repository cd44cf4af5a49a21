#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace utils {

// A 16-byte identifier by which chunk payloads refer to objects (textures,
// scans). Compared byte by byte; the default value is all zeros.
class Guid {
 public:
  constexpr Guid() = default;
  constexpr explicit Guid(const std::array<std::uint8_t, 16>& bytes) : m_bytes(bytes) {}

  // A random RFC 4122 version-4 identifier.
  static Guid NewGuid();

  // The bytes in storage order as lower-case hex, grouped 4-2-2-2-6 bytes:
  // "00010203-0405-0607-0809-0a0b0c0d0e0f".
  std::string ToString() const;
  // The inverse of ToString (either case); nothing for a malformed text.
  static std::optional<Guid> FromString(std::string_view text);

  bool IsNull() const;
  constexpr const std::array<std::uint8_t, 16>& Bytes() const { return m_bytes; }
  const std::uint8_t* Data() const { return m_bytes.data(); }
  std::uint8_t* Data() { return m_bytes.data(); }

  friend bool operator==(const Guid&, const Guid&) = default;
  friend auto operator<=>(const Guid&, const Guid&) = default;

 private:
  std::array<std::uint8_t, 16> m_bytes{};
};

}  // namespace utils
