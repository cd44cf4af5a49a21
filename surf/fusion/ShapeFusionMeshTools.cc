// The mesh tools of the scan list: each works on every triangle mesh of one
// geo (a scan, or the fusion result for index -1) under the viewer lock.

#include "surf/mesh/MeshEditing.h"
#include "surf/fusion/ShapeFusion.h"
#include "v3d/LockGuard.h"

namespace surf {
namespace {

// The mesh's arrays (the texture image is not needed by the tools).
MeshArrays ToArrays(const v3d::Mesh& mesh) {
  MeshArrays arrays;
  arrays.positions = mesh.GetVertexCoords();
  arrays.indices = mesh.GetPrims();
  if (mesh.HasVertexNormals()) arrays.normals = mesh.GetVertexNormals();
  if (mesh.HasVertexColors()) arrays.colors = mesh.GetVertexColors();
  if (mesh.HasVertexTexCoords()) arrays.texCoords = mesh.GetVertexTexCoords();
  return arrays;
}

// Writes the arrays back; per-vertex qualities survive only when the
// vertices stayed the same.
void FromArrays(MeshArrays&& arrays, v3d::Mesh& mesh) {
  const bool sameVertices = arrays.positions.size() == mesh.GetNumVertices();
  if (!sameVertices && mesh.HasVertexQualities()) mesh.mGetVertexQualities().clear();
  mesh.mGetVertexCoords() = std::move(arrays.positions);
  mesh.mGetPrims() = std::move(arrays.indices);
  if (mesh.HasVertexNormals()) mesh.mGetVertexNormals() = std::move(arrays.normals);
  if (mesh.HasVertexColors()) mesh.mGetVertexColors() = std::move(arrays.colors);
  if (mesh.HasVertexTexCoords()) mesh.mGetVertexTexCoords() = std::move(arrays.texCoords);
}

template <typename Tool>
void ForEachTriangleMesh(v3d::Geo& geo, Tool&& tool) {
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() != 3) continue;
    MeshArrays arrays = ToArrays(*mesh);
    tool(arrays);
    FromArrays(std::move(arrays), *mesh);
  }
}

}  // namespace

void ShapeFusion::ApplyMeshTool(int index, const char* method, const std::function<void(MeshArrays&)>& tool) {
  v3d::LockGuard lock;
  Placed& placed = PlacedAt(index, method);
  ForEachTriangleMesh(*placed.geo, tool);
  // Hole filtering refers to the fused vertices as they were.
  if (index == kFusionResultIndex) m_unfilteredFusionTriangles.clear();
  Touch();
}

void ShapeFusion::ShrinkMesh(int index) {
  ApplyMeshTool(index, "ShrinkMesh", [](MeshArrays& mesh) { surf::ShrinkMesh(mesh); });
}

void ShapeFusion::Smoothing(int index, bool recomputeNormals) {
  ApplyMeshTool(index, "Smoothing", [&](MeshArrays& mesh) { surf::Smoothing(mesh, recomputeNormals); });
}

void ShapeFusion::MakeDelaunay(int index) {
  ApplyMeshTool(index, "MakeDelaunay", [](MeshArrays& mesh) { surf::MakeDelaunay(mesh); });
}

void ShapeFusion::SimplifyMesh(int index, double keepFraction) {
  if (!(keepFraction > 0.0 && keepFraction <= 1.0)) {
    throw std::invalid_argument("ShapeFusion::SimplifyMesh - The fraction of triangles to keep must lie in (0, 1].");
  }
  ApplyMeshTool(index, "SimplifyMesh", [&](MeshArrays& mesh) {
    surf::SimplifyMesh(mesh, static_cast<std::size_t>(double(mesh.NumTriangles()) * keepFraction));
  });
}

}  // namespace surf
