#pragma once

#include <cstddef>

#include "surf/mesh/MeshArrays.h"

// Editing tools on one triangle mesh held as MeshArrays (positions in mm;
// normals, colours and texture coordinates each empty or one per vertex;
// the texture image is left alone). Indices must be below the vertex count
// (std::invalid_argument otherwise).
namespace surf {

// Removes one ring of border triangles (those with an edge not matched by
// exactly one opposite half-edge) and then the vertices no triangle uses,
// with all their attributes. A closed mesh is left unchanged. Returns the
// number of triangles removed.
std::size_t ShrinkMesh(MeshArrays& mesh);

// Area-weighted vertex normals of the triangles (CalcNormals), one per vertex.
void RecomputeNormals(MeshArrays& mesh);

// One smoothing pass: every vertex moves to the mean of the centroids of its
// incident triangles (a triangle counts once per incidence, so a triangle
// naming the vertex twice counts twice); a vertex without triangles keeps
// its place. With recomputeNormals the normals are recomputed from the
// moved triangles (area weighted).
void Smoothing(MeshArrays& mesh, bool recomputeNormals);

// Flips edges until every interior edge is locally Delaunay: the two angles
// opposite an edge sum to at most π (plus 1e-9 rad). An edge is flipped
// only when it is shared by exactly two consistently oriented triangles,
// the new diagonal is not already an edge, and neither new triangle turns
// against the old pair's normal; on a curved mesh the angle criterion is
// applied to the 3D triangles. The flips are bounded by 50 per edge, so
// the loop ends even where a curved mesh would cycle. Normals, when
// present, are recomputed. Returns the number of flips.
std::size_t MakeDelaunay(MeshArrays& mesh);

// Quadric-error edge collapse (Garland and Heckbert, "Surface
// Simplification Using Quadric Error Metrics", SIGGRAPH 1997) down to at
// most targetTriangles triangles, or fewer when no legal collapse is left.
// Quadrics are area weighted; border edges add perpendicular planes
// weighted 100, so borders keep their course. A collapse moves the edge to
// the quadric's minimum (an end or the midpoint when that is
// ill-conditioned or far off) and is refused when it would make the mesh
// non-manifold (link condition) or turn a triangle by more than 90°.
// Texture coordinates and colours of the new vertex are interpolated
// between the edge's ends at the new position's projection onto the edge;
// normals are recomputed at the end. Texture seams held as duplicated
// vertices are borders here: each side keeps its course, but the two sides
// are not tied to each other. Vertices no triangle uses are dropped.
// Returns the number of triangles left.
std::size_t SimplifyMesh(MeshArrays& mesh, std::size_t targetTriangles);

}  // namespace surf
