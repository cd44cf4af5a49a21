#include "vid/Format.h"

#include <cstdio>

namespace vid {

std::string MediaSubtype2String(const utils::Guid& subtype) {
  if (subtype == subtype::BY8) return "MEDIASUBTYPE_BY8";
  if (subtype == subtype::RGB8) return "MEDIASUBTYPE_RGB8";
  if (subtype == subtype::RGB24) return "MEDIASUBTYPE_RGB24";
  if (subtype == subtype::Y800) return "MEDIASUBTYPE_Y800";
  if (subtype == subtype::YUY2) return "MEDIASUBTYPE_YUY2";
  if (subtype == subtype::UYVY) return "MEDIASUBTYPE_UYVY";
  const std::uint8_t* b = subtype.Data();
  char text[40];
  std::snprintf(text, sizeof(text),
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

int BitsPerPixel(const utils::Guid& s) {
  if (s == subtype::BY8 || s == subtype::Y800 || s == subtype::RGB8) return 8;
  if (s == subtype::YUY2 || s == subtype::UYVY) return 16;
  if (s == subtype::RGB24) return 24;
  if (s == subtype::RGB32 || s == subtype::ARGB32) return 32;
  return 0;
}

bool IsColorFormat(const Format& format) {
  return BitsPerPixel(format.mediaSubtype) != 0 && format.mediaSubtype != subtype::Y800;
}

bool IsGray8(const Format& format) { return format.mediaSubtype == subtype::Y800; }

std::int32_t DefaultStride(const Format& format) {
  const std::int64_t bytes =
      (std::int64_t(format.width) * BitsPerPixel(format.mediaSubtype) + 7) / 8;
  return static_cast<std::int32_t>((bytes + 3) / 4 * 4);
}

std::string PixelFormatToString(PixelFormat format) {
  switch (format) {
    case PixelFormat::Bgr24:
      return "Bgr24";
    case PixelFormat::Rgb24:
      return "Rgb24";
    case PixelFormat::Rgba32:
      return "Rgba32";
    case PixelFormat::Gray8:
      return "Gray8";
    default:
      return "Unknown";
  }
}

PixelFormat ParsePixelFormat(std::string_view name) {
  if (name == "Bgr24") return PixelFormat::Bgr24;
  if (name == "Rgb24") return PixelFormat::Rgb24;
  if (name == "Rgba32") return PixelFormat::Rgba32;
  if (name == "Gray8") return PixelFormat::Gray8;
  return PixelFormat::Unknown;
}

}  // namespace vid
