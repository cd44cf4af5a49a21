#pragma once

#include <cstddef>
#include <cstdint>

#include "v3d/Geo.h"

namespace surf {

// Surface area and enclosed volume of triangle meshes (positions 3 floats per
// vertex, triangles 3 indices each; sums in double). Triangles with an index
// at or past the vertex count are skipped.

// Sum of the triangle areas (mm²).
double ComputeTriangleMeshArea(const float* positions, std::size_t numVertices, const std::uint32_t* indices,
                               std::size_t numTriangles);
// Signed volume by the divergence theorem: the sum over triangles of
// p0 · (p1 × p2) / 6 (mm³). Positive for a closed mesh wound counter-clockwise
// seen from outside, negative for the opposite winding; for an open mesh the
// value depends on the origin.
double ComputeTriangleMeshVolume(const float* positions, std::size_t numVertices, const std::uint32_t* indices,
                                 std::size_t numTriangles);

// The same over every triangle mesh (prim size 3) of a geo, in the geo's own
// coordinates; quads count as two triangles (a, b, c) and (a, c, d).
double ComputeTriangleMeshArea(const v3d::Geo& geo);
double ComputeTriangleMeshVolume(const v3d::Geo& geo);

}  // namespace surf
