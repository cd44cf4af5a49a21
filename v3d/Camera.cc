#include "v3d/Camera.h"

#include <cmath>

#include "v3d/GeoTools.h"
#include "v3d/Navigation.h"
#include "v3d/Scene.h"

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

bool Camera::OnEvent(const Event& event) {
  const std::int32_t width = event.width, height = event.height;
  if (width <= 0 || height <= 0) return false;
  if (event.kind == kEventMouse) {
    const std::uint32_t buttons = kModifierLeftButton | kModifierMiddleButton | kModifierRightButton;
    if (event.subKind != kMouseMove || !(event.modifiers & buttons)) {
      m_dragging = false;
      return false;
    }
    if (!m_dragging) {  // the first move of a drag only anchors it
      m_dragging = true;
      m_lastX = event.x;
      m_lastY = event.y;
      return false;
    }
    const double dx = event.x - m_lastX, dy = event.y - m_lastY;
    m_lastX = event.x;
    m_lastY = event.y;
    const bool pan = (event.modifiers & (kModifierMiddleButton | kModifierRightButton)) ||
                     (event.modifiers & kModifierShift);
    if (pan) {
      PanCamera(*this, dx, dy, MakeViewState(*this, width, height));
      return true;
    }
    if (m_viewScene && !m_viewScene->GetAllowCameraRotation()) return false;
    OrbitCamera(*this, dx, dy, height);
    return true;
  }
  if (event.kind == kEventWheel) {
    if (event.key == 0) return false;
    ZoomCamera(*this, event.key, {event.x + 0.5, event.y + 0.5}, MakeViewState(*this, width, height));
    return true;
  }
  if (event.kind == kEventKey && m_viewScene) {
    math::Vec3d low, high;
    if (!ComputeSceneBounds(*m_viewScene, low, high)) return false;
    const int key = event.key;
    if (key == 'F' || key == 'f') {
      FitCameraToView(*this, low, high, width, height);
      return true;
    }
    if (key >= '1' && key <= '7') {
      SetStandardView(*this, static_cast<StandardView>(key - '1'), low, high, width, height);
      return true;
    }
  }
  return false;
}

}  // namespace v3d
