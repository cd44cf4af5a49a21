// Accuracy of scan alignment on scans of the virtual rig (not a speed
// benchmark): every scan goes through the rig's capture, decoding,
// triangulation and meshing, and is scored against the turntable's true
// poses. Prints, per run, the error of the recovered pose of A on B as the
// RMS displacement over A's vertices (mm) and the rotation error (degrees),
// with the coarse score and the seconds taken:
//  - lumpy blob: turntable views 22.5° apart; run r aligns view r onto
//    view r + 2 (45° apart) with free rotation;
//  - ribbed vase (16 ribs: 16-fold symmetric about the turntable axis),
//    the same pairs with the known axis and angle (45° ± 1°), with and
//    without a point on the axis;
//  - the 8 blob (and vase) views 45° apart round the table: each aligned onto the one
//    before with the known axis and step, then all refined together by the
//    global fine registration; error of each view relative to view 0.
// Pairs and rings are aligned as the scan list aligns them: fragment
// normals smoothed as far as their noise asks (at most 8 passes) and ICP
// with its capture stage (surf::PairwiseIcpParams).
// A run succeeds within 0.05 mm and 0.05°. The cameras deliver frames
// faster than the rig's scene asks (sim::UseFastCameras), which shortens
// the captures and leaves the images alone.
//
//   build/release/bench/RigAlignAccuracy [--runs 20] [--scale 1] [--rig default]
//       [--blob DIR] [--vase DIR] [--samples 1000] [--iterations 20] [--effort 1]
//
// --blob and --vase take scan folders written by
// `tarvelin scan --object blob --views 22 --step-deg 22.5 --out DIR`
// (at least runs + 2 views; the ring needs 15) instead of scanning;
// --samples, --iterations, --distance and --effort set the ICP's samples
// per fragment, iterations and distance factor and the coarse search's
// effort of the pair runs. Diagnostics of the blob: --from-truth 1 starts
// ICP at the true pose (no coarse search), --coarse-cell MM runs the coarse
// search on scans decimated by vertex clustering, --surface-features 1
// rates with surface-feature weights, --capture-iterations N
// --capture-angle RAD set the ICP's capture stage (0 iterations: none),
// --normal-passes N the fragments' most normal smoothing passes (0: the
// mesh normals),
// --smooth N smooths the depth maps, --bump-height H
// and --bumps N change the blob, --blob-only 1 stops after the blob pairs.

#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

#include "foundation/utils/Timer.h"
#include "shell/testing/RigTurntable.h"
#include "sim/testing/RigAlignment.h"

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kStep = 22.5 * kDeg;

struct Options {
  int runs = 20;
  double scale = 1.0;
  std::string rig = "default";
  std::string blobFolder, vaseFolder;
  surf::IcpParams icp = surf::PairwiseIcpParams();
  double effort = 1.0;
  double coarseCell = 0.0;
  bool fromTruth = false;
  bool blobOnly = false;
  bool surfaceFeatures = false;
  double bumpHeight = 0.0;  // 0: the blob's default
  int bumps = 0;
  int smooth = 0;
  int normalPasses = surf::Fragment::kAlignmentNormalSmoothingPasses;
};

sim::TurntableSet ScanObject(const Options& o, const std::string& object, int views, const std::string& folder) {
  if (!folder.empty()) {
    sim::TurntableSet set;
    std::string error;
    if (!sim::testing::LoadScanFolder(folder, set.scans, error) || int(set.scans.size()) < views) {
      std::fprintf(stderr, "Error: %s\n", error.empty() ? (folder + ": too few scans").c_str() : error.c_str());
      std::exit(1);
    }
    std::printf("%s: %zu views read from %s\n\n", object.c_str(), set.scans.size(), folder.c_str());
    return set;
  }
  utils::Timer timer;
  shell::testing::RigTurntableRequest request;
  request.rig = o.rig;
  request.object = object;
  request.imageScale = o.scale;
  request.views = views;
  request.stepAngle = kStep;
  request.scanOptions.smoothIterations = o.smooth;
  request.editScene = [&o](sim::SceneDescription& description) {
    if (o.bumpHeight > 0.0) description.objects[0].blob.bumpHeight = o.bumpHeight;
    if (o.bumps > 0) description.objects[0].blob.bumps = o.bumps;
  };
  sim::TurntableSet set = shell::testing::ScanRigTurntable(request);
  if (set.status != sim::RigScanStatus::kSuccess) {
    std::fprintf(stderr, "Error: %s\n", set.error.c_str());
    std::exit(1);
  }
  double depthRms = 0.0, vertices = 0.0;
  for (const auto& scan : set.scans) {
    depthRms = std::max(depthRms, scan.depthScore.rms);
    vertices += double(scan.mesh.positions.size());
  }
  std::printf("%s: %d views 22.5 deg apart at image scale %.2f, %.0f vertices per scan on average, "
              "worst depth error RMS %.4f mm, %.1f s\n\n",
              object.c_str(), views, o.scale, vertices / views, depthRms, timer.ElapsedSeconds());
  return set;
}

