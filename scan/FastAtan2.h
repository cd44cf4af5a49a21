#pragma once

#include <cmath>
#include <numbers>

namespace scan {

// atan2(y, x) in [−π, π] without a library call, so that per-pixel loops
// vectorise. The octant reduction gives t = lo/hi in [0, 1] (lo, hi the
// smaller and larger of |x|, |y|); t above tan(π/8) is replaced by
// (lo − hi)/(lo + hi) = (t − 1)/(t + 1) with π/4 added (one division either
// way), so the series u − u³/3 + u⁵/5 − … runs on |u| ≤ 0.4143 and its
// remainder after u¹⁹ is below tan(π/8)²¹/21 ≈ 4.4e-10 rad. Exact for the axes
// and diagonals (0, ±π/2, ±π/4 …). Branch-free: every path is computed and
// selected. Forced inline so that a caller built for a wider instruction set
// compiles it for that set.
[[gnu::always_inline]] inline double FastAtan2(double y, double x) {
  constexpr double kPi = std::numbers::pi;
  constexpr double kTanPiOver8 = 0.41421356237309503;
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  const double hi = ax > ay ? ax : ay;
  const double lo = ax > ay ? ay : ax;
  const bool reduce = lo > kTanPiOver8 * hi;
  const double numerator = reduce ? lo - hi : lo;
  const double denominator = reduce ? lo + hi : (hi > 0.0 ? hi : 1.0);  // lo is 0 when hi is
  const double u = numerator / denominator;
  const double u2 = u * u;
  double p = -1.0 / 19.0;
  p = p * u2 + 1.0 / 17.0;
  p = p * u2 - 1.0 / 15.0;
  p = p * u2 + 1.0 / 13.0;
  p = p * u2 - 1.0 / 11.0;
  p = p * u2 + 1.0 / 9.0;
  p = p * u2 - 1.0 / 7.0;
  p = p * u2 + 1.0 / 5.0;
  p = p * u2 - 1.0 / 3.0;
  p = p * u2 + 1.0;
  double a = u * p + (reduce ? kPi / 4.0 : 0.0);
  a = ay > ax ? kPi / 2.0 - a : a;
  a = x < 0.0 ? kPi - a : a;
  return y < 0.0 ? -a : a;
}

// The angle of (x, y) in periods, in [0, 1): atan2(y, x)/2π, plus one period
// when negative. A value that rounds to 1 in float becomes 0 (the same
// stripe position, one period on).
[[gnu::always_inline]] inline float PhaseInPeriods(double y, double x) {
  double a = FastAtan2(y, x);
  a = a < 0.0 ? a + 2.0 * std::numbers::pi : a;
  const auto phase = static_cast<float>(a * (0.5 / std::numbers::pi));
  return phase < 1.0f ? phase : 0.0f;
}

}  // namespace scan
