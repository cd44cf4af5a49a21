#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/utils/Guid.h"

namespace vid {

// Media subtypes are the 16-byte identifiers of the capture platform, kept
// byte for byte: the first three fields (32, 16, 16 bits) little-endian, then
// eight bytes. Frame buffers are always top-down (row 0 first).
namespace subtype {

// A FOURCC subtype {fourcc-0000-0010-8000-00AA00389B71}.
constexpr utils::Guid FromFourcc(char a, char b, char c, char d) {
  return utils::Guid({static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                      static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d), 0x00, 0x00, 0x10,
                      0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
}
// {E436EBxx-524F-11CE-9F53-0020AF0BA770}, the uncompressed RGB family.
constexpr utils::Guid FromRgbFamily(std::uint8_t low) {
  return utils::Guid({low, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11, 0x9F, 0x53, 0x00, 0x20, 0xAF,
                      0x0B, 0xA7, 0x70});
}

// 8-bit Bayer raw; the 2×2 cell is R G / G B (red at even x, even y).
inline constexpr utils::Guid BY8 = FromFourcc('B', 'Y', '8', ' ');
// 8-bit grey.
inline constexpr utils::Guid Y800 = FromFourcc('Y', '8', '0', '0');
// 4:2:2, bytes Y0 U Y1 V per pixel pair.
inline constexpr utils::Guid YUY2 = FromFourcc('Y', 'U', 'Y', '2');
// 4:2:2, bytes U Y0 V Y1 per pixel pair.
inline constexpr utils::Guid UYVY = FromFourcc('U', 'Y', 'V', 'Y');
// 8-bit palette indices; the palette travels in the image's metadata.
inline constexpr utils::Guid RGB8 = FromRgbFamily(0x7A);
// Bytes blue, green, red per pixel.
inline constexpr utils::Guid RGB24 = FromRgbFamily(0x7D);
// Bytes blue, green, red, unused per pixel.
inline constexpr utils::Guid RGB32 = FromRgbFamily(0x7E);
// Bytes blue, green, red, alpha per pixel {773C9AC0-3274-11D0-B724-00AA006C1A01}.
inline constexpr utils::Guid ARGB32 = utils::Guid({0xC0, 0x9A, 0x3C, 0x77, 0x74, 0x32, 0xD0, 0x11,
                                                   0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01});

}  // namespace subtype

// What a source delivers: subtype, size in pixels and frame rate. An empty
// format is (nil, 0, 0, 0.0).
struct Format {
  utils::Guid mediaSubtype;
  std::int32_t width = 0;
  std::int32_t height = 0;
  double fps = 0.0;

  bool IsEmpty() const { return mediaSubtype.IsNull() && width == 0 && height == 0 && fps == 0.0; }
  friend bool operator==(const Format&, const Format&) = default;
};
static_assert(sizeof(Format) == 32, "Format is a 32-byte plain value");

// "MEDIASUBTYPE_Y800" and the like for the six capture subtypes; any other
// subtype as its braced upper-case text, e.g. "{E436EB7E-524F-11CE-9F53-0020AF0BA770}".
std::string MediaSubtype2String(const utils::Guid& subtype);

// 8 for BY8, Y800, RGB8; 16 for YUY2, UYVY; 24 for RGB24; 32 for RGB32 and
// ARGB32; 0 for anything else (such frames cannot be converted).
int BitsPerPixel(const utils::Guid& subtype);
// True for every known subtype but Y800 (Bayer raw counts as colour).
bool IsColorFormat(const Format& format);
// True for Y800, whose buffer is already an 8-bit grey image.
bool IsGray8(const Format& format);
// Bytes per row as the capture layer lays frames out: width · bits per pixel
// / 8 rounded up to a multiple of 4.
std::int32_t DefaultStride(const Format& format);

// Pixel formats named in setup files and scanner queries.
enum class PixelFormat : std::int32_t { Unknown = 0, Bgr24 = 1, Rgb24 = 2, Rgba32 = 3, Gray8 = 4 };

// "Unknown", "Bgr24", "Rgb24", "Rgba32", "Gray8".
std::string PixelFormatToString(PixelFormat format);
// The inverse; any other text gives Unknown.
PixelFormat ParsePixelFormat(std::string_view name);

}  // namespace vid
