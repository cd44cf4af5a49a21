// Accuracy and speed of shape and texture fusion on scans of the virtual
// rig (not a Google Benchmark: one long run). The ribbed vase is scanned
// through the rig's capture, decoding, triangulation and meshing in
// turntable views (default 8, 45° apart) with a texture; each scan is
// placed by its true pose (node frame object_T_world) and all are fused by
// ShapeFusion::StartFusionPoisson with texture fusion. Printed: vertices,
// triangles, closed or not, voxel size; the distance of the fused vertices
// to the true vase (nearest of dense samples of the analytic surface,
// 0.1 mm apart, point to tangent plane) as RMS, 99th percentile and
// maximum, over the vertices the scans support (an input sample within two
// voxels) and over all; the fused texture's grey level against the true
// albedo (a 16 × 8 checker of albedo 0.8 and 0.3 on the vase's wall, known
// away from cell edges); and wall-clock and CPU seconds of the fusion and
// of the texture fusion, with the process's peak memory.
//
//   build/release/bench/RigFusionAccuracy [--resolution 512] [--scale 1] [--views 8]
//       [--step-deg 45] [--texture 1] [--checker 1] [--max-angle 80] [--skip 4] [--vase DIR]
//
// --vase reads a folder written by `tarvelin scan --object vase --views 8
// --step-deg 45 --texture --format tarvelinmesh --out DIR` instead of
// scanning (that vase has the scene's uniform albedo 0.8, so the colour
// figures then show shading and seams only). --max-angle sets the depth
// filter's largest viewing angle (degrees) of the scans taken here, --skip
// the frames the capture drops after each pattern change (4: with the
// default 2, a loaded machine's fast cameras take frames that mix two
// patterns in some views).
// OMP_WAIT_POLICY is printed: Open3D's threads spin while they wait unless
// it is "passive".

#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

#include "foundation/utils/Timer.h"
#include "sim/testing/RigAlignment.h"
#include "sim/testing/RigFusion.h"
#include "shell/testing/RigTurntable.h"

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

struct Options {
  int resolution = 512;
  double scale = 1.0;
  int views = 8;
  double stepDeg = 45.0;
  bool texture = true;
  bool checker = true;
  double maxAngleDeg = 80.0;
  int skip = 4;
  std::string folder;
};

sim::TurntableSet Scan(const Options& o, const sim::testing::VaseChecker& checker, sim::VaseSpec& spec) {
  sim::TurntableSet set;
  std::string error;
  if (!o.folder.empty()) {
    if (!sim::testing::LoadScanFolder(o.folder, set.scans, error)) {
      std::fprintf(stderr, "Error: %s\n", error.c_str());
      std::exit(1);
    }
    std::printf("%zu views read from %s\n", set.scans.size(), o.folder.c_str());
    return set;
  }
  utils::Timer timer;
  shell::testing::RigTurntableRequest request;
  request.imageScale = o.scale;
  request.views = o.views;
  request.stepAngle = o.stepDeg * kDeg;
  request.scanOptions.texture = o.texture;
  request.scanOptions.maxViewingAngleDeg = o.maxAngleDeg;
  request.scanOptions.imageSkipCount = o.skip;
  request.editScene = [&](sim::SceneDescription& description) {
    sim::ObjectDescription& vase = description.objects[0];
    if (o.checker)
      sim::testing::PaintChecker(vase, checker);
    else
      vase.albedo = sim::Albedo(checker.a, checker.a, checker.a);
    spec = vase.vase;
  };
  set = shell::testing::ScanRigTurntable(request);
  if (set.status != sim::RigScanStatus::kSuccess) {
    std::fprintf(stderr, "Error: %s\n", set.error.c_str());
    std::exit(1);
  }
  std::printf("%d views %.1f deg apart at image scale %.2f, worst depth error RMS %.4f mm, %.1f s\n", o.views,
              o.stepDeg, o.scale, shell::testing::WorstDepthRms(set), timer.ElapsedSeconds());
  return set;
}

