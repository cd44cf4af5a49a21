#pragma once

#include <cstdint>

#include "v3d/Geo.h"

namespace surf {

// Combining two Geos. Source vertices are carried into the target's
// coordinates by inverse(target frame) · source frame (the nodes' own
// frames), computed in double and stored as float. Positions, texture
// coordinates and primitives are carried over; other attributes of the
// source are not (present target attributes get their default values).

// Appends source mesh surfaceIndex to the target's first mesh (a new
// triangle mesh when the target has none), its primitives offset by the
// target's previous vertex count. keepTextureCoordinates false clears and
// switches off the target's texture coordinates; true switches them on when
// the source mesh has them. False when the source has no such mesh.
// Throws utils::Exception ("CombineGeos_SingleSurface") when no target mesh
// can be had.
bool CombineGeos_SingleSurface(v3d::Geo& target, const v3d::Geo& source, std::int64_t surfaceIndex,
                               bool keepTextureCoordinates);
// CombineGeos_SingleSurface for every source mesh; true only if all were.
bool CombineGeos_MultipleToSingleSurface(v3d::Geo& target, const v3d::Geo& source, bool keepTextureCoordinates);
// Each source mesh becomes a new target mesh of the same primitive size.
// Throws utils::Exception ("CombineGeos_MultipleSurfaces") when a mesh
// cannot be made.
bool CombineGeos_MultipleSurfaces(v3d::Geo& target, const v3d::Geo& source);

}  // namespace surf
