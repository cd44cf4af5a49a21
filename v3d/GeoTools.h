#pragma once

#include <cstdint>

#include "foundation/math/Vec.h"
#include "v3d/Geo.h"

namespace v3d {

// Area-weighted vertex normals of the triangle meshes of a Geo (all meshes
// for a negative index, else the one mesh; other prim sizes are skipped).
// Each triangle adds its unnormalised face normal (p1 − p0) × (p2 − p0) to its
// three vertices, then each non-zero sum is normalised; a vertex touched
// only by degenerate triangles keeps (0, 0, 0). Triangles with an index past
// the vertex count are skipped. Normals become present.
void CalcVertexNormals(Geo& geo, std::int64_t meshIndex = -1);
// The same for one mesh; does nothing unless its prim size is 3.
void CalcVertexNormals(Mesh& mesh);

// Adds the box spanned from corner p by the edges a, b, c as a new triangle
// mesh of eight vertices (p, p+a, p+b, p+c, p+a+b, p+a+c, p+b+c, p+a+b+c)
// and twelve triangles, wound counter-clockwise seen from outside when
// (a, b, c) is right-handed. Returns the new mesh.
Mesh* CreateParallelepiped(Geo& geo, const math::Vec3f& p, const math::Vec3f& a,
                           const math::Vec3f& b, const math::Vec3f& c);

}  // namespace v3d
