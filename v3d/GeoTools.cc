#include "v3d/GeoTools.h"

#include <cmath>
#include <stdexcept>

namespace v3d {

void CalcVertexNormals(Mesh& mesh) {
  if (mesh.GetPrimSize() != 3) return;
  mesh.AddVertexNormals();
  const std::size_t numVertices = mesh.GetNumVertices();
  const VertexBuffer::Position* positions = mesh.GetVertexCoords().data();
  std::vector<VertexBuffer::Normal>& normalArray = mesh.mGetVertexNormals();
  normalArray.assign(numVertices, VertexBuffer::Normal());
  VertexBuffer::Normal* normals = normalArray.data();

  const std::vector<std::uint32_t>& prims = mesh.GetPrims();
  const std::size_t numIndices = prims.size() - prims.size() % 3;
  const std::uint32_t* index = prims.data();
  // The arrays as flat floats (x, y, z per vertex, tightly packed).
  const auto* p = reinterpret_cast<const float*>(positions);
  auto* n = reinterpret_cast<float*>(normals);
  for (std::size_t t = 0; t < numIndices; t += 3) {
    const std::size_t i0 = index[t], i1 = index[t + 1], i2 = index[t + 2];
    if (i0 >= numVertices || i1 >= numVertices || i2 >= numVertices) continue;
    const float* p0 = p + 3 * i0;
    const float* p1 = p + 3 * i1;
    const float* p2 = p + 3 * i2;
    const float ax = p1[0] - p0[0], ay = p1[1] - p0[1], az = p1[2] - p0[2];
    const float bx = p2[0] - p0[0], by = p2[1] - p0[1], bz = p2[2] - p0[2];
    const float cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    for (const std::size_t i : {i0, i1, i2}) {
      float* ni = n + 3 * i;
      ni[0] += cx;
      ni[1] += cy;
      ni[2] += cz;
    }
  }
  for (std::size_t i = 0; i < numVertices; ++i) {
    const float lengthSquared = normals[i].LengthSquared();
    if (lengthSquared > 0.f) normals[i] *= 1.f / std::sqrt(lengthSquared);
  }
}

void CalcVertexNormals(Geo& geo, std::int64_t meshIndex) {
  if (meshIndex >= 0) {
    if (Mesh* mesh = geo.GetMesh(meshIndex)) CalcVertexNormals(*mesh);
    return;
  }
  for (const auto& mesh : geo) CalcVertexNormals(*mesh);
}

Mesh* CreateParallelepiped(Geo& geo, const math::Vec3f& p, const math::Vec3f& a,
                           const math::Vec3f& b, const math::Vec3f& c) {
  Mesh* mesh = geo.AddMesh(3);
  if (!mesh) throw std::logic_error("v3d::CreateParallelepiped - Could not get or create surface.");
  VertexBuffer* vertices = geo.GetVertexBuffer(&mesh->GetSurface());
  if (!vertices) {
    throw std::logic_error("v3d::CreateParallelepiped - Could not get or create vertex buffer.");
  }
  if (mesh->GetPrimSize() != 3) {
    throw std::logic_error("v3d::CreateParallelepiped - Only triangles are supported.");
  }
  vertices->ReserveVertices(vertices->GetNumVertices() + 8);
  mesh->ReservePrims(mesh->GetNumPrims() + 12);
  const std::uint32_t first = vertices->AddVertex(p);
  for (const math::Vec3f& corner : {p + a, p + b, p + c, p + a + b, p + a + c, p + b + c, p + a + b + c}) {
    vertices->AddVertex(corner);
  }
  static constexpr std::uint32_t kTriangles[12][3] = {{0, 2, 1}, {1, 2, 4}, {1, 4, 5}, {5, 4, 7},
                                                      {2, 6, 4}, {4, 6, 7}, {0, 3, 2}, {2, 3, 6},
                                                      {0, 1, 3}, {3, 1, 5}, {3, 5, 6}, {6, 5, 7}};
  for (const auto& t : kTriangles) mesh->AddPrim(first + t[0], first + t[1], first + t[2]);
  return mesh;
}

}  // namespace v3d
