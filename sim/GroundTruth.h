#pragma once

#include <cstdint>

#include "foundation/img/UniImage.h"
#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "sim/RayCaster.h"

namespace sim {

// The pixel rays of a camera in world coordinates. Camera coordinates: z
// along the viewing direction, x to the right (increasing column), y down
// (increasing row); pixel (x, y) has its centre at the integer coordinates
// (x, y).
class RaySource {
 public:
  virtual ~RaySource() = default;
  virtual std::uint32_t GetWidth() const = 0;
  virtual std::uint32_t GetHeight() const = 0;
  // The world ray through pixel coordinates (x, y); false where the camera
  // has no ray.
  virtual bool GetPixelRay(double x, double y, Ray& ray) const = 0;
  virtual math::Frame4d GetWorldTCamera() const = 0;
};

// A distortion-free pinhole camera: camera point (x, y, z) images at pixel
// (cx + fx·x/z, cy + fy·y/z). A minimal model for tests and benchmarks of
// the virtual rig; the rig itself takes its optics from calibrated camera
// models.
class Pinhole : public RaySource {
 public:
  Pinhole(std::uint32_t width, std::uint32_t height, double fx, double fy, double cx, double cy,
          const math::Frame4d& world_T_camera);

  std::uint32_t GetWidth() const override { return m_width; }
  std::uint32_t GetHeight() const override { return m_height; }
  bool GetPixelRay(double x, double y, Ray& ray) const override;
  math::Frame4d GetWorldTCamera() const override { return m_wTc; }

  // The pixel of a world point; false for a point not in front of the camera.
  bool Project(const math::Vec3d& world, math::Vec2d& pixel) const;

 private:
  std::uint32_t m_width, m_height;
  double m_fx, m_fy, m_cx, m_cy;
  math::Frame4d m_wTc, m_cTw;
};

// world_T_camera for a camera at eye looking at target, with image rows
// running against up (the world's up appears at the top of the image).
// Throws std::invalid_argument when eye equals target or up is parallel to
// the viewing direction.
math::Frame4d LookAt(const math::Vec3d& eye, const math::Vec3d& target, const math::Vec3d& up);

// Per pixel: the surface the pixel-centre ray meets first.
struct GroundTruth {
  img::FloatImage depth;                 // camera z of the point, mm; 0 where nothing is hit
  img::UniImage<math::Vec3d> point;      // world point, mm; (0, 0, 0) where nothing is hit
  img::UniImage<std::int32_t> objectId;  // −1 where nothing is hit
};

GroundTruth ComputeGroundTruth(const RayCaster& caster, const RaySource& camera);

}  // namespace sim
