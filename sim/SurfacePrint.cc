#include "sim/SurfacePrint.h"

#include <algorithm>
#include <cmath>

namespace sim {

double DiscCoverage(const math::Vec2d& c, double r, const math::Vec2d& q, const math::Vec2d& du,
                    const math::Vec2d& dv) {
  const math::Vec2d d = q - c;
  const double distance = d.Length();
  if (!(distance > 0.0)) return r > 0.0 ? 1.0 : 0.0;
  const math::Vec2d u = d / distance;
  const double a = std::abs(math::Dot(u, du)), b = std::abs(math::Dot(u, dv));
  const double big = std::max(a, b), small = std::min(a, b);
  // P(distance − r + X < 0) with X the footprint's offset along u: the CDF
  // of the sum of uniform variables on [−big, big] and [−small, small].
  const double t = r - distance;
  if (t <= -(big + small)) return 0.0;
  if (t >= big + small) return 1.0;
  if (small <= 1e-12 * big) return std::clamp(0.5 + t / (2.0 * big), 0.0, 1.0);
  if (t < small - big) return (t + big + small) * (t + big + small) / (8.0 * big * small);
  if (t <= big - small) return 0.5 + t / (2.0 * big);
  return 1.0 - (big + small - t) * (big + small - t) / (8.0 * big * small);
}

}  // namespace sim
