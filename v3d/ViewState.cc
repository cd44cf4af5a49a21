#include "v3d/ViewState.h"

namespace v3d {

bool ViewState::ProjectCamera(const math::Vec3d& c, math::Vec2d& pixel) const {
  if (perspective) {
    if (!(c[2] > 0.0)) return false;
    pixel = {width * 0.5 + focalPixels * c[0] / c[2], height * 0.5 + focalPixels * c[1] / c[2]};
  } else {
    pixel = {width * 0.5 + focalPixels * c[0], height * 0.5 + focalPixels * c[1]};
  }
  return true;
}

bool ViewState::Project(const math::Vec3d& world, math::Vec2d& pixel, double* depth) const {
  const math::Vec3d c = camera_T_world.MultP(world);
  if (depth) *depth = c[2];
  return ProjectCamera(c, pixel);
}

void ViewState::Ray(const math::Vec2d& pixel, math::Vec3d& origin, math::Vec3d& direction) const {
  const math::Frame4d world_T_camera = camera_T_world.GetInverse();
  const double u = (pixel[0] - width * 0.5) / focalPixels, v = (pixel[1] - height * 0.5) / focalPixels;
  if (perspective) {
    origin = world_T_camera.GetTrans();
    direction = world_T_camera.MultV(math::Vec3d(u, v, 1.0)).GetNormalized();
  } else {
    origin = world_T_camera.MultP(math::Vec3d(u, v, 0.0));
    direction = world_T_camera.MultV(math::Vec3d(0.0, 0.0, 1.0));
  }
}

}  // namespace v3d
