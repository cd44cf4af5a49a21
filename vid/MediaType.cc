#include "vid/MediaType.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace vid {

std::string FourccToString(std::uint32_t code) {
  std::string text(4, '?');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    if (c >= 0x20 && c < 0x7F) text[i] = c;
  }
  return text;
}

utils::Guid SubtypeOfFourcc(std::uint32_t code) {
  switch (code) {
    case fourcc::GREY:
      return subtype::Y800;
    case fourcc::YUYV:
      return subtype::YUY2;
    case fourcc::UYVY:
      return subtype::UYVY;
    case fourcc::BGR24:
    case fourcc::RGB24:
      return subtype::RGB24;
    case fourcc::RGGB:
      return subtype::BY8;
    default:
      return utils::Guid();
  }
}

std::uint32_t FourccOfSubtype(const utils::Guid& s) {
  if (s == subtype::Y800) return fourcc::GREY;
  if (s == subtype::YUY2) return fourcc::YUYV;
  if (s == subtype::UYVY) return fourcc::UYVY;
  if (s == subtype::RGB24) return fourcc::BGR24;
  if (s == subtype::BY8) return fourcc::RGGB;
  if (s == subtype::MJPG) return fourcc::MJPG;
  return 0;
}

namespace {

bool SubtypeMatches(const MediaType& type, const utils::Guid& allowed) {
  return allowed.IsNull() || allowed == type.format.mediaSubtype || allowed == type.DeviceSubtype();
}

std::int64_t Difference(std::int32_t device, std::int32_t allowed) {
  return allowed == 0 ? 0 : std::llabs(std::int64_t(device) - allowed);
}

double RateDifference(double device, double allowed) {
  return allowed == 0.0 ? 0.0 : std::fabs(device - allowed);
}

}  // namespace

std::size_t FindNearestAllowedFormat(const MediaType& type, const std::vector<Format>& allowed) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < allowed.size(); ++i) {
    const Format& a = allowed[i];
    const Format& b = allowed[best];
    const std::int64_t dw = Difference(type.format.width, a.width);
    const std::int64_t bw = Difference(type.format.width, b.width);
    if (dw != bw) {
      if (dw < bw) best = i;
      continue;
    }
    const std::int64_t dh = Difference(type.format.height, a.height);
    const std::int64_t bh = Difference(type.format.height, b.height);
    if (dh != bh) {
      if (dh < bh) best = i;
      continue;
    }
    const bool as = SubtypeMatches(type, a.mediaSubtype);
    const bool bs = SubtypeMatches(type, b.mediaSubtype);
    if (as != bs) {
      if (as) best = i;
      continue;
    }
    if (RateDifference(type.format.fps, a.fps) < RateDifference(type.format.fps, b.fps)) best = i;
  }
  return best;
}

int ScoreMediaType(const MediaType& type, const Format& allowed) {
  const Format& f = type.format;
  const bool width = allowed.width == 0 || allowed.width == f.width;
  const bool height = allowed.height == 0 || allowed.height == f.height;
  const bool rate = allowed.fps == 0.0 || std::fabs(allowed.fps - f.fps) <= 0.001;
  return int(width && height) + int(rate) + int(SubtypeMatches(type, allowed.mediaSubtype));
}

MediaTypeChoice ChooseMediaType(const std::vector<MediaType>& types,
                                const std::vector<Format>& allowed) {
  MediaTypeChoice choice;
  if (allowed.empty()) return choice;
  for (std::size_t i = 0; i < types.size(); ++i) {
    const int score =
        ScoreMediaType(types[i], allowed[FindNearestAllowedFormat(types[i], allowed)]);
    if (choice.index < 0 || score > choice.score) choice = {static_cast<int>(i), score};
  }
  return choice;
}

std::string DescribeMediaType(const MediaType& type) {
  char rate[32];
  std::snprintf(rate, sizeof(rate), "%g", type.format.fps);
  std::string text = MediaSubtype2String(type.format.mediaSubtype) + " " +
                     std::to_string(type.format.width) + " x " +
                     std::to_string(type.format.height) + " @ " + rate + " fps";
  if (type.IsCompressed()) text += " (" + FourccToString(type.fourcc) + ")";
  return text;
}

}  // namespace vid
