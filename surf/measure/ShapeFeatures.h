#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "foundation/math/Vec.h"
#include "foundation/utils/Progress.h"

namespace surf {

// A plane among the points: a point on it (the centroid of its points), its
// unit normal (oriented along the points' normals) and its points (indices
// into the point list searched).
struct PlaneFeature {
  math::Vec3d point;
  math::Vec3d normal;
  std::vector<std::uint32_t> points;
  double rms = 0.0;  // of the points' distances to the plane, mm
};

// A sphere among the points: centre, radius (mm) and its points.
struct SphereFeature {
  math::Vec3d centre;
  double radius = 0.0;
  std::vector<std::uint32_t> points;
  double rms = 0.0;  // of the points' distances to the sphere, mm
};

struct ShapeFeatures {
  std::vector<PlaneFeature> planes;
  std::vector<SphereFeature> spheres;
};

struct FeatureOptions {
  // A point belongs to a shape within this distance (mm) whose normal there
  // agrees with its own within maxNormalAngleDegrees.
  double distanceTolerance = 0.05;
  double maxNormalAngleDegrees = 10.0;
  // Smaller shapes are not reported: fewer points than minPoints or than
  // minShare of all points.
  std::size_t minPoints = 10;
  double minShare = 0.01;
  // Spheres must have a radius in this range; 0 for maxRadius: half the
  // diagonal of the points' bounding box.
  double minRadius = 0.5;
  double maxRadius = 0.0;
  std::size_t maxFeatures = 64;
  std::uint64_t seed = 1;
  utils::ProgressCallback progress;
};

// Finds planes and spheres among oriented points (positions with normals,
// one per position; points or normals that are not finite are never used),
// the largest first: a random search of candidates from a few nearby points
// scored on a sample of the points left, the best candidate refined by least
// squares on its consensus set (twice, so that its set follows the refined
// shape), then its points are taken out and the search goes on until no
// candidate reaches the minimum size. Planes are fitted by the principal
// axes of their points, spheres by the geometric least-squares fit. A
// shape's points are those within the tolerances of the final fit. The
// result is the same for the same seed.
ShapeFeatures DetectShapeFeatures(std::span<const math::Vec3f> positions,
                                  std::span<const math::Vec3f> normals,
                                  const FeatureOptions& options);

// Least-squares fits of all the given points; false when the points do not
// determine the shape (fewer than 3 resp. 4, or degenerate).
bool FitPlane(std::span<const math::Vec3f> positions, std::span<const std::uint32_t> indices,
              math::Vec3d& point, math::Vec3d& normal);
bool FitSphere(std::span<const math::Vec3f> positions, std::span<const std::uint32_t> indices,
               math::Vec3d& centre, double& radius);

}  // namespace surf
