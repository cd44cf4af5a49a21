// Decoding throughput of whole scan evaluations on a 1920 × 1200 camera that
// looks at a 1920 × 1080 projector: coded light (both orientations, period
// 16, 4 shifts, inverse patterns: 40 frames) and PSK. The counter
// "per_pixel" is wall time per camera pixel for one full evaluation.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>

#include "scan/SLCodedLightScan.h"
#include "scan/SLPSKScan.h"
#include "scan/testing/SyntheticCamera.h"

namespace {

constexpr std::uint32_t kProjectorWidth = 1920;
constexpr std::uint32_t kProjectorHeight = 1080;

scan::testing::SyntheticCameraOptions Camera() {
  scan::testing::SyntheticCameraOptions o;
  o.width = 1920;
  o.height = 1200;
  o.mapX = {0.95, 0.02, 20.3};
  o.mapY = {-0.02, 0.85, 30.7};
  o.noiseSigma = 2.0;
  o.seed = 3;
  return o;
}

struct Fixture {
  std::shared_ptr<scan::SLScan> scan;
  std::shared_ptr<scan::SLScannedImagesStore> store;
};

void Run(benchmark::State& state, const Fixture& f) {
  const double pixels = double(Camera().width) * Camera().height;
  for (auto _ : state) {
    auto result = f.scan->Evaluate(*f.store, {});
    benchmark::DoNotOptimize(result);
  }
  state.counters["per_pixel"] =
      benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["frames"] = double(f.store->Count());
}

void BM_CodedLightEvaluation(benchmark::State& state) {
  static const Fixture f = [] {
    auto s = std::make_shared<scan::SLCodedLightScan>(kProjectorWidth, kProjectorHeight, 4, 16, 0, 5.0f);
    s->PrepareScanForOrientation(1);
    s->PrepareScanForOrientation(0);
    return Fixture{s, scan::testing::SyntheticCamera(Camera()).Capture(*s, kProjectorWidth, kProjectorHeight)};
  }();
  Run(state, f);
}
BENCHMARK(BM_CodedLightEvaluation)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PSKEvaluation(benchmark::State& state) {
  const auto shiftsPerLevel = static_cast<std::uint32_t>(state.range(0));
  const Fixture f = [&] {
    auto s = std::make_shared<scan::SLPSKScan>(kProjectorWidth, kProjectorHeight, 4, 16, 4, shiftsPerLevel, 5.0f);
    s->PrepareScanForOrientation(1);
    s->PrepareScanForOrientation(0);
    return Fixture{s, scan::testing::SyntheticCamera(Camera()).Capture(*s, kProjectorWidth, kProjectorHeight)};
  }();
  Run(state, f);
}
BENCHMARK(BM_PSKEvaluation)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Freed image buffers stay in the heap for the next evaluation, as they do
// in an application that scans repeatedly. Without this every evaluation
// maps its ~100 MB of result and intermediate images afresh, and on a
// virtual machine the first touch of a page can cost more than decoding it
// (tens of milliseconds per 1920 × 1200 float image); pass
// --fresh_memory to measure that case.
int main(int argc, char** argv) {
  bool fresh = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--fresh_memory") {
      fresh = true;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  }
  if (!fresh) {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
