// Time of the target detector on one 1920 × 1200 image of the default
// corner rendered by the virtual rig (noise σ = 2): curves and ellipses
// (ExtractEllipses) and the mapping of both panels with the centres of mode
// 2 (MapEllipses twice), on the calling thread. "per_pixel" is wall time per
// image pixel. bench/TargetAccuracy prints the same figure with the
// accuracy; bench/peers/opencv-circles.sh compares it with OpenCV's.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "CamCalib/Interface.h"
#include "bench/TargetScenes.h"
#include "sim/TargetShot.h"

namespace {

struct Corner {
  sim::TargetShot shot;
  std::vector<CamCalib::CalibGrid> grids;
};

const Corner& WideCorner() {
  static const Corner corner = [] {
    Corner c;
    scan::HardwareSetupIO setup;
    sim::SceneDescription description;
    std::string error;
    if (!bench::LoadTargetRig(setup, description, error) ||
        !sim::ShootTargets(setup, description, 1, sim::MakeCornerTargets(sim::CornerScale(setup)),
                           {}, c.shot, error)) {
      std::fprintf(stderr, "Error: %s\n", error.c_str());
      std::exit(1);
    }
    c.grids = sim::DefaultCornerGrids(sim::CornerScale(setup));
    return c;
  }();
  return corner;
}

void BM_DetectCorner1920x1200(benchmark::State& state) {
  const Corner& corner = WideCorner();
  const img::GreyImage& image = corner.shot.image;
  CamCalib::Interface detector;
  detector.SetPrintMessages(false);
  detector.Init(CamCalib::Parameters::ForCameraCalibration(int(image.width), int(image.height)));
  std::size_t nodes = 0;
  for (auto _ : state) {
    detector.ExtractEllipses(image);
    nodes = 0;
    for (const auto& grid : corner.grids)
      nodes += detector.MapEllipses(grid) ? detector.GetImagePoints().size() : 0;
    benchmark::DoNotOptimize(nodes);
  }
  state.counters["nodes"] = double(nodes);
  state.counters["per_pixel"] =
      benchmark::Counter(double(image.size), benchmark::Counter::kIsIterationInvariantRate |
                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_DetectCorner1920x1200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExtractEllipses1920x1200(benchmark::State& state) {
  const img::GreyImage& image = WideCorner().shot.image;
  CamCalib::Interface detector;
  detector.SetPrintMessages(false);
  detector.Init(CamCalib::Parameters::ForCameraCalibration(int(image.width), int(image.height)));
  for (auto _ : state) benchmark::DoNotOptimize(detector.ExtractEllipses(image));
  state.counters["ellipses"] = double(detector.GetEllipses().size());
}
BENCHMARK(BM_ExtractEllipses1920x1200)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
