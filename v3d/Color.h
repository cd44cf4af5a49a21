#pragma once

#include <cstdint>

namespace v3d {

// A colour of four unsigned bytes in memory order r, g, b, a (4 bytes, no
// padding), so that arrays of it go to the renderer as they are.
struct Color4ub {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;

  constexpr Color4ub() = default;
  constexpr Color4ub(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                     std::uint8_t alpha = 255)
      : r(red), g(green), b(blue), a(alpha) {}

  constexpr std::uint8_t R() const { return r; }
  constexpr std::uint8_t G() const { return g; }
  constexpr std::uint8_t B() const { return b; }
  constexpr std::uint8_t A() const { return a; }

  friend constexpr bool operator==(const Color4ub&, const Color4ub&) = default;
};
static_assert(sizeof(Color4ub) == 4);

// A colour of four floats r, g, b, a, nominally in 0…1.
struct Color4f {
  float r = 0.f, g = 0.f, b = 0.f, a = 1.f;

  constexpr Color4f() = default;
  constexpr Color4f(float red, float green, float blue, float alpha = 1.f)
      : r(red), g(green), b(blue), a(alpha) {}
  // Each byte divided by 255.
  constexpr explicit Color4f(const Color4ub& c)
      : r(c.r / 255.f), g(c.g / 255.f), b(c.b / 255.f), a(c.a / 255.f) {}

  friend constexpr bool operator==(const Color4f&, const Color4f&) = default;
};
static_assert(sizeof(Color4f) == 16);

}  // namespace v3d
