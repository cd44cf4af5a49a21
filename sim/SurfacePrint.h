#pragma once

#include "foundation/math/Vec.h"
#include "sim/TriMesh.h"

namespace sim {

// A pattern printed on a flat face of a scene object, given in print
// coordinates (2D, mm). The virtual cameras evaluate it per sub-pixel ray
// over the ray's footprint, so that sharp printed edges are integrated over
// the pixel exactly rather than point-sampled.
class SurfacePrint {
 public:
  virtual ~SurfacePrint() = default;
  // The mean reflectance over the footprint q + s·du + t·dv, s, t ∈ [−1, 1]
  // (du, dv: the half-extent vectors of the footprint, print coordinates).
  // Must be thread-safe.
  virtual Albedo Reflectance(const math::Vec2d& q, const math::Vec2d& du,
                             const math::Vec2d& dv) const = 0;
};

// The fraction of the footprint q + s·du + t·dv (s, t ∈ [−1, 1]) inside the
// disc of radius r about c, for a footprint much smaller than the disc: the
// disc's edge is taken as straight across the footprint, whose extent along
// the edge normal is then the sum of two uniform variables.
double DiscCoverage(const math::Vec2d& c, double r, const math::Vec2d& q, const math::Vec2d& du,
                    const math::Vec2d& dv);

}  // namespace sim
