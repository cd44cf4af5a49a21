#pragma once

#include "foundation/math/Vec.h"
#include "v3d/Geo.h"

namespace v3d {

// The view's camera, drawn as a small box (30 × 20 × 25 mm body with a lens
// box in front, along +z, the viewing direction). Its frame is world_T_camera.
// Angles in radians.
class Camera : public Geo {
 public:
  struct Fov {
    float vertical = 0.f;
    float horizontal = 0.f;
  };
  static constexpr float kDefaultFov = 0.78539816f;  // 45°

  Camera();

  bool IsPerspective() const { return m_perspective; }
  void SetPerspective(bool perspective) { m_perspective = perspective; }
  // The stored pair: the angles of a perspective camera, the view extents
  // (mm) of a parallel one.
  void SetFov(float vertical, float horizontal) { m_fov = {vertical, horizontal}; }
  // Perspective: the vertical angle and the horizontal angle
  // 2·tan(atan(vertical / 2) / aspect), aspect = width / height (1 for a
  // height of 0); this equals the vertical angle at aspect 1. Parallel: the
  // stored pair.
  Fov GetFov(int viewportWidth, int viewportHeight) const;

  const math::Vec3f& GetOrbitCenter() const { return m_orbitCenter; }
  void SetOrbitCenter(const math::Vec3f& center) { m_orbitCenter = center; }

  // Navigation (the scene offers the camera the events nobody else took):
  // left drag orbits about the orbit centre (when the scene allows camera
  // rotation), right or middle drag and shift + left drag pan, the wheel
  // zooms to the cursor, "F" fits the scene to the view and "1"…"7" give the
  // standard views front, back, right, left, top, bottom and isometric.
  // Events carry the viewport size in width and height. True when the camera
  // moved.
  bool OnEvent(const Event& event) override;
  // The scene whose camera slot holds the camera (set by Scene::SetCamera).
  void SetViewScene(Scene* scene) { m_viewScene = scene; }

 private:
  bool m_dragging = false;
  std::int32_t m_lastX = 0, m_lastY = 0;
  Scene* m_viewScene = nullptr;
  bool m_perspective = true;
  Fov m_fov{kDefaultFov, kDefaultFov};
  math::Vec3f m_orbitCenter;
};

}  // namespace v3d
