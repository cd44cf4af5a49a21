#include "v3d/BoundingBox.h"

#include <algorithm>

namespace v3d {

BoundingBox BoundingBox::FromMinMax(const math::Vec3f& min, const math::Vec3f& max) {
  BoundingBox box;
  const math::Vec3f d = max - min;
  box.m_origin = min;
  box.m_xAxis = math::Vec3f(d[0], 0.f, 0.f);
  box.m_yAxis = math::Vec3f(0.f, d[1], 0.f);
  box.m_zAxis = math::Vec3f(0.f, 0.f, d[2]);
  box.m_min = min;
  box.m_max = max;
  box.m_valid = max[0] >= min[0] && max[1] >= min[1] && max[2] >= min[2];
  return box;
}

BoundingBox BoundingBox::Transformed(const math::Frame4d& f) const {
  BoundingBox box;
  box.m_valid = m_valid;
  box.m_origin = f.MultP(m_origin);
  box.m_xAxis = f.MultV(m_xAxis);
  box.m_yAxis = f.MultV(m_yAxis);
  box.m_zAxis = f.MultV(m_zAxis);
  for (int corner = 0; corner < 8; ++corner) {
    math::Vec3f p = box.m_origin;
    if (corner & 1) p += box.m_xAxis;
    if (corner & 2) p += box.m_yAxis;
    if (corner & 4) p += box.m_zAxis;
    if (corner == 0) {
      box.m_min = box.m_max = p;
      continue;
    }
    for (int k = 0; k < 3; ++k) {
      box.m_min[k] = std::min(box.m_min[k], p[k]);
      box.m_max[k] = std::max(box.m_max[k], p[k]);
    }
  }
  return box;
}

}  // namespace v3d
