#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Vec.h"

namespace surf {

// Closes every border loop of a triangle mesh with triangles of its own
// vertices. Border half-edges are the directed edges a→b whose reverse no
// triangle has; a loop follows them head to tail. Each loop is triangulated
// by ear clipping in the plane of its Newell normal, the new triangles
// oriented to match their neighbours (they use the reverse half-edges); an
// ear whose new edge the mesh has already is passed over, so that no edge
// ends up with more than two triangles; a loop without an ear left (self-overlapping in that plane) is finished as
// a fan about a new vertex at its centroid. Meant for the nearly planar
// loops where a reconstructed surface meets the reconstruction's bounding
// cube. Returns the number of loops closed.
std::size_t CloseBoundaryLoops(std::vector<math::Vec3f>& positions, std::vector<std::uint32_t>& indices);

}  // namespace surf
