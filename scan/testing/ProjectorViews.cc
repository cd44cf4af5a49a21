#include "scan/testing/ProjectorViews.h"

namespace scan::testing {

bool ExactProjectorCoordinates(const cam::CameraModel& camera, const cam::CameraModel& projector,
                               const HardwareSetup& corner, double x, double y, double& u,
                               double& v, int& panel) {
  math::Vec3d ray;
  if (!camera.PixelToCameraRay(ray, {x, y})) return false;
  math::Line<3, double> line;
  line.point = camera.GetFrame_wTc().GetTrans();
  line.direction = camera.GetFrame_wTc().MultV(ray);
  const auto& grids = corner.GetCalibGrids();
  if (grids.size() < 2) return false;
  const math::Plane<double> planes[2] = {corner.GetLeftBackgroundPlane(),
                                         corner.GetRightBackgroundPlane()};
  int hits = 0;
  math::Vec3d point;
  for (int i = 0; i < 2; ++i) {
    math::Vec3d hit;
    if (!planes[i].GetIntersectPoint3d(line, hit) ||
        math::Dot(hit - line.point, line.direction) <= 0.0)
      continue;
    const auto& g = grids[std::size_t(i)];
    const math::Vec3d q = g.world_T_plate.GetInverse() * hit;
    if (q[0] < -0.5 * g.spacingX || q[0] > (g.countX - 0.5) * g.spacingX ||
        q[1] < -0.5 * g.spacingY || q[1] > (g.countY - 0.5) * g.spacingY)
      continue;
    ++hits, point = hit, panel = i;
  }
  math::Vec2d p;
  if (hits != 1 || !projector.CameraPointToPixel(p, projector.GetFrame_cTw() * point)) return false;
  u = p[0] / projector.GetResX(), v = p[1] / projector.GetResY();
  return true;
}

ProjectorView MakeExactProjectorView(std::shared_ptr<const cam::CameraModel> camera,
                                     const cam::CameraModel& projector,
                                     const HardwareSetup& corner) {
  const std::uint32_t w = camera->GetResX(), h = camera->GetResY();
  ProjectorView view{camera, std::make_shared<img::UniImage<float>>(w, h),
                     std::make_shared<img::UniImage<float>>(w, h),
                     std::make_shared<img::UniImage<float>>(w, h)};
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      double u = 0.0, v = 0.0;
      int panel = 0;
      const bool seen = ExactProjectorCoordinates(*camera, projector, corner, x, y, u, v, panel) &&
                        u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0;
      (*view.x)(x, y) = seen ? float(u) : -1.0f;
      (*view.y)(x, y) = seen ? float(v) : -1.0f;
      (*view.quality)(x, y) = seen ? 1.0f : 0.0f;
    }
  }
  return view;
}

}  // namespace scan::testing
