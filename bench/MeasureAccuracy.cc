// Accuracy of the measurement's features on fused scans of the virtual rig
// (not a Google Benchmark: one long run). A sphere of radius 30 mm and the
// chamfered box (80 × 60 × 40, chamfers 5) are each scanned through the
// rig's capture, decoding, triangulation and meshing in turntable views
// (default 8, 45° apart), placed by their true poses (so the fused mesh is
// in the object's own coordinates: the sphere's centre at the origin, the
// box's faces on known planes), fused by ShapeFusion::StartFusionPoisson
// and measured against the true object (triangle method). Printed: the
// spheres found (diameter and centre error), the planes found (angle to
// the nearest of the box's 26 face directions), the deviation percentiles
// and the seconds of each stage.
//
//   build/release/bench/MeasureAccuracy [--resolution 512] [--scale 1] [--views 8] [--tolerance
//   0.1]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

#include "foundation/utils/Timer.h"
#include "shell/testing/RigTurntable.h"
#include "surf/fusion/ShapeFusion.h"
#include "surf/measure/Comparison.h"
#include "surf/measure/testing/MeasureMeshes.h"

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

struct Options {
  int resolution = 512;
  double scale = 1.0;
  int views = 8;
  float tolerance = 0.1f;
};

// The fused mesh of the object's turntable set, in the object's coordinates.
std::unique_ptr<v3d::Geo> ScanAndFuse(const Options& o,
                                      const std::function<void(sim::ObjectDescription&)>& object) {
  utils::Timer timer;
  shell::testing::RigTurntableRequest request;
  request.imageScale = o.scale;
  request.views = o.views;
  request.stepAngle = 360.0 / o.views * kDeg;
  request.scanOptions.imageSkipCount = 4;
  request.editScene = [&](sim::SceneDescription& description) { object(description.objects[0]); };
  const sim::TurntableSet set = shell::testing::ScanRigTurntable(request);
  if (set.status != sim::RigScanStatus::kSuccess) {
    std::fprintf(stderr, "Error: %s\n", set.error.c_str());
    std::exit(1);
  }
  std::printf("  %d views, worst depth error RMS %.4f mm, %.1f s\n", o.views,
              shell::testing::WorstDepthRms(set), timer.ElapsedSeconds());
  timer.Restart();
  surf::ShapeFusion list;
  for (const sim::RigScan& scan : set.scans) {
    surf::MeshArrays mesh = scan.mesh;
    mesh.texture = img::RGBImage();
    mesh.texCoords.clear();
    const int index = list.AddGeo(surf::MakeGeoItem(mesh));
    list.SetGeoFrame(index, scan.world_T_object.GetInverse());
  }
  if (list.StartFusionPoisson({}, o.resolution, 1.0f, false, false, 0.0f, 0, "Fusion result")) {
    std::fprintf(stderr, "Error: the fusion failed\n");
    std::exit(1);
  }
  const v3d::Geo* fused = list.GetGeo(surf::ShapeFusion::kFusionResultIndex);
  auto copy = std::make_unique<v3d::Geo>(*fused);
  copy->SetFrame(fused->GetWorldFrame());
  std::printf("  fused at resolution %d (voxel %.3f mm): %zu vertices, %.1f s\n", o.resolution,
              list.CalculateFusionVoxelSize(o.resolution), copy->GetMesh(0)->GetNumVertices(),
              timer.ElapsedSeconds());
  return copy;
}

surf::Comparison Measure(const Options& o, const v3d::Geo& fused, const sim::TriMesh& truth) {
  const auto reference = surf::testing::MakeGeo(surf::testing::ToArrays(truth));
  surf::ComparisonOptions options;
  options.tolerance = o.tolerance;
  options.method = surf::DeviationMethod::kTriangle;
  const surf::Comparison comparison = surf::CompareObjects(fused, *reference, options);
  const surf::MeasureReportData report = surf::MakeReportData(comparison, "fused", "truth");
  std::printf("  deviation from the truth:");
  for (const double level : surf::kReportLevels)
    std::printf(" p%g %.4f", level, surf::Percentile(report.magnitudes, level));
  std::printf(" mm; deviations %.2f s, features %.2f s\n", comparison.deviationSeconds,
              comparison.featureSeconds);
  return comparison;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--resolution")
      o.resolution = std::atoi(value.c_str());
    else if (key == "--scale")
      o.scale = std::atof(value.c_str());
    else if (key == "--views")
      o.views = std::max(2, std::atoi(value.c_str()));
    else if (key == "--tolerance")
      o.tolerance = float(std::atof(value.c_str()));
  }

  std::printf("Sphere of radius 30 mm\n");
  sim::SphereSpec sphere{30.0};
  const auto fusedSphere = ScanAndFuse(o, [&](sim::ObjectDescription& d) {
    d.kind = sim::ObjectKind::kSphere;
    d.sphere = sphere;
  });
  const surf::Comparison sphereResult = Measure(o, *fusedSphere, sim::MakeSphere(sphere, 0.5).mesh);
  for (const auto& s : sphereResult.features.spheres) {
    std::printf(
        "  sphere: diameter %.5f mm (error %+.5f mm), centre error %.5f mm, %zu points, rms %.4f "
        "mm\n",
        2 * s.radius, 2 * s.radius - 60.0, s.centre.Length(), s.points.size(), s.rms);
  }
  for (const auto& p : sphereResult.features.planes)
    std::printf("  plane of %zu points\n", p.points.size());

  std::printf("Chamfered box 80 x 60 x 40, chamfers 5 mm\n");
  sim::BoxSpec box;
  const auto fusedBox = ScanAndFuse(o, [&](sim::ObjectDescription& d) {
    d.kind = sim::ObjectKind::kBox;
    d.box = box;
  });
  const surf::Comparison boxResult = Measure(o, *fusedBox, sim::MakeChamferedBox(box, 0.5).mesh);
  double worst = 0.0;
  for (const auto& plane : boxResult.features.planes) {
    double best = 180.0;
    math::Vec3d direction;
    for (int d = 0; d < 27; ++d) {
      const math::Vec3d candidate(d % 3 - 1, d / 3 % 3 - 1, d / 9 - 1);
      if (candidate.LengthSquared() == 0) continue;
      const double angle =
          std::acos(std::clamp(math::Dot(plane.normal, candidate.GetNormalized()), -1.0, 1.0)) /
          kDeg;
      if (angle < best) {
        best = angle;
        direction = candidate;
      }
    }
    worst = std::max(worst, best);
    std::printf(
        "  plane (%+.0f %+.0f %+.0f): %.4f deg from the true normal, %zu points, rms %.4f mm\n",
        direction[0], direction[1], direction[2], best, plane.points.size(), plane.rms);
  }
  std::printf("  %zu planes, worst normal error %.4f deg; %zu spheres\n",
              boxResult.features.planes.size(), worst, boxResult.features.spheres.size());
  return 0;
}