void Print(const char* what, const sim::testing::DistanceStats& s) {
  std::printf("  %-22s %8zu vertices: rms %.4f mm, p99 %.4f mm, max %.4f mm\n", what, s.count, s.rms, s.p99, s.max);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--resolution") o.resolution = std::atoi(value.c_str());
    else if (key == "--scale") o.scale = std::atof(value.c_str());
    else if (key == "--views") o.views = std::max(1, std::atoi(value.c_str()));
    else if (key == "--step-deg") o.stepDeg = std::atof(value.c_str());
    else if (key == "--texture") o.texture = value == "1";
    else if (key == "--checker") o.checker = value == "1";
    else if (key == "--max-angle") o.maxAngleDeg = std::atof(value.c_str());
    else if (key == "--skip") o.skip = std::atoi(value.c_str());
    else if (key == "--vase") o.folder = value;
    else {
      std::fprintf(stderr, "Error: unknown option %s\n", key.c_str());
      return 2;
    }
  }
  const char* waitPolicy = std::getenv("OMP_WAIT_POLICY");
  std::printf("OMP_WAIT_POLICY=%s\n", waitPolicy ? waitPolicy : "(unset)");

  sim::testing::RigFusionOptions options;
  options.resolution = o.resolution;
  options.texture = o.texture;
  options.hasChecker = o.checker && o.folder.empty();
  options.colourMargin = 1.5;
  sim::VaseSpec spec;
  const sim::TurntableSet set = Scan(o, options.checker, spec);
  std::fflush(stdout);

  utils::Timer truthTimer;
  const sim::testing::VaseTruth truth(spec, 0.1);
  const double truthSeconds = truthTimer.ElapsedSeconds();
  const sim::testing::RigFusionResult r = sim::testing::FuseAndScore(set.scans, truth, options);
  if (!r.ok) {
    std::fprintf(stderr, "Error: %s\n", r.error.c_str());
    return 1;
  }
  for (std::size_t k = 0; k < r.scanErrors.size(); ++k) {
    const auto& e = r.scanErrors[k];
    std::printf("  scan %zu: %zu vertices, to the truth rms %.4f mm, p99 %.4f mm, max %.4f mm\n", k, e.count, e.rms,
                e.p99, e.max);
  }
  std::printf("\nfusion at resolution %d of %zu scan vertices: %zu vertices, %zu triangles, closed %s, voxel %.4f mm\n",
              o.resolution, r.scanVertices, r.vertices, r.triangles, r.closed ? "yes" : "no", r.voxelSize);
  Print("supported", r.supported);
  Print("all", r.all);
  if (r.textured) {
    std::printf("  texture on %zu wall vertices of known albedo: gain %.1f grey levels per unit albedo, "
                "relative error rms %.3f, mean %.3f on albedo %.2f and %.3f on %.2f, %.2f %% nearer the other cell\n",
                r.colour.count, r.colour.gain, r.colour.rmsRelative, r.colour.meanA, options.checker.a,
                r.colour.meanB, options.hasChecker ? options.checker.b : options.checker.a, 100.0 * r.colour.wrongCell);
  } else {
    std::printf("  no texture\n");
  }
  std::printf("  seconds: fusion %.1f (%.1f CPU), texture fusion %.1f (%.1f CPU); truth sampling %.1f s\n",
              r.fusion.wall, r.fusion.cpu, r.textureFusion.wall, r.textureFusion.cpu, truthSeconds);
  std::printf("  memory: the fusion's estimate %.0f MB, the process's peak %.0f MB\n", r.estimatedMemoryMB,
              r.peakMemoryMB);
  std::printf("  targets: rms <= 0.1 mm %s, p99 <= 0.3 mm %s, fusion < 60 s %s, texture fusion < 30 s %s\n",
              r.supported.rms <= 0.1 ? "met" : "MISSED", r.supported.p99 <= 0.3 ? "met" : "MISSED",
              r.fusion.wall < 60.0 ? "met" : "MISSED", r.textureFusion.wall < 30.0 ? "met" : "MISSED");
  return 0;
}
