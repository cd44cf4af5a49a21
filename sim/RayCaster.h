#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <span>

#include "foundation/math/Vec.h"
#include "sim/Scene.h"
#include "sim/TriMesh.h"

namespace sim {

// A ray in world coordinates (mm). The direction need not have unit length.
struct Ray {
  math::Vec3d origin;
  math::Vec3d direction;
};

// The first surface a ray meets.
struct Hit {
  double distance = std::numeric_limits<double>::infinity();  // mm along the ray; ∞ for a miss
  math::Vec3d point;                                          // world, mm
  math::Vec3f normal;          // unit geometric normal of the triangle, by its winding (outward)
  std::int32_t objectId = -1;  // scene object id; −1 for a miss
  std::uint32_t triangle = 0;  // index into the object's triangles
  Albedo albedo;               // reflectance at the point

  bool IsHit() const { return objectId >= 0; }
};

// The open segment between two world points, for visibility tests.
struct Segment {
  math::Vec3d from;
  math::Vec3d to;
};

struct RayCasterOptions {
  // Surfaces closer than this to either end of a segment (mm) do not block
  // it, so that a segment may start on the surface it leaves.
  double occlusionEpsilon = 1e-3;
};

// Casts rays against a snapshot of a scene (positions, turntable angle,
// albedo and textures as they are at construction). Embree finds the
// triangle; distance, point and barycentric coordinates are then recomputed
// in double precision against that triangle's vertices, so a hit lies on
// the triangle's plane to about 1e-12 mm relative, well below the float
// precision of the acceleration structure.
//
// Every query is const and thread-safe. The batch queries spread the batch
// over the hardware threads (see ParallelFor).
class RayCaster {
 public:
  // Throws std::runtime_error ("sim::RayCaster::RayCaster - text") when the
  // ray-tracing device cannot be created or the scene cannot be built.
  explicit RayCaster(const Scene& scene, const RayCasterOptions& options = {});
  ~RayCaster();
  RayCaster(const RayCaster&) = delete;
  RayCaster& operator=(const RayCaster&) = delete;

  // hits[i] for rays[i]; throws std::invalid_argument for spans of
  // different sizes.
  void Intersect(std::span<const Ray> rays, std::span<Hit> hits) const;
  Hit Intersect(const Ray& ray) const;

  // blocked[i] is 1 when a surface lies on segments[i] (ends excluded by
  // the occlusion epsilon), else 0.
  void Occluded(std::span<const Segment> segments, std::span<std::uint8_t> blocked) const;
  bool Occluded(const Segment& segment) const;

  std::size_t GetNumTriangles() const;

  // The print of an object and the map from world to print coordinates at
  // the snapshot's pose; null print for unprinted objects or a bad id.
  struct PrintedFace {
    const SurfacePrint* print = nullptr;
    math::Frame4d print_T_world;
  };
  PrintedFace GetPrintedFace(std::int32_t objectId) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
