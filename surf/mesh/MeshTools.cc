#include "surf/mesh/MeshTools.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "foundation/utils/Exception.h"
#include "surf/mesh/IndexMapping.h"

namespace surf {

std::shared_ptr<v3d::Geo> IndexedFaceSet2Geo(const float* positions, std::size_t numVertices,
                                             const std::uint32_t* indices, std::size_t numTriangles,
                                             const float* textureCoordinates, bool flipV) {
  auto geo = std::make_shared<v3d::Geo>();
  v3d::Mesh* mesh = geo->GetNumMeshes() > 0 ? geo->GetMesh(0) : geo->AddMesh(3);
  if (!mesh) throw utils::Exception("IndexedFaceSet2Geo", "Could not get or create surface.");
  v3d::VertexBuffer* buffer = geo->GetVertexBuffer(mesh);
  if (!buffer) throw utils::Exception("IndexedFaceSet2Geo", "Could not get or create vertex buffer.");
  v3d::Surface& surface = mesh->GetSurface();

  if (textureCoordinates) buffer->AddVertexTexCoords();
  buffer->ReserveVertices(numVertices);
  for (std::size_t i = 0; i < numVertices; ++i) {
    buffer->AddVertex({positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]});
  }
  if (textureCoordinates) {
    for (std::size_t i = 0; i < numVertices; ++i) {
      const float u = textureCoordinates[2 * i], v = textureCoordinates[2 * i + 1];
      buffer->mGetVertexTexCoords()[i] = {u, flipV ? 1.0f - v : v};
    }
  }
  surface.ReservePrims(numTriangles);
  for (std::size_t t = 0; t < numTriangles; ++t) {
    const std::uint32_t* tri = indices + 3 * t;
    if (tri[0] >= numVertices || tri[1] >= numVertices || tri[2] >= numVertices) continue;
    surface.AddPrim(tri[0], tri[1], tri[2]);
  }
  return geo;
}

std::shared_ptr<v3d::Geo> MeshToGeo(const std::vector<float>& vertices, const std::vector<std::uint32_t>& indices,
                                    const std::vector<float>& textureCoordinates, bool flipV) {
  const std::size_t numVertices = vertices.size() / 3;
  if (numVertices == 0 || indices.empty()) return nullptr;
  const float* texture = nullptr;
  if (textureCoordinates.size() == 2 * numVertices) {
    texture = textureCoordinates.data();
  } else if (!textureCoordinates.empty()) {
    std::cout << "Number of texture coordinates does not match the number of vertices.\nSorry this type of "
                 "texture is not supported.";
  }
  return IndexedFaceSet2Geo(vertices.data(), numVertices, indices.data(), indices.size() / 3, texture, flipV);
}

void RemoveBorderTriangles(std::vector<std::uint32_t>& indices) {
  std::cout << "Remove border triangles... ";
  const std::size_t numTriangles = indices.size() / 3;
  auto key = [](std::uint32_t a, std::uint32_t b) { return (std::uint64_t(a) << 32) | b; };
  // The directed edges of all triangles, sorted: counting an edge is a
  // binary search.
  std::vector<std::uint64_t> edges;
  edges.reserve(3 * numTriangles);
  for (std::size_t t = 0; t < numTriangles; ++t) {
    const std::uint32_t a = indices[3 * t], b = indices[3 * t + 1], c = indices[3 * t + 2];
    edges.insert(edges.end(), {key(a, b), key(b, c), key(c, a)});
  }
  std::sort(edges.begin(), edges.end());
  auto count = [&edges](std::uint64_t e) {
    const auto range = std::equal_range(edges.begin(), edges.end(), e);
    return std::size_t(range.second - range.first);
  };
  std::size_t kept = 0;
  for (std::size_t t = 0; t < numTriangles; ++t) {
    const std::uint32_t a = indices[3 * t], b = indices[3 * t + 1], c = indices[3 * t + 2];
    if (count(key(b, a)) + count(key(c, b)) + count(key(a, c)) != 3) continue;
    std::copy_n(indices.begin() + std::ptrdiff_t(3 * t), 3, indices.begin() + std::ptrdiff_t(3 * kept));
    ++kept;
  }
  indices.resize(3 * kept);
  std::cout << (numTriangles - kept) << " triangles removed.\n";
}

