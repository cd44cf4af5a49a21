#pragma once

#include <cstdint>

// The OpenGL enumeration values that the viewer's data carries (texture
// formats, component types, filters), so that the data model needs no GL
// header. The values are those of the OpenGL headers.
namespace v3d::gl {

using Enum = std::uint32_t;

inline constexpr Enum kByte = 0x1400;
inline constexpr Enum kUnsignedByte = 0x1401;
inline constexpr Enum kShort = 0x1402;
inline constexpr Enum kUnsignedShort = 0x1403;
inline constexpr Enum kInt = 0x1404;
inline constexpr Enum kUnsignedInt = 0x1405;
inline constexpr Enum kFloat = 0x1406;

inline constexpr Enum kRed = 0x1903;
inline constexpr Enum kRgb = 0x1907;
inline constexpr Enum kRgba = 0x1908;
inline constexpr Enum kLuminance = 0x1909;
inline constexpr Enum kLuminanceAlpha = 0x190A;
inline constexpr Enum kBgr = 0x80E0;
inline constexpr Enum kBgra = 0x80E1;
inline constexpr Enum kRg = 0x8227;

inline constexpr Enum kNearest = 0x2600;
inline constexpr Enum kLinear = 0x2601;
inline constexpr Enum kModulate = 0x2100;
inline constexpr Enum kReplace = 0x1E01;

}  // namespace v3d::gl
