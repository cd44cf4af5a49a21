#pragma once

#include <cmath>
#include <numbers>

namespace scan {

// The angle of (x, y) in periods, in [0, 1): atan2(y, x)/2π, plus one period
// when negative, in single precision without a library call, so that
// per-pixel loops vectorise. The octant reduction gives t = lo/hi in [0, 1]
// (lo, hi the smaller and larger of |x|, |y|); t above tan(π/8) is replaced
// by (lo − hi)/(lo + hi) = (t − 1)/(t + 1) with 1/8 period added (one
// division either way), so the series (u − u³/3 + u⁵/5 − …)/2π runs on
// |u| ≤ 0.4143; its remainder after u¹⁵ is below tan(π/8)¹⁷/(17·2π) ≈
// 2.9e-9 periods. With the float roundings the result stays within 3 float
// steps of max(phase, 1/16) of the exact angle (2e-7 periods near 1, far
// below the phase noise of a camera). Exact on the axes and diagonals
// (0, 1/8, 1/4 …). A value that rounds to 1 becomes 0
// (the same stripe position, one period on). Branch-free: every path is
// computed and selected. Forced inline so that a caller built for a wider
// instruction set compiles it for that set.
[[gnu::always_inline]] inline float PhaseInPeriods(float y, float x) {
  constexpr float kTanPiOver8 = 0.41421356f;
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const float ax = std::fabs(x);
  const float ay = std::fabs(y);
  const float hi = ax > ay ? ax : ay;
  const float lo = ax > ay ? ay : ax;
  const bool reduce = lo > kTanPiOver8 * hi;
  const float numerator = reduce ? lo - hi : lo;
  const float denominator = reduce ? lo + hi : (hi > 0.0f ? hi : 1.0f);  // lo is 0 when hi is
  const float u = numerator / denominator;
  const float u2 = u * u;
  float p = float(-1.0 / (15.0 * kTwoPi));
  p = p * u2 + float(1.0 / (13.0 * kTwoPi));
  p = p * u2 - float(1.0 / (11.0 * kTwoPi));
  p = p * u2 + float(1.0 / (9.0 * kTwoPi));
  p = p * u2 - float(1.0 / (7.0 * kTwoPi));
  p = p * u2 + float(1.0 / (5.0 * kTwoPi));
  p = p * u2 - float(1.0 / (3.0 * kTwoPi));
  p = p * u2 + float(1.0 / kTwoPi);
  float a = u * p + (reduce ? 0.125f : 0.0f);
  a = ay > ax ? 0.25f - a : a;
  a = x < 0.0f ? 0.5f - a : a;
  a = y < 0.0f ? 1.0f - a : a;
  return a < 1.0f ? a : 0.0f;
}

}  // namespace scan
