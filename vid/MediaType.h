#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vid/Format.h"

namespace vid {

namespace subtype {
// Motion JPEG as a device sends it; the sampler decodes it before delivery.
inline constexpr utils::Guid MJPG = FromFourcc('M', 'J', 'P', 'G');
}  // namespace subtype

// A four-character code packed as V4L2 does: first character in the low byte.
constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
  return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
         std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
// "YUYV"; unprintable bytes as '?'.
std::string FourccToString(std::uint32_t fourcc);

// Device pixel formats the sampler takes.
namespace fourcc {
inline constexpr std::uint32_t GREY = MakeFourcc('G', 'R', 'E', 'Y');
inline constexpr std::uint32_t YUYV = MakeFourcc('Y', 'U', 'Y', 'V');
inline constexpr std::uint32_t UYVY = MakeFourcc('U', 'Y', 'V', 'Y');
inline constexpr std::uint32_t BGR24 = MakeFourcc('B', 'G', 'R', '3');  // bytes b, g, r
inline constexpr std::uint32_t RGB24 = MakeFourcc('R', 'G', 'B', '3');  // bytes r, g, b
inline constexpr std::uint32_t RGGB = MakeFourcc('R', 'G', 'G', 'B');   // Bayer R G / G B
inline constexpr std::uint32_t MJPG = MakeFourcc('M', 'J', 'P', 'G');
inline constexpr std::uint32_t JPEG = MakeFourcc('J', 'P', 'E', 'G');
}  // namespace fourcc

// One way a source can deliver: `format` is what the sampler hands on (its
// subtype is one of the capture subtypes), `fourcc` the pixel format the
// device sends. A MJPG device type appears twice, decoded to RGB24 and to
// Y800 (the luminance alone, cheaper to decode).
struct MediaType {
  Format format;
  std::uint32_t fourcc = 0;

  bool IsCompressed() const { return fourcc == fourcc::MJPG || fourcc == fourcc::JPEG; }
  // The subtype of what the device sends: MJPG for compressed types, else the
  // delivered subtype.
  utils::Guid DeviceSubtype() const { return IsCompressed() ? subtype::MJPG : format.mediaSubtype; }
  friend bool operator==(const MediaType&, const MediaType&) = default;
};

// The delivered subtype of an uncompressed device pixel format; nil when the
// sampler cannot take it.
utils::Guid SubtypeOfFourcc(std::uint32_t fourcc);
// The device pixel format that delivers a subtype as it is (GREY for Y800 ...);
// 0 when there is none. MJPG gives the MJPG code.
std::uint32_t FourccOfSubtype(const utils::Guid& subtype);

// The result of choosing among a device's media types for a list of allowed
// formats.
struct MediaTypeChoice {
  int index = -1;  // the chosen device type, -1 when there are none
  int score = 0;   // 0 to 3
};

// The allowed format nearest to a device type: the smallest width difference,
// then the smallest height difference, then an equal subtype, then the nearest
// frame rate. An allowed width, height or frame rate of 0 and a nil subtype
// match anything (difference 0). The allowed list must not be empty.
std::size_t FindNearestAllowedFormat(const MediaType& type, const std::vector<Format>& allowed);
// One point each for equal size, frame rates within 0.001 and equal subtype; a
// point is lost only when both sides give a value and the values differ. An
// allowed MJPG subtype matches the compressed device types.
int ScoreMediaType(const MediaType& type, const Format& allowed);
// The device type with the highest score against its nearest allowed format;
// on equal scores the earlier type.
MediaTypeChoice ChooseMediaType(const std::vector<MediaType>& types,
                                const std::vector<Format>& allowed);

// "MEDIASUBTYPE_Y800 1920 x 1200 @ 60 fps", with " (MJPG)" for decoded types.
std::string DescribeMediaType(const MediaType& type);

}  // namespace vid
