#pragma once

#include <cstdint>

#include "foundation/math/Vec.h"
#include "v3d/ViewState.h"

namespace v3d {

class Camera;
class Scene;

// The box of the visible Geos of the scene layer in world coordinates (mm),
// non-finite coordinates left out. False when there is nothing to bound.
bool ComputeSceneBounds(const Scene& scene, math::Vec3d& min, math::Vec3d& max);

// The view of a camera on a viewport: projection factor from its vertical
// field of view, near and far planes enclosing the world box (or the given
// defaults without one).
ViewState MakeViewState(const Camera& camera, std::int32_t width, std::int32_t height, const math::Vec3d* boxMin = nullptr,
                        const math::Vec3d* boxMax = nullptr);

// Standard views with world z up: the camera looks along −y (front), +y
// (back), −x (right side, from +x), +x (left side), −z (top), +z (bottom),
// or from the (+x, −y, +z) octant (isometric).
enum class StandardView { kFront, kBack, kRight, kLeft, kTop, kBottom, kIsometric };

// Camera navigation as mesh viewers do it. Angles in radians, distances in
// mm, pixels of the viewport; the camera's frame is world_T_camera (x right,
// y down, z forward).
//
// Turns the camera about its orbit centre: a horizontal drag of dx pixels
// turns about the camera's vertical axis, a vertical drag about its
// horizontal axis, by π per viewport height.
void OrbitCamera(Camera& camera, double dx, double dy, std::int32_t viewportHeight);
// Moves camera and orbit centre so that the orbit centre's depth plane
// follows the cursor by (dx, dy) pixels.
void PanCamera(Camera& camera, double dx, double dy, const ViewState& view);
// Moves the camera towards (steps > 0) or away from the point under the
// pixel at the orbit centre's depth, by 0.8^steps of the distance, so that
// the point under the cursor stays under it.
void ZoomCamera(Camera& camera, double steps, const math::Vec2d& pixel, const ViewState& view);
// Keeps the camera's orientation and moves it back from the box's centre
// until the box's bounding sphere fills the view; the orbit centre becomes
// the box's centre.
void FitCameraToView(Camera& camera, const math::Vec3d& boxMin, const math::Vec3d& boxMax, std::int32_t width,
                     std::int32_t height);
// Turns the camera into a standard view, then fits the box.
void SetStandardView(Camera& camera, StandardView view, const math::Vec3d& boxMin, const math::Vec3d& boxMax,
                     std::int32_t width, std::int32_t height);
// Looks at the box from an azimuth (about world z, 0 = from −y, positive
// counter-clockwise seen from above) and an elevation (above the xy plane),
// then fits it.
void SetViewAngles(Camera& camera, double azimuth, double elevation, const math::Vec3d& boxMin,
                   const math::Vec3d& boxMax, std::int32_t width, std::int32_t height);

}  // namespace v3d
