#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Vec.h"

namespace v3d {

// How a triangle list encloses space. Vertices at equal positions count
// as one (texture seams duplicate vertices); triangles with two equal
// corners are ignored. The list is closed when every edge bounds exactly two
// triangles that run along it in opposite directions; it then faces one way
// when every connected part encloses a volume of the same sign: positive for
// triangles counter-clockwise seen from outside (right-hand normals pointing
// out), negative for clockwise.
enum class Closure { kOpen, kCounterClockwise, kClockwise };

// kOpen also for an index past the positions, a non-finite position or a
// part whose volume is too small to tell its sign.
Closure FindClosure(const std::vector<math::Vec3f>& positions,
                    const std::vector<std::uint32_t>& triangles);

}  // namespace v3d
