#pragma once

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"

namespace math {

// A rigid motion as six doubles (vx, vy, vz, wx, wy, wz): a translational
// part v followed by a rotational part w (unit axis times angle, radians).
class Twist {
 public:
  Twist() = default;
  Twist(const Vec3d& v, const Vec3d& w) : m_v(v), m_w(w) {}
  explicit Twist(const Vec6d& values)
      : m_v(values[0], values[1], values[2]), m_w(values[3], values[4], values[5]) {}

  // The frame of this twist: R = Rodrigues(w); t = (I−R)(ŵ×v') + ŵ(ŵ·v')θ
  // with θ = |w|, ŵ = w/θ, v' = v/θ; a pure translation by v when θ = 0.
  Frame<double> Exp() const;
  // The twist whose Exp is the rigid part of frame. For a rotation by π the
  // rotational part is π times the unit axis (the axis sign is that of the
  // largest diagonal element's column).
  static Twist Log(const Frame<double>& frame);

  const Vec3d& GetTrans() const { return m_v; }
  // The rotational part w.
  const Vec3d& GetRot() const { return m_w; }
  // The unit rotation axis, zero when there is no rotation.
  Vec3d GetAxis() const { return m_w.GetNormalized(); }
  double GetAngle() const { return m_w.Length(); }
  Vec6d ToVec() const { return {m_v[0], m_v[1], m_v[2], m_w[0], m_w[1], m_w[2]}; }

 private:
  Vec3d m_v;
  Vec3d m_w;
};

}  // namespace math
