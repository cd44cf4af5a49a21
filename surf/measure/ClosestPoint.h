#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "foundation/math/Vec.h"

namespace surf {

// The point of the triangle (a, b, c) closest to p, as barycentric weights
// (wa, wb, wc) summing to 1 (Voronoi regions of vertices, edges and face;
// a degenerate triangle gives its nearest vertex or edge point).
math::Vec3d ClosestPointOnTriangle(const math::Vec3d& p, const math::Vec3d& a, const math::Vec3d& b,
                                   const math::Vec3d& c);

// The closest point on a triangle mesh within a search radius: positions,
// normals (one per position, any length) and triangles (3 indices each) of
// one mesh, copied on construction. Triangles with an index past the
// vertex count or a corner that is not finite are left out.
//
// Queries are const and may run on several threads at once.
class TriangleSearch {
 public:
  struct Hit {
    math::Vec3f point;  // the closest point on the surface
    math::Vec3f
        normal;  // the vertex normals interpolated there, unit length (zero when they cancel)
    float distance = 0.f;  // |q − point|
    std::uint32_t triangle = 0;
  };

  TriangleSearch(std::span<const math::Vec3f> positions, std::span<const math::Vec3f> normals,
                 std::span<const std::uint32_t> triangles);
  ~TriangleSearch();
  TriangleSearch(const TriangleSearch&) = delete;
  TriangleSearch& operator=(const TriangleSearch&) = delete;

  std::size_t GetNumTriangles() const;
  // The closest surface point strictly closer to q than radius; false when
  // there is none (or q is not finite).
  bool FindClosest(const math::Vec3f& q, float radius, Hit& hit) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace surf
