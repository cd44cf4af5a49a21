#include "surf/measure/Comparison.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "foundation/utils/Timer.h"
#include "v3d/GeoTools.h"

namespace surf {
namespace {

// Features with fewer points are not reported.
constexpr std::size_t kMinFeaturePoints = 10;

// The geo itself when every triangle mesh has normals, else a copy with
// normals added (detached, with the original's world frame).
const v3d::Geo& WithNormals(const v3d::Geo& geo, std::unique_ptr<v3d::Geo>& copy) {
  bool missing = false;
  for (const auto& mesh : geo)
    missing = missing || (mesh->GetPrimSize() == 3 &&
                          mesh->GetVertexNormals().size() != mesh->GetNumVertices());
  if (!missing) return geo;
  copy = std::make_unique<v3d::Geo>(geo);
  copy->SetFrame(geo.GetWorldFrame());
  EnsureVertexNormals(*copy);
  return *copy;
}

}  // namespace

Comparison CompareObjects(const v3d::Geo& testIn, const v3d::Geo& referenceIn,
                          const ComparisonOptions& options) {
  std::unique_ptr<v3d::Geo> testCopy, referenceCopy;
  const v3d::Geo& test = WithNormals(testIn, testCopy);
  const v3d::Geo& reference = WithNormals(referenceIn, referenceCopy);

  Comparison comparison;
  comparison.tolerance = options.tolerance;
  comparison.method = options.method;
  utils::Timer timer;
  DeviationOptions deviationOptions;
  deviationOptions.tolerance = options.tolerance;
  deviationOptions.method = options.method;
  if (options.progress)
    deviationOptions.progress = utils::SubProgress(options.progress, 0.0, 0.9).AsCallback();
  comparison.deviations = ComputeDeviations(test, reference, deviationOptions);
  comparison.deviationSeconds = timer.ElapsedSeconds();
  if (comparison.deviations.cancelled) {
    comparison.cancelled = true;
    return comparison;
  }

  // The test vertices in world coordinates, with normals.
  const math::Frame4d world = test.GetWorldFrame();
  std::vector<math::Vec3f> normals;
  for (const auto& mesh : test) {
    const auto& positions = mesh->GetVertexCoords();
    const auto& meshNormals = mesh->GetVertexNormals();
    for (std::size_t i = 0; i < positions.size(); ++i) {
      comparison.points.push_back(math::Vec3f(world.MultP(math::Vec3d(positions[i]))));
      normals.push_back(i < meshNormals.size()
                            ? math::Vec3f(world.MultV(math::Vec3d(meshNormals[i])))
                            : math::Vec3f(0, 0, 0));
    }
  }
  if (options.detectFeatures) {
    timer.Restart();
    FeatureOptions features = options.features;
    features.distanceTolerance =
        options.featureTolerance > 0 ? options.featureTolerance : options.tolerance / 2.0;
    features.minPoints = std::max(features.minPoints, kMinFeaturePoints);
    if (options.progress)
      features.progress = utils::SubProgress(options.progress, 0.9, 1.0).AsCallback();
    comparison.features = DetectShapeFeatures(comparison.points, normals, features);
    comparison.featureSeconds = timer.ElapsedSeconds();
    if (options.progress && options.progress(1.0)) comparison.cancelled = true;
  }
  return comparison;
}

std::vector<float> DeviationMagnitudesOf(const std::vector<float>& all,
                                         const std::vector<std::uint32_t>& points) {
  std::vector<float> magnitudes;
  magnitudes.reserve(points.size());
  for (const std::uint32_t i : points)
    if (i < all.size() && !std::isnan(all[i])) magnitudes.push_back(std::abs(all[i]));
  return magnitudes;
}

MeasureReportData MakeReportData(const Comparison& comparison, const std::string& testName,
                                 const std::string& referenceName) {
  MeasureReportData data;
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  localtime_r(&now, &data.time);
  data.testName = testName;
  data.referenceName = referenceName;
  const std::vector<float> all = comparison.Deviations();
  data.magnitudes = DeviationMagnitudes(all);
  data.noOverlap = comparison.NoOverlap();
  for (const PlaneFeature& plane : comparison.features.planes) {
    if (plane.points.size() < kMinFeaturePoints) continue;
    data.planes.push_back(
        {plane.points.size(), Percentile(DeviationMagnitudesOf(all, plane.points), 99.7)});
  }
  for (const SphereFeature& sphere : comparison.features.spheres) {
    if (sphere.points.size() < kMinFeaturePoints) continue;
    data.spheres.push_back({sphere.radius, sphere.centre, sphere.points.size(),
                            Percentile(DeviationMagnitudesOf(all, sphere.points), 99.7)});
  }
  return data;
}

}  // namespace surf
