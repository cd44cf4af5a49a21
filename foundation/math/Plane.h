#pragma once

#include <cmath>

#include "foundation/math/Line.h"
#include "foundation/math/Vec.h"

namespace math {

// A plane as a point on it (w = 1) followed by its normal (w = 0). The empty
// plane is point (0, 0, 0, 1) with a zero normal.
template <typename T>
struct Plane {
  Vec<4, T> point{T(0), T(0), T(0), T(1)};
  Vec<4, T> normal{T(0), T(0), T(0), T(0)};

  Plane() = default;
  Plane(const Vec<3, T>& p, const Vec<3, T>& n)
      : point(p[0], p[1], p[2], T(1)), normal(n[0], n[1], n[2], T(0)) {}
  template <typename U>
    requires(!std::is_same_v<T, U>)
  explicit Plane(const Plane<U>& other) : point(other.point), normal(other.normal) {}

  bool IsEmpty() const { return normal.LengthSquared() == T(0); }
  Vec<3, T> Point3() const { return {point[0], point[1], point[2]}; }
  Vec<3, T> Normal3() const { return {normal[0], normal[1], normal[2]}; }

  // Signed distance along the normal, in units of the normal's length.
  T SignedDistance(const Vec<3, T>& q) const { return Dot(q - Point3(), Normal3()); }

  // Intersection with a line; false when the line is parallel to the plane
  // (or the plane is empty), leaving result unchanged.
  bool GetIntersectPoint3d(const Line<3, T>& line, Vec<3, T>& result) const {
    const Vec<3, T> n = Normal3();
    const T denom = Dot(n, line.direction);
    if (denom == T(0) || !std::isfinite(denom)) return false;
    const T s = Dot(Point3() - line.point, n) / denom;
    result = line.PointAt(s);
    return true;
  }

  friend bool operator==(const Plane&, const Plane&) = default;
};

using Planed = Plane<double>;
using Planef = Plane<float>;

}  // namespace math
