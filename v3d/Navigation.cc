#include "v3d/Navigation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "v3d/Camera.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

bool IsFinite(const math::Vec3d& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

math::Vec3d Centre(const math::Vec3d& a, const math::Vec3d& b) { return (a + b) * 0.5; }

// world_T_camera looking along forward with the camera's y axis (down on
// screen) as close to −up as possible.
math::Frame4d LookAlong(const math::Vec3d& forward, const math::Vec3d& up) {
  const math::Vec3d z = forward.GetNormalized();
  math::Vec3d x = z ^ up;  // right = forward × up
  if (x.Length() < 1e-9) x = z ^ math::Vec3d(0.0, 1.0, 0.0);
  x.Normalize();
  const math::Vec3d y = z ^ x;  // down
  math::Frame4d frame;
  frame.SetN({x[0], x[1], x[2], 0.0});
  frame.SetO({y[0], y[1], y[2], 0.0});
  frame.SetA({z[0], z[1], z[2], 0.0});
  return frame;
}

}  // namespace

bool ComputeSceneBounds(const Scene& scene, math::Vec3d& min, math::Vec3d& max) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  min = {kInf, kInf, kInf};
  max = {-kInf, -kInf, -kInf};
  bool any = false;
  for (const Node* node : scene.GetNodes()) {
    const auto* geo = dynamic_cast<const Geo*>(node);
    if (!geo || geo->GetRenderLayer() != kLayerScene || !geo->IsVisible()) continue;
    const math::Frame4d world_T_geo = geo->GetWorldFrame();
    for (const auto& mesh : *geo) {
      for (const math::Vec3f& p : mesh->GetVertexCoords()) {
        const math::Vec3d q = world_T_geo.MultP(math::Vec3d(p));
        if (!IsFinite(q)) continue;
        for (int k = 0; k < 3; ++k) {
          min[k] = std::min(min[k], q[k]);
          max[k] = std::max(max[k], q[k]);
        }
        any = true;
      }
    }
  }
  return any;
}

ViewState MakeViewState(const Camera& camera, std::int32_t width, std::int32_t height, const math::Vec3d* boxMin,
                        const math::Vec3d* boxMax) {
  ViewState view;
  view.width = width;
  view.height = height;
  view.perspective = camera.IsPerspective();
  view.camera_T_world = camera.GetWorldFrame().GetInverse();
  const Camera::Fov fov = camera.GetFov(width, height);
  if (view.perspective) {
    view.focalPixels = height * 0.5 / std::tan(std::max(fov.vertical, 1e-4f) * 0.5);
  } else {
    view.focalPixels = fov.vertical > 0.f ? height / static_cast<double>(fov.vertical) : 1.0;
  }
  if (boxMin && boxMax) {
    // Depth range of the box's corners, widened a little.
    double nearest = std::numeric_limits<double>::infinity(), farthest = -nearest;
    for (int corner = 0; corner < 8; ++corner) {
      const math::Vec3d p((corner & 1 ? *boxMax : *boxMin)[0], (corner & 2 ? *boxMax : *boxMin)[1],
                          (corner & 4 ? *boxMax : *boxMin)[2]);
      const double z = view.camera_T_world.MultP(p)[2];
      nearest = std::min(nearest, z);
      farthest = std::max(farthest, z);
    }
    // The margin keeps markers of constant screen size (a few per cent of
    // their depth) and thin or flat boxes inside the range.
    const double margin = 0.05 * (farthest - nearest) + 0.05 * std::abs(farthest) + 1e-3;
    view.farMm = std::max(farthest + margin, 1e-2);
    view.nearMm = view.perspective ? std::max(nearest - margin, view.farMm * 1e-4) : nearest - margin;
  }
  return view;
}

void OrbitCamera(Camera& camera, double dx, double dy, std::int32_t viewportHeight) {
  if (viewportHeight <= 0) return;
  const double perPixel = std::numbers::pi / viewportHeight;
  const math::Frame4d world_T_camera = camera.GetFrame();
  const math::Vec3d centre(camera.GetOrbitCenter());
  const math::Vec3d down = world_T_camera.MultV(math::Vec3d(0.0, 1.0, 0.0));
  const math::Vec3d right = world_T_camera.MultV(math::Vec3d(1.0, 0.0, 0.0));
  // Dragging right turns the scene right: the camera goes left about "down".
  math::Frame4d turn = math::FRotAxis(down, dx * perPixel) * math::FRotAxis(right, -dy * perPixel);
  const math::Frame4d about = math::FTrans(centre) * turn * math::FTrans(-centre);
  camera.SetFrame(about * world_T_camera);
}

