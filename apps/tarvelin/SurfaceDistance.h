#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "foundation/math/Vec.h"
#include "sim/TriMesh.h"

namespace tarvelin {

// Distances from points to a triangle mesh (mm), through a uniform grid of
// cells holding the triangles that overlap them. A query searches the
// cells around the point ring by ring and stops once the nearest triangle
// found is closer than the rings searched; beyond maxDistance it gives
// maxDistance.
class SurfaceDistance {
 public:
  // cellSize > 0 (mm); a few times the mesh's edge length works well.
  SurfaceDistance(const sim::TriMesh& mesh, double cellSize);

  double Distance(const math::Vec3d& point, double maxDistance) const;

 private:
  std::int64_t Key(std::int64_t x, std::int64_t y, std::int64_t z) const;
  double Cell(double v) const;

  std::vector<math::Vec3d> m_positions;
  std::vector<sim::TriMesh::Triangle> m_triangles;
  double m_cellSize;
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> m_cells;
};

// Points near which some point of a set lies: a grid of the set's points
// with cells of the query radius.
class PointProximity {
 public:
  PointProximity(const std::vector<math::Vec3d>& points, double radius);
  bool HasPointWithin(const math::Vec3d& point) const;

 private:
  std::vector<math::Vec3d> m_points;
  double m_radius;
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> m_cells;
};

// The distance from p to the triangle (a, b, c).
double PointTriangleDistance(const math::Vec3d& p, const math::Vec3d& a, const math::Vec3d& b, const math::Vec3d& c);

}  // namespace tarvelin
