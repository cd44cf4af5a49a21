#pragma once

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"

namespace v3d {

// An oriented box: an origin corner and three edge vectors, plus the
// axis-aligned minimum and maximum corners, all in the coordinates of the
// node that reports it (millimetres). A default box is invalid with every
// field zero.
//
// A plain value: boxes are copied on every query, so unlike the scene's
// objects they carry no guid or version.
class BoundingBox {
 public:
  BoundingBox() = default;
  // The axis-aligned box from min to max; valid when max ≥ min on all axes.
  static BoundingBox FromMinMax(const math::Vec3f& min, const math::Vec3f& max);

  const math::Vec3f& GetOrigin() const { return m_origin; }
  const math::Vec3f& GetXAxis() const { return m_xAxis; }
  const math::Vec3f& GetYAxis() const { return m_yAxis; }
  const math::Vec3f& GetZAxis() const { return m_zAxis; }
  const math::Vec3f& GetMin() const { return m_min; }
  const math::Vec3f& GetMax() const { return m_max; }
  bool IsValid() const { return m_valid; }
  void SetValid(bool valid) { m_valid = valid; }

  // The box as seen from the parent of a node whose frame is parent_T_node:
  // origin and axes mapped through the frame (an oriented box), minimum and
  // maximum the axis-aligned bounds of the eight mapped corners. Validity
  // is kept.
  BoundingBox Transformed(const math::Frame4d& parent_T_node) const;

  friend bool operator==(const BoundingBox&, const BoundingBox&) = default;

 private:
  math::Vec3f m_origin, m_xAxis, m_yAxis, m_zAxis;
  bool m_valid = false;
  math::Vec3f m_min, m_max;
};

}  // namespace v3d