void PanCamera(Camera& camera, double dx, double dy, const ViewState& view) {
  const math::Vec3d centre(camera.GetOrbitCenter());
  double depth = view.camera_T_world.MultP(centre)[2];
  if (view.perspective && !(depth > 0.0)) depth = 1.0;
  const double mmPerPixel = view.perspective ? depth / view.focalPixels : 1.0 / view.focalPixels;
  const math::Frame4d world_T_camera = camera.GetFrame();
  const math::Vec3d shift = world_T_camera.MultV(math::Vec3d(-dx * mmPerPixel, -dy * mmPerPixel, 0.0));
  camera.SetFrame(math::FTrans(shift) * world_T_camera);
  camera.SetOrbitCenter(math::Vec3f(centre + shift));
}

void ZoomCamera(Camera& camera, double steps, const math::Vec2d& pixel, const ViewState& view) {
  const double keep = std::pow(0.8, steps);
  if (!view.perspective) {
    Camera::Fov fov = camera.GetFov(view.width, view.height);
    camera.SetFov(static_cast<float>(fov.vertical * keep), static_cast<float>(fov.horizontal * keep));
    return;
  }
  const math::Vec3d centre(camera.GetOrbitCenter());
  double depth = view.camera_T_world.MultP(centre)[2];
  if (!(depth > 0.0)) depth = 100.0;
  const double u = (pixel[0] - view.width * 0.5) / view.focalPixels;
  const double v = (pixel[1] - view.height * 0.5) / view.focalPixels;
  const math::Frame4d world_T_camera = camera.GetFrame();
  // Towards the point at the orbit centre's depth under the cursor.
  const math::Vec3d shift = world_T_camera.MultV(math::Vec3d(u * depth, v * depth, depth) * (1.0 - keep));
  camera.SetFrame(math::FTrans(shift) * world_T_camera);
}

void FitCameraToView(Camera& camera, const math::Vec3d& boxMin, const math::Vec3d& boxMax, std::int32_t width,
                     std::int32_t height) {
  const math::Vec3d centre = Centre(boxMin, boxMax);
  const double radius = std::max((boxMax - boxMin).Length() * 0.5, 1e-3);
  math::Frame4d frame = camera.GetFrame();
  const math::Vec3d forward = frame.MultV(math::Vec3d(0.0, 0.0, 1.0));
  const Camera::Fov fov = camera.GetFov(width, height);
  const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
  if (camera.IsPerspective()) {
    const double halfVertical = 0.5 * fov.vertical;
    const double half = std::min(halfVertical, std::atan(std::tan(halfVertical) * aspect));
    const double distance = radius / std::sin(std::max(half, 1e-3)) * 1.02;
    frame.SetTrans(centre - forward * distance);
  } else {
    frame.SetTrans(centre - forward * (radius * 4.0));
    const double extent = 2.04 * radius * std::max(1.0, 1.0 / aspect);
    camera.SetFov(static_cast<float>(extent), static_cast<float>(extent * aspect));
  }
  camera.SetFrame(frame);
  camera.SetOrbitCenter(math::Vec3f(centre));
}

void SetStandardView(Camera& camera, StandardView view, const math::Vec3d& boxMin, const math::Vec3d& boxMax,
                     std::int32_t width, std::int32_t height) {
  const math::Vec3d up(0.0, 0.0, 1.0);
  math::Frame4d frame;
  switch (view) {
    case StandardView::kFront:
      frame = LookAlong({0.0, 1.0, 0.0}, up);
      break;
    case StandardView::kBack:
      frame = LookAlong({0.0, -1.0, 0.0}, up);
      break;
    case StandardView::kRight:
      frame = LookAlong({-1.0, 0.0, 0.0}, up);
      break;
    case StandardView::kLeft:
      frame = LookAlong({1.0, 0.0, 0.0}, up);
      break;
    case StandardView::kTop:
      frame = LookAlong({0.0, 0.0, -1.0}, {0.0, 1.0, 0.0});
      break;
    case StandardView::kBottom:
      frame = LookAlong({0.0, 0.0, 1.0}, {0.0, 1.0, 0.0});
      break;
    case StandardView::kIsometric:
      frame = LookAlong({-1.0, 1.0, -1.0}, up);
      break;
  }
  camera.SetFrame(frame);
  FitCameraToView(camera, boxMin, boxMax, width, height);
}

void SetViewAngles(Camera& camera, double azimuth, double elevation, const math::Vec3d& boxMin,
                   const math::Vec3d& boxMax, std::int32_t width, std::int32_t height) {
  // The camera sits at azimuth 0 on −y and looks along +y.
  const math::Vec3d toCamera(std::sin(azimuth) * std::cos(elevation), -std::cos(azimuth) * std::cos(elevation),
                             std::sin(elevation));
  camera.SetFrame(LookAlong(-toCamera, {0.0, 0.0, 1.0}));
  FitCameraToView(camera, boxMin, boxMax, width, height);
}

}  // namespace v3d
