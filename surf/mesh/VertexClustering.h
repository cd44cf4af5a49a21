#pragma once

#include "surf/mesh/MeshArrays.h"

namespace surf {

// Decimates a mesh by vertex clustering: space is cut into cubes of edge
// cellSize (mm, from the origin), the vertices of each cube become one
// vertex (the mean position, the normalised sum of the normals, the first
// vertex's colour and texture coordinates), triangles whose corners fall
// into fewer than three cubes disappear, and of triangles with the same
// three corners the first one stays. The result has a mean edge length of
// about cellSize; the texture image is kept. Vertices with a non-finite
// position are dropped with their triangles. Throws std::invalid_argument
// for a cell size that is not positive and finite or a mesh that is not
// valid (MeshArrays::IsValid).
MeshArrays ClusterVertices(const MeshArrays& mesh, double cellSize);

}  // namespace surf
