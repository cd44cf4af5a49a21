#pragma once

#include <cmath>
#include <numbers>

namespace scan {

// The angle of (x, y) in periods, in [0, 1): atan2(y, x)/2π, shifted by one
// period when negative. A value that rounds to 1 in float becomes 0 (the
// same stripe position one period on).
inline float PhaseInPeriods(double y, double x) {
  double a = std::atan2(y, x);
  if (a < 0.0) a += 2.0 * std::numbers::pi;
  const auto phase = static_cast<float>(a / (2.0 * std::numbers::pi));
  return phase < 1.0f ? phase : 0.0f;
}

}  // namespace scan