namespace {

math::Vec3f VertexAt(const float* vertices, std::uint32_t i) {
  return {vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]};
}

}  // namespace

void CalcNormals(std::vector<float>& normals, const std::vector<float>& vertices,
                 const std::vector<std::uint32_t>& indices) {
  const std::size_t numVertices = vertices.size() / 3;
  normals.assign(3 * numVertices, 0.0f);
  for (std::size_t t = 0; t + 3 <= indices.size(); t += 3) {
    const std::uint32_t i0 = indices[t], i1 = indices[t + 1], i2 = indices[t + 2];
    if (i0 >= numVertices || i1 >= numVertices || i2 >= numVertices) continue;
    const math::Vec3f p0 = VertexAt(vertices.data(), i0);
    const math::Vec3f n = (VertexAt(vertices.data(), i1) - p0) ^ (VertexAt(vertices.data(), i2) - p0);
    for (std::uint32_t i : {i0, i1, i2}) {
      for (int k = 0; k < 3; ++k) normals[3 * i + k] += n[k];
    }
  }
  for (std::size_t i = 0; i < numVertices; ++i) {
    const float length = std::sqrt(normals[3 * i] * normals[3 * i] + normals[3 * i + 1] * normals[3 * i + 1] +
                                   normals[3 * i + 2] * normals[3 * i + 2]);
    if (length > 0.0f) {
      for (int k = 0; k < 3; ++k) normals[3 * i + k] /= length;
    }
  }
}

namespace {

void AccumulateEdges(double& sum, std::size_t& count, const float* vertices, std::size_t numVertices,
                     const std::uint32_t* indices, std::size_t numTriangles) {
  for (std::size_t t = 0; t < numTriangles; ++t) {
    const std::uint32_t* tri = indices + 3 * t;
    if (tri[0] >= numVertices || tri[1] >= numVertices || tri[2] >= numVertices) continue;
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t a = tri[k], b = tri[(k + 1) % 3];
      if (a <= b) continue;
      sum += math::Vec3d(VertexAt(vertices, a) - VertexAt(vertices, b)).Length();
      ++count;
    }
  }
}

}  // namespace

void CalcMeanEdgeLengthAndCount(double& meanLength, std::size_t& count, const float* vertices,
                                std::size_t numVertices, const std::uint32_t* indices, std::size_t numTriangles) {
  double sum = 0.0;
  count = 0;
  AccumulateEdges(sum, count, vertices, numVertices, indices, numTriangles);
  meanLength = count ? sum / double(count) : 0.0;
}

void CalcMeanEdgeLengthAndCount(double& meanLength, std::size_t& count, const v3d::Geo& geo) {
  double sum = 0.0;
  count = 0;
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() != 3) continue;
    const auto& positions = mesh->GetVertexCoords();
    const auto& prims = mesh->GetPrims();
    AccumulateEdges(sum, count, positions.empty() ? nullptr : positions.data()->v, positions.size(), prims.data(),
                    prims.size() / 3);
  }
  meanLength = count ? sum / double(count) : 0.0;
}

std::size_t RemoveUnconnectedVertices(v3d::Geo& geo) {
  std::size_t left = 0;
  for (const auto& mesh : geo) {
    const int primSize = int(mesh->GetPrimSize());
    if (primSize >= 1 && primSize <= 4) {
      IndexMapping mapping(mesh->GetNumVertices());
      mapping.Complete(mesh->GetPrims(), primSize);
      mapping.Apply(mesh->GetVertexBuffer(), mesh->GetSurface());
    }
    left += mesh->GetNumVertices();
  }
  return left;
}

void GetAxisAlignedBoundingBox(const v3d::Geo& geo, math::Vec3d& min, math::Vec3d& max) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  min = {inf, inf, inf};
  max = {-inf, -inf, -inf};
  bool any = false;
  for (const auto& mesh : geo) {
    for (const auto& p : mesh->GetVertexCoords()) {
      for (int k = 0; k < 3; ++k) {
        min[k] = std::min(min[k], double(p[k]));
        max[k] = std::max(max[k], double(p[k]));
      }
      any = true;
    }
  }
  if (!any) min = max = {0.0, 0.0, 0.0};
}

}  // namespace surf
