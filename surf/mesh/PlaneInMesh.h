#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Plane.h"
#include "v3d/Color.h"

namespace surf {

// A randomised consensus search for the dominant plane of a point set
// (positions and normals 3 floats per vertex; normals may be empty). Each
// iteration takes the plane through three random vertices (the second and
// third at a squared distance of at least 1e-6 mm² from the first) and scores
// it: the sum over vertices within tolerance of (1 − |distance|/tolerance)
// when weighted, else of 1, divided by the vertex count. The search runs
// while (best ≤ targetScore and elapsed ≤ maxTime) or elapsed ≤ minTime or
// fewer than minIterations ran (seconds of a steady clock). When the best
// score reaches minScore the plane is refitted by least squares to the
// vertices within tolerance and oriented along the sum of their normals.
// Returns the best score; plane is set when any plane was scored (a point
// set of fewer than three distinct points gives 0 and leaves it). seed 0
// seeds the generator with the current time in milliseconds.
double FindPlaneInMesh(math::Planef& plane, const std::vector<float>& positions, const std::vector<float>& normals,
                       float tolerance, int minIterations, double minTime, double maxTime, double targetScore,
                       bool weighted, double minScore, std::uint32_t seed = 0);

// Removes the surfaces lying on a plane and facing along its normal: a
// vertex at signed distance d with normal n is kept when (not
// keepOnlyPositiveSide or d > 0) and (plane normal · n)/(|d|/distanceScale + 1)
// < 0.5. Kept vertices keep their order and attributes (colours and
// qualities when given, one per vertex); a triangle is kept when its three
// vertices are. normals must have one entry per vertex.
void RemovePlane(std::vector<float>& positions, std::vector<float>& normals, std::vector<std::uint32_t>& indices,
                 std::vector<v3d::Color4ub>* colors, std::vector<float>* qualities, const math::Planef& plane,
                 float distanceScale, bool keepOnlyPositiveSide);

}  // namespace surf
