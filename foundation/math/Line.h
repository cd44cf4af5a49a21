#pragma once

#include "foundation/math/Vec.h"

namespace math {

// A line in N-space through point along direction (not necessarily unit).
template <std::size_t N, typename T>
struct Line {
  Vec<N, T> point;
  Vec<N, T> direction;

  Vec<N, T> PointAt(T s) const { return point + direction * s; }
};

// Distance of q from the line; a zero direction gives the distance to its point.
template <typename T>
T Line_Point_Distance(const Line<3, T>& line, const Vec<3, T>& q) {
  const Vec<3, T> d = q - line.point;
  const T len2 = line.direction.LengthSquared();
  if (len2 == T(0)) return d.Length();
  return (line.direction ^ d).Length() / std::sqrt(len2);
}

using Line3d = Line<3, double>;
using Line3f = Line<3, float>;

}  // namespace math
