#pragma once

#include <cstddef>
#include <functional>

#include "foundation/math/Vec.h"
#include "sim/TriMesh.h"

namespace sim {

// A smooth surface S(u, v) over the unit square, tessellated on a regular
// grid. The parameterisation must make S_u × S_v point outward: the grid's
// triangles wind counter-clockwise in (u, v).
struct ParametricSurface {
  std::function<math::Vec3d(double u, double v)> point;
  bool uPeriodic = false;  // S(1, v) = S(0, v)
  bool vPeriodic = false;  // S(u, 1) = S(u, 0)
  bool poleAtV0 = false;   // S(u, 0) is one point for every u
  bool poleAtV1 = false;   // S(u, 1) is one point for every u
};

// Largest side lengths of the grid's parameter lines and largest second
// derivatives, sampled on a regular grid of samples × samples parameter
// points (central differences).
struct SurfaceBounds {
  double lengthU = 0;  // max |S_u|: the longest u line, mm
  double lengthV = 0;  // max |S_v|
  double maxUU = 0;    // max |S_uu|, mm
  double maxUV = 0;    // max |S_uv|
  double maxVV = 0;    // max |S_vv|
};
SurfaceBounds SampleSurfaceBounds(const ParametricSurface& surface, int samples = 256);

// Grid sizes for a resolution (mm): every grid line's parameter step is at
// most resolution long, at least 3 cells in a periodic direction and 1
// otherwise. Throws std::invalid_argument for a resolution that is not
// positive or that would give more than maxTriangles triangles.
struct GridSize {
  int nu = 0;
  int nv = 0;
};
GridSize ChooseGridSize(const SurfaceBounds& bounds, const ParametricSurface& surface,
                        double resolution, std::size_t maxTriangles);

// Upper bound on the distance between the nu × nv grid tessellation and the
// surface, from the second-derivative maxima: linear interpolation over a
// triangle with legs hu, hv deviates by at most ‖H‖ / 4 where H is the
// Hessian in cell units (entries maxUU·hu², maxUV·hu·hv, maxVV·hv²) and its
// norm is bounded by its largest row sum. The maxima are sampled, so this is
// an estimate that holds when the sampling resolves the curvature.
double TessellationErrorBound(const SurfaceBounds& bounds, int nu, int nv);

// The grid's vertices (nu + 1) × (nv + 1) with texture coordinates (u, v),
// seam and pole vertices as exact copies of their partners' positions, and
// two triangles per cell (the degenerate one of a pole cell left out).
TriMesh TessellateSurface(const ParametricSurface& surface, int nu, int nv);

// Upper limit on the triangles of one procedural object.
inline constexpr std::size_t kMaxProceduralTriangles = 20'000'000;

}  // namespace sim
