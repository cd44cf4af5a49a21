#include "surf/fusion/MeshMeasures.h"

#include "foundation/math/Vec.h"

namespace surf {
namespace {

using math::Vec3d;

Vec3d Point(const float* positions, std::uint32_t i) {
  return {positions[3 * std::size_t(i)], positions[3 * std::size_t(i) + 1], positions[3 * std::size_t(i) + 2]};
}

// Calls f(p0, p1, p2) for every triangle with all indices in range.
template <typename F>
void ForEachTriangle(const float* positions, std::size_t numVertices, const std::uint32_t* indices,
                     std::size_t numTriangles, F&& f) {
  for (std::size_t t = 0; t < numTriangles; ++t) {
    const std::uint32_t* q = indices + 3 * t;
    if (q[0] >= numVertices || q[1] >= numVertices || q[2] >= numVertices) continue;
    f(Point(positions, q[0]), Point(positions, q[1]), Point(positions, q[2]));
  }
}

// Triangles of one mesh: prim size 3 as they are, quads split in two.
template <typename F>
void ForEachMeshTriangle(const v3d::Mesh& mesh, F&& f) {
  const std::uint32_t size = mesh.GetPrimSize();
  if (size != 3 && size != 4) return;
  const auto* positions = reinterpret_cast<const float*>(mesh.GetVertexCoords().data());
  const std::size_t n = mesh.GetNumVertices();
  const std::vector<std::uint32_t>& prims = mesh.GetPrims();
  for (std::size_t p = 0; p + size <= prims.size(); p += size) {
    const std::uint32_t* q = prims.data() + p;
    ForEachTriangle(positions, n, q, 1, f);
    if (size == 4) {
      const std::uint32_t second[3] = {q[0], q[2], q[3]};
      ForEachTriangle(positions, n, second, 1, f);
    }
  }
}

double TriangleArea(const Vec3d& a, const Vec3d& b, const Vec3d& c) { return 0.5 * ((b - a) ^ (c - a)).Length(); }
double TetraVolume(const Vec3d& a, const Vec3d& b, const Vec3d& c) { return math::Dot(a, b ^ c) / 6.0; }

}  // namespace

double ComputeTriangleMeshArea(const float* positions, std::size_t numVertices, const std::uint32_t* indices,
                               std::size_t numTriangles) {
  double area = 0.0;
  ForEachTriangle(positions, numVertices, indices, numTriangles,
                  [&](const Vec3d& a, const Vec3d& b, const Vec3d& c) { area += TriangleArea(a, b, c); });
  return area;
}

double ComputeTriangleMeshVolume(const float* positions, std::size_t numVertices, const std::uint32_t* indices,
                                 std::size_t numTriangles) {
  double volume = 0.0;
  ForEachTriangle(positions, numVertices, indices, numTriangles,
                  [&](const Vec3d& a, const Vec3d& b, const Vec3d& c) { volume += TetraVolume(a, b, c); });
  return volume;
}

double ComputeTriangleMeshArea(const v3d::Geo& geo) {
  double area = 0.0;
  for (const auto& mesh : geo) {
    ForEachMeshTriangle(*mesh, [&](const Vec3d& a, const Vec3d& b, const Vec3d& c) { area += TriangleArea(a, b, c); });
  }
  return area;
}

double ComputeTriangleMeshVolume(const v3d::Geo& geo) {
  double volume = 0.0;
  for (const auto& mesh : geo) {
    ForEachMeshTriangle(*mesh,
                        [&](const Vec3d& a, const Vec3d& b, const Vec3d& c) { volume += TetraVolume(a, b, c); });
  }
  return volume;
}

}  // namespace surf
