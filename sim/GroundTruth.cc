#include "sim/GroundTruth.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>
#include <vector>

namespace sim {

Pinhole::Pinhole(std::uint32_t width, std::uint32_t height, double fx, double fy, double cx,
                 double cy, const math::Frame4d& world_T_camera)
    : m_width(width),
      m_height(height),
      m_fx(fx),
      m_fy(fy),
      m_cx(cx),
      m_cy(cy),
      m_wTc(world_T_camera),
      m_cTw(world_T_camera.GetInverse()) {
  if (width == 0 || height == 0 || !(fx > 0) || !(fy > 0) || !std::isfinite(cx) ||
      !std::isfinite(cy) || !world_T_camera.IsOrthoNorm(1e-9)) {
    throw std::invalid_argument("sim::Pinhole::Pinhole - Invalid size, focal length or pose.");
  }
}

bool Pinhole::GetPixelRay(double x, double y, Ray& ray) const {
  ray.origin = m_wTc.GetTrans();
  ray.direction = m_wTc.MultV(math::Vec3d((x - m_cx) / m_fx, (y - m_cy) / m_fy, 1.0));
  return true;
}

bool Pinhole::Project(const math::Vec3d& world, math::Vec2d& pixel) const {
  const math::Vec3d c = m_cTw.MultP(world);
  if (!(c[2] > 0)) return false;
  pixel = math::Vec2d(m_cx + m_fx * c[0] / c[2], m_cy + m_fy * c[1] / c[2]);
  return true;
}

math::Frame4d LookAt(const math::Vec3d& eye, const math::Vec3d& target, const math::Vec3d& up) {
  const math::Vec3d a = (target - eye).GetNormalized();
  math::Vec3d n = a ^ up;  // camera x: right in the image
  if (a.LengthSquared() == 0 || n.Length() < 1e-12 * up.Length() || up.LengthSquared() == 0) {
    throw std::invalid_argument("sim::LookAt - Degenerate viewing direction or up vector.");
  }
  n.Normalize();
  const math::Vec3d o = a ^ n;  // camera y: down in the image
  math::Frame4d f;
  f.SetN(math::Vec4d(n[0], n[1], n[2], 0.0));
  f.SetO(math::Vec4d(o[0], o[1], o[2], 0.0));
  f.SetA(math::Vec4d(a[0], a[1], a[2], 0.0));
  f.SetTrans(eye);
  return f;
}

GroundTruth ComputeGroundTruth(const RayCaster& caster, const RaySource& camera) {
  const std::uint32_t w = camera.GetWidth(), h = camera.GetHeight();
  GroundTruth truth;
  truth.depth.ResetSize(w, h);
  truth.point.ResetSize(w, h);
  truth.objectId.ResetSize(w, h);
  const math::Frame4d cTw = camera.GetWorldTCamera().GetInverse();
  // Rows in bands, so that each batch keeps every thread busy.
  constexpr std::uint32_t kBand = 32;
  std::vector<Ray> rays(std::size_t{w} * kBand);
  std::vector<Hit> hits(rays.size());
  std::vector<std::uint8_t> valid(rays.size());
  for (std::uint32_t y0 = 0; y0 < h; y0 += kBand) {
    const std::uint32_t rows = std::min(kBand, h - y0);
    const std::size_t n = std::size_t{w} * rows;
    for (std::size_t i = 0; i < n; ++i) {
      const double x = static_cast<double>(i % w), y = static_cast<double>(y0 + i / w);
      valid[i] = camera.GetPixelRay(x, y, rays[i]) ? 1 : 0;
      if (!valid[i]) rays[i] = Ray();  // a zero direction misses
    }
    caster.Intersect(std::span<const Ray>(rays.data(), n), std::span<Hit>(hits.data(), n));
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t x = static_cast<std::uint32_t>(i % w),
                          y = y0 + static_cast<std::uint32_t>(i / w);
      const Hit& hit = hits[i];
      if (valid[i] && hit.IsHit()) {
        truth.depth(x, y) = static_cast<float>(cTw.MultP(hit.point)[2]);
        truth.point(x, y) = hit.point;
        truth.objectId(x, y) = hit.objectId;
      } else {
        truth.depth(x, y) = 0.f;
        truth.point(x, y) = math::Vec3d();
        truth.objectId(x, y) = -1;
      }
    }
  }
  return truth;
}

}  // namespace sim
