#pragma once

#include <string>
#include <vector>

#include "foundation/math/Vec.h"
#include "foundation/utils/Progress.h"
#include "surf/measure/Deviation.h"
#include "surf/measure/MeasureReport.h"
#include "surf/measure/ShapeFeatures.h"
#include "v3d/Geo.h"

namespace surf {

struct ComparisonOptions {
  float tolerance = 0.1f;  // t, mm
  DeviationMethod method = DeviationMethod::kVertex;
  bool detectFeatures = true;
  // The feature search; its distance tolerance is t/2 unless
  // featureTolerance is above 0.
  FeatureOptions features;
  double featureTolerance = 0.0;
  // Deviations take the first 90 %, features the rest; true cancels.
  utils::ProgressCallback progress;
};

// A comparison of a test object with a reference object: the deviation of
// every test vertex and the planes and spheres among the test vertices.
struct Comparison {
  float tolerance = 0.f;
  DeviationMethod method = DeviationMethod::kVertex;
  DeviationResult deviations;
  // The test vertices in world coordinates (mesh after mesh), in which the
  // features are given; their point indices count over this list.
  std::vector<math::Vec3f> points;
  ShapeFeatures features;
  double deviationSeconds = 0.0, featureSeconds = 0.0;
  bool cancelled = false;

  // All deviations, mesh after mesh (NaN for vertices that are not finite).
  std::vector<float> Deviations() const { return ConcatenateDeviations(deviations); }
  // No finite vertex found reference surface within 2t.
  bool NoOverlap() const { return deviations.withReference == 0; }
};

// Compares test with reference (both in the same scene, or both detached,
// placed by their frames). Meshes without vertex normals are used with
// their area-weighted normals (the geos themselves are not changed).
// Throws std::invalid_argument for a tolerance that is not > 0.
Comparison CompareObjects(const v3d::Geo& test, const v3d::Geo& reference,
                          const ComparisonOptions& options);

// The report of a comparison, dated now; features smaller than 10 points
// are left out.
MeasureReportData MakeReportData(const Comparison& comparison, const std::string& testName,
                                 const std::string& referenceName);

// The magnitudes of the deviations (Comparison::Deviations) of some points,
// NaN left out.
std::vector<float> DeviationMagnitudesOf(const std::vector<float>& deviations,
                                         const std::vector<std::uint32_t>& points);

}  // namespace surf
