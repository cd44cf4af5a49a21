#pragma once

// A synthetic triangulation scene with known geometry, for tests and
// benchmarks: a plane z = planeZ (world, mm) facing the rig and a sphere in
// front of it, seen by cameras and lit by a projector with known models.
// For every camera pixel the true surface point, its depth and its exact
// projector coordinates are computed from the geometry.

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>

#include "cam/CameraModelFunctions.h"
#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "cam/SyntheticTargets.h"
#include "foundation/img/UniImage.h"

namespace scan::testing {

struct DepthScene {
  double planeZ = 400.0;
  math::Vec3d sphereCentre{0.0, 0.0, 375.0};
  double sphereRadius = 18.0;

  enum Surface : std::uint8_t { kNone = 0, kPlane = 1, kSphere = 2 };

  // The first surface point hit by a world line (direction need not be unit),
  // with its surface; kNone when nothing is hit in front.
  Surface Hit(const math::Line3d& line, math::Vec3d& point) const {
    const math::Vec3d d = line.direction;
    double best = HUGE_VAL;
    Surface surface = kNone;
    if (d[2] != 0.0) {
      const double t = (planeZ - line.point[2]) / d[2];
      if (t > 0.0) best = t, surface = kPlane;
    }
    const math::Vec3d m = line.point - sphereCentre;
    const double a = Dot(d, d), b = 2.0 * Dot(m, d), c = Dot(m, m) - sphereRadius * sphereRadius;
    const double disc = b * b - 4.0 * a * c;
    if (disc >= 0.0) {
      const double t = (-b - std::sqrt(disc)) / (2.0 * a);
      if (t > 0.0 && t < best) best = t, surface = kSphere;
    }
    if (surface != kNone) point = line.PointAt(best);
    return surface;
  }

  // Whether the projector lights the point: the first hit of the projector's
  // line to it is the point itself.
  bool Lit(const math::Vec3d& point, const cam::CameraModel& projector) const {
    const math::Vec3d centre = projector.GetFrame_wTc().GetTrans();
    math::Vec3d first;
    if (Hit({centre, point - centre}, first) == kNone) return false;
    return (first - point).Length() < 1e-6;
  }
};

// Per camera pixel: projector coordinates (−1 where unlit or unseen),
// quality (1 or 0), the true depth (0 where invalid) and the surface.
struct SceneImages {
  img::UniImage<float> phaseX, phaseY, quality;
  img::UniImage<double> depth;
  img::UniImage<std::uint8_t> surface;
};

inline SceneImages RenderScene(const DepthScene& scene, const cam::CameraModel& camera,
                               const cam::CameraModel& projector) {
  const std::uint32_t w = camera.GetResX(), h = camera.GetResY();
  SceneImages out{{w, h}, {w, h}, {w, h}, {w, h}, {w, h}};
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      out.phaseX(x, y) = out.phaseY(x, y) = -1.0f;
      out.quality(x, y) = 0.0f;
      out.depth(x, y) = 0.0;
      out.surface(x, y) = DepthScene::kNone;
      math::Line3d line;
      math::Vec3d point;
      math::Vec2d uv;
      if (!cam::PixelToWorldLine(line, {double(x), double(y)}, camera)) continue;
      const DepthScene::Surface surface = scene.Hit(line, point);
      if (surface == DepthScene::kNone || !scene.Lit(point, projector) ||
          !cam::WorldPointToPixel(uv, point, projector) || uv[0] < 0.0 || uv[0] > 1.0 || uv[1] < 0.0 ||
          uv[1] > 1.0) {
        continue;
      }
      out.phaseX(x, y) = float(uv[0]);
      out.phaseY(x, y) = float(uv[1]);
      out.quality(x, y) = 1.0f;
      out.depth(x, y) = cam::WorldPointToDepth(point, camera);
      out.surface(x, y) = surface;
    }
  }
  return out;
}

// A Tsai camera at eye looking at target (world y down), f in pixels.
inline std::shared_ptr<cam::CameraModelTsai> MakeCamera(const math::Vec3d& eye, const math::Vec3d& target,
                                                        std::uint32_t w, std::uint32_t h, double f,
                                                        double kappa1) {
  auto camera = std::make_shared<cam::CameraModelTsai>();
  camera->SetIntrinsics(w / 2.0 + 3.5, h / 2.0 - 2.5, f, 1.0, kappa1);
  camera->SetResolution(w, h);
  camera->SetFrame_wTc(cam::synthetic::LookAt(eye, target, {0.0, 1.0, 0.0}, 0.0));
  return camera;
}

// A projector as an inverse OCV camera on the unit square; f in units of
// the image width per unit tangent.
inline std::shared_ptr<cam::CameraModelOCV> MakeProjector(const math::Vec3d& eye, const math::Vec3d& target,
                                                          double f, bool distorted) {
  auto projector = std::make_shared<cam::CameraModelOCV>();
  cam::CameraModelOCVIntrinsics c;
  c.cx = 0.5;
  c.cy = 0.55;
  c.f = f;
  c.sx = 1.0;
  if (distorted) {
    c.k1 = 0.08;
    c.k2 = -0.02;
    c.p1 = 0.002;
    c.p2 = -0.001;
  }
  projector->SetIntrinsics(c, 1, 1);
  projector->SetFrame_wTc(cam::synthetic::LookAt(eye, target, {0.0, 1.0, 0.0}, 0.0));
  return projector;
}

// The rig of the tests: two telephoto cameras left and right of a projector
// above them, all aimed at the sphere in front of the plane.
struct Rig {
  DepthScene scene;
  std::shared_ptr<cam::CameraModelTsai> camera1, camera2;
  std::shared_ptr<cam::CameraModelOCV> projector;
};

// With vertical, the cameras stand above each other and the projector
// beside them (for vertical phase).
inline Rig MakeRig(std::uint32_t w, std::uint32_t h, bool distortedProjector, bool vertical = false) {
  Rig rig;
  const math::Vec3d target{0.0, 0.0, 385.0};
  const double f = 5.0 * w;  // about 11° across the image
  auto place = [vertical](double x, double y, double z) {
    return vertical ? math::Vec3d(y, x, z) : math::Vec3d(x, y, z);
  };
  const double k = (400.0 / w) * (400.0 / w);
  rig.camera1 = MakeCamera(place(-90.0, 5.0, 0.0), target, w, h, f, 2e-9 * k);
  rig.camera2 = MakeCamera(place(95.0, -4.0, 2.0), target, w, h, f, -1e-9 * k);
  rig.projector = MakeProjector(place(10.0, -60.0, -10.0), target, 3.2, distortedProjector);
  return rig;
}

}  // namespace scan::testing
