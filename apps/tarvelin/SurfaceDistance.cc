#include "apps/tarvelin/SurfaceDistance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tarvelin {
namespace {

// Cell coordinates are packed 21 bits each (offset to stay positive).
constexpr std::int64_t kOffset = 1 << 20;

std::int64_t Pack(std::int64_t x, std::int64_t y, std::int64_t z) {
  return ((x + kOffset) << 42) | ((y + kOffset) << 21) | (z + kOffset);
}

}  // namespace

double PointTriangleDistance(const math::Vec3d& p, const math::Vec3d& a, const math::Vec3d& b, const math::Vec3d& c) {
  // The closest point by the triangle's Voronoi regions.
  const math::Vec3d ab = b - a, ac = c - a, ap = p - a;
  const double d1 = math::Dot(ab, ap), d2 = math::Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return (p - a).Length();
  const math::Vec3d bp = p - b;
  const double d3 = math::Dot(ab, bp), d4 = math::Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return (p - b).Length();
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return (p - (a + ab * (d1 / (d1 - d3)))).Length();
  const math::Vec3d cp = p - c;
  const double d5 = math::Dot(ab, cp), d6 = math::Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return (p - c).Length();
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return (p - (a + ac * (d2 / (d2 - d6)))).Length();
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
    return (p - (b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6))))).Length();
  const double denominator = va + vb + vc;
  if (!(std::abs(denominator) > 0)) return (p - a).Length();  // degenerate triangle
  const double v = vb / denominator, w = vc / denominator;
  return (p - (a + ab * v + ac * w)).Length();
}

SurfaceDistance::SurfaceDistance(const sim::TriMesh& mesh, double cellSize) : m_cellSize(cellSize) {
  if (!(cellSize > 0)) throw std::invalid_argument("SurfaceDistance::SurfaceDistance - the cell size must be > 0");
  m_positions.reserve(mesh.positions.size());
  for (const auto& p : mesh.positions) m_positions.emplace_back(p[0], p[1], p[2]);
  m_triangles = mesh.triangles;
  for (std::uint32_t t = 0; t < m_triangles.size(); ++t) {
    math::Vec3d lo = m_positions[m_triangles[t][0]], hi = lo;
    for (int k = 1; k < 3; ++k) {
      const math::Vec3d& q = m_positions[m_triangles[t][k]];
      for (int i = 0; i < 3; ++i) {
        lo[i] = std::min(lo[i], q[i]);
        hi[i] = std::max(hi[i], q[i]);
      }
    }
    for (auto x = std::int64_t(Cell(lo[0])); x <= std::int64_t(Cell(hi[0])); ++x)
      for (auto y = std::int64_t(Cell(lo[1])); y <= std::int64_t(Cell(hi[1])); ++y)
        for (auto z = std::int64_t(Cell(lo[2])); z <= std::int64_t(Cell(hi[2])); ++z) m_cells[Key(x, y, z)].push_back(t);
  }
}

double SurfaceDistance::Cell(double v) const { return std::floor(v / m_cellSize); }

std::int64_t SurfaceDistance::Key(std::int64_t x, std::int64_t y, std::int64_t z) const { return Pack(x, y, z); }

double SurfaceDistance::Distance(const math::Vec3d& point, double maxDistance) const {
  const auto cx = std::int64_t(Cell(point[0])), cy = std::int64_t(Cell(point[1])), cz = std::int64_t(Cell(point[2]));
  const int maxRing = int(std::ceil(maxDistance / m_cellSize)) + 1;
  double best = std::numeric_limits<double>::infinity();
  for (int ring = 0; ring <= maxRing; ++ring) {
    // Cells at Chebyshev distance ring from the point's cell.
    for (std::int64_t x = cx - ring; x <= cx + ring; ++x)
      for (std::int64_t y = cy - ring; y <= cy + ring; ++y)
        for (std::int64_t z = cz - ring; z <= cz + ring; ++z) {
          if (std::max({std::abs(x - cx), std::abs(y - cy), std::abs(z - cz)}) != ring) continue;
          const auto it = m_cells.find(Key(x, y, z));
          if (it == m_cells.end()) continue;
          for (const std::uint32_t t : it->second) {
            const auto& tri = m_triangles[t];
            best = std::min(best, PointTriangleDistance(point, m_positions[tri[0]], m_positions[tri[1]],
                                                        m_positions[tri[2]]));
          }
        }
    // Every cell not yet searched is farther than ring cells from the point.
    if (best <= ring * m_cellSize) break;
  }
  return std::min(best, maxDistance);
}

PointProximity::PointProximity(const std::vector<math::Vec3d>& points, double radius)
    : m_points(points), m_radius(radius) {
  if (!(radius > 0)) throw std::invalid_argument("PointProximity::PointProximity - the radius must be > 0");
  for (std::uint32_t i = 0; i < m_points.size(); ++i) {
    const auto& p = m_points[i];
    m_cells[Pack(std::int64_t(std::floor(p[0] / radius)), std::int64_t(std::floor(p[1] / radius)),
                 std::int64_t(std::floor(p[2] / radius)))]
        .push_back(i);
  }
}

bool PointProximity::HasPointWithin(const math::Vec3d& p) const {
  const auto cx = std::int64_t(std::floor(p[0] / m_radius)), cy = std::int64_t(std::floor(p[1] / m_radius)),
             cz = std::int64_t(std::floor(p[2] / m_radius));
  const double r2 = m_radius * m_radius;
  for (std::int64_t x = cx - 1; x <= cx + 1; ++x)
    for (std::int64_t y = cy - 1; y <= cy + 1; ++y)
      for (std::int64_t z = cz - 1; z <= cz + 1; ++z) {
        const auto it = m_cells.find(Pack(x, y, z));
        if (it == m_cells.end()) continue;
        for (const std::uint32_t i : it->second)
          if ((m_points[i] - p).LengthSquared() <= r2) return true;
      }
  return false;
}

}  // namespace tarvelin
