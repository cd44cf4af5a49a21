#pragma once

#include "foundation/math/Line.h"
#include "foundation/math/Plane.h"

namespace scan {

// The closest points of two lines: b on line 2 where it meets the plane
// through line 1 with normal d1 × (d1 × d2), a on line 1 where it meets the
// plane through line 2 with normal d2 × (d1 × d2). Returns |a − b|, the gap
// between the lines. A point whose line is parallel to the other plane
// (parallel lines, a zero direction) is left unchanged, and the result is
// then false through ok.
inline double ClosestPointsOfLines(const math::Line3d& line1, const math::Line3d& line2, math::Vec3d& a,
                                   math::Vec3d& b, bool* ok = nullptr) {
  const math::Vec3d n = line1.direction ^ line2.direction;
  const math::Planed plane1(line1.point, line1.direction ^ n);
  const math::Planed plane2(line2.point, line2.direction ^ n);
  const bool okB = plane1.GetIntersectPoint3d(line2, b);
  const bool okA = plane2.GetIntersectPoint3d(line1, a);
  if (ok) *ok = okA && okB;
  return (a - b).Length();
}

}  // namespace scan
