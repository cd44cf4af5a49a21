#pragma once

#include <cstdint>
#include <memory>

#include "foundation/math/Frame.h"
#include "sim/Procedural.h"
#include "surf/mesh/MeshArrays.h"
#include "v3d/Geo.h"

// Objects of known geometry for the measurement tests and benchmarks.
namespace surf::testing {

// A square grid in the plane z = height: (n + 1)² vertices spaced `spacing`
// mm apart, centred on the z axis, normals +z, two triangles per cell.
MeshArrays MakePlaneGrid(int n, double spacing, double height);

// The procedural mesh with area-weighted vertex normals, as arrays.
MeshArrays ToArrays(const sim::TriMesh& mesh);

// A detached geo of one triangle mesh with the arrays' normals.
std::unique_ptr<v3d::Geo> MakeGeo(const MeshArrays& mesh, const math::Frame4d& frame = {});

// Adds Gaussian noise of sigma mm along each vertex normal (seeded).
void AddNormalNoise(MeshArrays& mesh, double sigma, std::uint64_t seed);

}  // namespace surf::testing
