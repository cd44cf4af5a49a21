#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/math/Vec.h"
#include "v3d/Geo.h"

namespace surf {

// Plain mesh arrays: positions 3 floats per vertex, texture coordinates 2
// floats (u, v) per vertex, normals 3 floats per vertex, triangles 3
// indices each.

// A new Geo with one triangle mesh holding the given vertices (and texture
// coordinates when not null: (u, v), or (u, 1 − v) with flipV) and
// triangles. Triangles with an index at or past numVertices are left out.
// Throws utils::Exception ("IndexedFaceSet2Geo") when the mesh cannot be
// made.
std::shared_ptr<v3d::Geo> IndexedFaceSet2Geo(const float* positions, std::size_t numVertices,
                                             const std::uint32_t* indices, std::size_t numTriangles,
                                             const float* textureCoordinates, bool flipV);
// Null without vertices or indices. Texture coordinates are used when there
// is one pair per vertex; another non-zero count prints a notice and they
// are left out.
std::shared_ptr<v3d::Geo> MeshToGeo(const std::vector<float>& vertices, const std::vector<std::uint32_t>& indices,
                                    const std::vector<float>& textureCoordinates, bool flipV);

// Drops every triangle that is not surrounded by exactly one opposite
// half-edge per edge (open borders, non-manifold edges); vertices stay.
void RemoveBorderTriangles(std::vector<std::uint32_t>& indices);

// Area-weighted vertex normals, normalised; a vertex no triangle touches
// gets (0, 0, 0). Triangles with an index past the vertex count are skipped.
void CalcNormals(std::vector<float>& normals, const std::vector<float>& vertices,
                 const std::vector<std::uint32_t>& indices);

// Mean length of the edges a–b with a > b (each edge shared by two
// consistently oriented triangles counts once) and their number; 0 and 0
// without such edges. Triangles with an index past the vertex count are
// skipped.
void CalcMeanEdgeLengthAndCount(double& meanLength, std::size_t& count, const float* vertices,
                                std::size_t numVertices, const std::uint32_t* indices, std::size_t numTriangles);
// The same over every triangle mesh of a Geo.
void CalcMeanEdgeLengthAndCount(double& meanLength, std::size_t& count, const v3d::Geo& geo);

// Drops, in every mesh of the geo, the vertices no primitive references;
// returns the number of vertices left in all meshes.
std::size_t RemoveUnconnectedVertices(v3d::Geo& geo);

// The box of all positions of all meshes (the Geo's own coordinates); all
// zero for a Geo without vertices.
void GetAxisAlignedBoundingBox(const v3d::Geo& geo, math::Vec3d& min, math::Vec3d& max);

}  // namespace surf
