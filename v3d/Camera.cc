#include "v3d/Camera.h"

#include <cmath>

#include "v3d/GeoTools.h"

namespace v3d {

Camera::Camera() : Geo("Camera") {
  CreateParallelepiped(*this, {-15.f, -10.f, -25.f}, {30.f, 0.f, 0.f}, {0.f, 20.f, 0.f},
                       {0.f, 0.f, 25.f});
  CreateParallelepiped(*this, {-6.f, -6.f, 0.f}, {12.f, 0.f, 0.f}, {0.f, 12.f, 0.f},
                       {0.f, 0.f, 10.f});
  CalcVertexNormals(*this);
}

Camera::Fov Camera::GetFov(int viewportWidth, int viewportHeight) const {
  if (!m_perspective) return m_fov;
  const float aspect =
      viewportHeight == 0 ? 1.f : static_cast<float>(viewportWidth) / static_cast<float>(viewportHeight);
  const float vertical = m_fov.vertical;
  return {vertical, 2.f * std::tan(1.f / ((1.f / std::atan(vertical / 2.f)) * aspect))};
}

}  // namespace v3d
