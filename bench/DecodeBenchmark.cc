// Decoding throughput of whole scan evaluations on a 1920 × 1200 camera that
// looks at a 1920 × 1080 projector: coded light (both orientations, period
// 16, 4 shifts, inverse patterns: 40 frames) and PSK. The counter
// "per_pixel" is wall time per camera pixel for one full evaluation; the CPU
// column is the process's CPU time (all worker threads), steadier than the
// wall time on a machine shared with other work. A complete coded-light
// capture is decoded in one pass (CodedLightDecoding); the Stage_*
// benchmarks time the evaluation classes that a capture with missing frames
// goes through step by step: one x-varying orientation, and the quality map
// of both, on the same frames.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <memory>
#include <string>

#include "scan/SLCodedLightScan.h"
#include "scan/SLCodedLightScanEvaluation.h"
#include "scan/SLGrayCodePhaseCombiner.h"
#include "scan/SLQualityEvaluation.h"
#include "scan/SLPSKScan.h"
#include "scan/testing/SyntheticCamera.h"

namespace {

constexpr std::uint32_t kProjectorWidth = 1920;
constexpr std::uint32_t kProjectorHeight = 1080;

// The camera size; --camera=WxH changes it (a small camera for callgrind).
std::uint32_t g_cameraWidth = 1920;
std::uint32_t g_cameraHeight = 1200;

scan::testing::SyntheticCameraOptions Camera() {
  scan::testing::SyntheticCameraOptions o;
  o.width = g_cameraWidth;
  o.height = g_cameraHeight;
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

void SetPerPixel(benchmark::State& state) {
  state.counters["per_pixel"] = benchmark::Counter(double(Camera().width) * Camera().height,
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void Run(benchmark::State& state, const Fixture& f) {
  for (auto _ : state) {
    auto result = f.scan->Evaluate(*f.store, {});
    benchmark::DoNotOptimize(result);
  }
  SetPerPixel(state);
  state.counters["frames"] = double(f.store->Count());
}

const Fixture& CodedLight() {
  static const Fixture f = [] {
    auto s = std::make_shared<scan::SLCodedLightScan>(kProjectorWidth, kProjectorHeight, 4, 16, 0, 5.0f);
    s->PrepareScanForOrientation(1);
    s->PrepareScanForOrientation(0);
    return Fixture{s, scan::testing::SyntheticCamera(Camera()).Capture(*s, kProjectorWidth, kProjectorHeight)};
  }();
  return f;
}

const scan::SLCodedLightScan::OrientationSequences& Sequences(std::uint32_t orientation) {
  return static_cast<const scan::SLCodedLightScan&>(*CodedLight().scan).Orientation(orientation);
}

void BM_CodedLightEvaluation(benchmark::State& state) { Run(state, CodedLight()); }
BENCHMARK(BM_CodedLightEvaluation)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

std::shared_ptr<scan::SLPhaseShiftScanEvaluation> EvaluatedPhase(std::uint32_t orientation) {
  auto phase = std::make_shared<scan::SLPhaseShiftScanEvaluation>(Sequences(orientation).phaseSequence);
  phase->Evaluate(*CodedLight().store);
  return phase;
}

std::shared_ptr<scan::SLCodedLightScanEvaluation> EvaluatedCode(std::uint32_t orientation) {
  auto code = std::make_shared<scan::SLCodedLightScanEvaluation>(Sequences(orientation).graySequence,
                                                                 Sequences(orientation).inverseGraySequence);
  code->Evaluate(*CodedLight().store);
  return code;
}

void BM_Stage_Phase(benchmark::State& state) {
  scan::SLPhaseShiftScanEvaluation phase(Sequences(1).phaseSequence);
  for (auto _ : state) {
    phase.Evaluate(*CodedLight().store);
    benchmark::DoNotOptimize(phase.GetPhaseImage());
  }
  SetPerPixel(state);
}
BENCHMARK(BM_Stage_Phase)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Stage_GrayCode(benchmark::State& state) {
  scan::SLCodedLightScanEvaluation code(Sequences(1).graySequence, Sequences(1).inverseGraySequence);
  for (auto _ : state) {
    code.Evaluate(*CodedLight().store);
    benchmark::DoNotOptimize(code.GetCodeImage());
  }
  SetPerPixel(state);
}
BENCHMARK(BM_Stage_GrayCode)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Stage_Combine(benchmark::State& state) {
  scan::SLGrayCodePhaseCombiner combiner(EvaluatedCode(1), EvaluatedPhase(1));
  for (auto _ : state) {
    combiner.Evaluate();
    benchmark::DoNotOptimize(combiner.GetResult());
  }
  SetPerPixel(state);
}
BENCHMARK(BM_Stage_Combine)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Stage_Quality(benchmark::State& state) {
  scan::SLQualityEvaluation quality({EvaluatedPhase(0)->GetAmplitudeImage(), EvaluatedPhase(1)->GetAmplitudeImage()},
                                    5.0f);
  for (auto _ : state) benchmark::DoNotOptimize(quality.Evaluate());
  SetPerPixel(state);
}
BENCHMARK(BM_Stage_Quality)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

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
BENCHMARK(BM_PSKEvaluation)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

// Freed image buffers stay in the heap for the next evaluation, as they do
// in an application that scans repeatedly. Without this every evaluation
// maps its ~100 MB of result and intermediate images afresh, and on a
// virtual machine the first touch of a page can cost more than decoding it
// (tens of milliseconds per 1920 × 1200 float image); pass
// --fresh_memory to measure that case.
int main(int argc, char** argv) {
  bool fresh = false;
  for (int i = 1; i < argc;) {
    const std::string arg = argv[i];
    if (arg == "--fresh_memory") {
      fresh = true;
    } else if (arg.rfind("--camera=", 0) == 0) {
      if (std::sscanf(arg.c_str(), "--camera=%ux%u", &g_cameraWidth, &g_cameraHeight) != 2 || g_cameraWidth == 0 ||
          g_cameraHeight == 0) {
        std::fprintf(stderr, "Error: --camera expects WxH, got '%s'\n", arg.c_str());
        return 1;
      }
    } else {
      ++i;
      continue;
    }
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
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
