#include "devices/felvar/CameraModelFelvar.h"

#include <cmath>

namespace felvar {
namespace {

// ⌊value⌋ mod 2 as 0 or 1, also for negative values.
int Parity(double value) {
  const long long whole = static_cast<long long>(std::trunc(value));
  return static_cast<int>(((whole % 2) + 2) % 2);
}

struct Shift {
  std::uint32_t from, to;
  double cx, cy;
};

// Principal-point shifts between the sensor modes, after the Tsai scaling.
constexpr Shift kShifts[] = {
    {2208, 4416, -4.0, 4.0}, {2208, 1104, 1.0, 0.0},  {1104, 4416, -8.0, 4.0},
    {1104, 2208, -2.0, 0.0}, {4416, 2208, 2.0, -2.0}, {4416, 1104, 2.0, -1.0},
};

}  // namespace

math::Vec2d CameraModelFelvar::PhaseOffset(const math::Vec2d& pixel, std::uint32_t width) {
  const int phase = Parity(pixel[0]) + 2 * Parity(pixel[1]);
  const double du = phase % 2 == 0 ? 0.2 : -0.2;
  const double dv = phase < 2 ? -1.0 : 1.0;
  if (width == kHalfWidth) return {du, 0.2 * dv};
  if (width == kQuarterWidth) return {du, 0.1 * dv};
  return {0.0, 0.0};
}

bool CameraModelFelvar::PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const {
  const math::Vec2d offset = PhaseOffset(pixel, GetResX());
  return cam::CameraModelTsai::PixelToCameraRay(ray, {pixel[0] + offset[0], pixel[1] + offset[1]});
}

void CameraModelFelvar::ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) {
  const std::uint32_t oldResX = GetResX();
  cam::CameraModelTsai::ScaleToResolution(newResX, newResY);
  if (GetResX() != newResX) return;  // not scaled
  for (const Shift& shift : kShifts) {
    if (shift.from != oldResX || shift.to != newResX) continue;
    Intrinsics i = GetIntrinsics();
    i.cx += shift.cx;
    i.cy += shift.cy;
    SetIntrinsics(i);
  }
}

}  // namespace felvar