int Pairs(const char* title, const sim::TurntableSet& set, const Options& o, surf::CoarseRegistrationParams params) {
  const int runs = o.runs;
  params.effort = o.effort;
  std::printf("%s\n  run   score   coarse rms(mm) angle(deg)   rms(mm)  angle(deg)  inliers  rms p2p(mm)  seconds\n",
              title);
  int ok = 0;
  for (int r = 0; r < runs; ++r) {
    const auto& a = set.scans[std::size_t(r)];
    const auto& b = set.scans[std::size_t(r + 2)];
    const auto geoA = sim::testing::GeoOf(a), geoB = sim::testing::GeoOf(b);
    sim::testing::PairOptions pair;
    pair.params = params;
    pair.icp = o.icp;
    pair.seed = std::uint64_t(r + 1);
    pair.coarseCellSize = o.coarseCell;
    pair.startAtTruth = o.fromTruth;
    pair.surfaceFeatures = o.surfaceFeatures;
    pair.normalSmoothingPasses = o.normalPasses;
    const auto run = sim::testing::AlignPair(*geoA, *geoB, sim::TrueRelativePose(a, b), pair);
    const bool good = run.rms <= 0.05 && run.angle <= 0.05;
    ok += good;
    std::printf("  %3d  %6.3f  %14.4f %10.4f  %8.4f  %9.4f  %7.3f  %10.4f  %7.2f%s\n", r, run.score, run.coarseRms,
                run.coarseAngle, run.rms, run.angle, run.inliers, run.rmsDistance, run.seconds, good ? "" : "  FAIL");
    std::fflush(stdout);
  }
  std::printf("  %d of %d within 0.05 mm and 0.05 deg\n\n", ok, runs);
  return ok;
}

void Ring(const char* object, const sim::TurntableSet& set) {
  std::vector<const sim::RigScan*> views;
  for (std::size_t k = 0; k < 16; k += 2) views.push_back(&set.scans[k]);
  surf::CoarseRegistrationParams params;
  params.axis = math::Vec3d(0.0, 0.0, 1.0);
  params.axisPoint = math::Vec3d();
  params.angle = -45.0 * kDeg;
  params.angleTolerance = 1.0 * kDeg;
  const auto ring = sim::testing::AlignRing(views, params, {}, 5);
  std::printf("8 %s views 45 deg apart: chained pairwise (known axis and step), then global fine registration\n"
              "  stage    rms all(mm)  worst view rms(mm)  worst angle(deg)\n",
              object);
  std::printf("  chained  %11.4f  %18.4f  %16.4f\n", ring.chained.rms, ring.chained.worstRms, ring.chained.worstAngle);
  std::printf("  global   %11.4f  %18.4f  %16.4f   (%.2f s)%s\n\n", ring.global.rms, ring.global.worstRms,
              ring.global.worstAngle, ring.seconds, ring.ok && ring.global.rms <= 0.05 ? "" : "  FAIL");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--runs") o.runs = std::max(1, std::atoi(value.c_str()));
    else if (key == "--scale") o.scale = std::atof(value.c_str());
    else if (key == "--rig") o.rig = value;
    else if (key == "--blob") o.blobFolder = value;
    else if (key == "--vase") o.vaseFolder = value;
    else if (key == "--samples") o.icp.samplesPerFragment = std::atoi(value.c_str());
    else if (key == "--iterations") o.icp.iterations = std::atoi(value.c_str());
    else if (key == "--effort") o.effort = std::atof(value.c_str());
    else if (key == "--coarse-cell") o.coarseCell = std::atof(value.c_str());
    else if (key == "--from-truth") o.fromTruth = value == "1";
    else if (key == "--blob-only") o.blobOnly = value == "1";
    else if (key == "--surface-features") o.surfaceFeatures = value == "1";
    else if (key == "--bump-height") o.bumpHeight = std::atof(value.c_str());
    else if (key == "--bumps") o.bumps = std::atoi(value.c_str());
    else if (key == "--smooth") o.smooth = std::atoi(value.c_str());
    else if (key == "--capture-iterations") o.icp.captureIterations = std::atoi(value.c_str());
    else if (key == "--capture-angle") o.icp.captureAngle = std::atof(value.c_str());
    else if (key == "--normal-passes") o.normalPasses = std::atoi(value.c_str());
    else if (key == "--distance") o.icp.distanceFactor = std::atof(value.c_str());
    else {
      std::fprintf(stderr, "Error: unknown option %s\n", key.c_str());
      return 2;
    }
  }
  const int views = o.blobOnly ? o.runs + 2 : std::max(o.runs + 2, 15);

  const sim::TurntableSet blob = ScanObject(o, "blob", views, o.blobFolder);
  Pairs("Lumpy blob, 45 deg apart, free rotation", blob, o, {});
  if (o.blobOnly) return 0;
  Ring("blob", blob);

  const sim::TurntableSet vase = ScanObject(o, "vase", views, o.vaseFolder);
  Ring("vase", vase);
  surf::CoarseRegistrationParams known;
  known.axis = math::Vec3d(0.0, 0.0, 1.0);
  known.angle = 45.0 * kDeg;
  known.angleTolerance = 1.0 * kDeg;
  Pairs("Ribbed vase, 45 deg apart, known axis and angle", vase, o, known);
  known.axisPoint = math::Vec3d();
  Pairs("Ribbed vase, 45 deg apart, known axis with a point, and angle", vase, o, known);
  return 0;
}
