// Depth throughput on a synthetic plane-and-sphere rig (scan/testing/
// DepthScene.h) with 1920 × 1200 cameras: single-camera conversion (both
// orientations, and phase X only with the light-plane refinement), stereo
// conversion of two cameras (also at other image sizes, to show that the
// per-pixel cost does not grow with either dimension), depth-map filtering
// with smoothing 2, and meshing. The counter "per_pixel" is wall time per
// camera pixel.

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <utility>

#include "scan/SinglePhaseToDepthConverter.h"
#include "scan/StereoPhaseToDepthConverter.h"
#include "scan/testing/DepthScene.h"
#include "surf/mesh/DepthMapFilter.h"

namespace {

struct Scene {
  scan::testing::Rig rig;
  scan::testing::SceneImages camera1, camera2;
};

const Scene& GetScene(std::uint32_t w, std::uint32_t h) {
  static std::map<std::pair<std::uint32_t, std::uint32_t>, std::unique_ptr<Scene>> scenes;
  auto& scene = scenes[{w, h}];
  if (!scene) {
    scan::testing::Rig rig = scan::testing::MakeRig(w, h, true);
    auto c1 = scan::testing::RenderScene(rig.scene, *rig.camera1, *rig.projector);
    auto c2 = scan::testing::RenderScene(rig.scene, *rig.camera2, *rig.projector);
    scene = std::make_unique<Scene>(Scene{rig, std::move(c1), std::move(c2)});
  }
  return *scene;
}

void SetPerPixel(benchmark::State& state, double pixels) {
  state.counters["per_pixel"] =
      benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::unique_ptr<surf::DepthMap> SingleDepthMap(const Scene& s, bool xOnly) {
  std::unique_ptr<surf::DepthMap> map;
  scan::SinglePhaseToDepthConverter().Convert(map, s.camera1.phaseX, s.camera1.phaseY, s.camera1.quality,
                                              *s.rig.camera1, *s.rig.projector, {true, true, !xOnly});
  return map;
}

void BM_SingleConversion(benchmark::State& state) {
  const Scene& s = GetScene(1920, 1200);
  const bool xOnly = state.range(0) != 0;
  for (auto _ : state) benchmark::DoNotOptimize(SingleDepthMap(s, xOnly));
  SetPerPixel(state, 1920.0 * 1200.0);
}
BENCHMARK(BM_SingleConversion)->Arg(0)->Arg(1)->ArgName("phaseXOnly")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StereoConversion(benchmark::State& state) {
  const auto w = std::uint32_t(state.range(0)), h = std::uint32_t(state.range(1));
  const Scene& s = GetScene(w, h);
  std::size_t matched = 0;
  for (auto _ : state) {
    std::unique_ptr<surf::DepthMap> map;
    scan::StereoPhaseToDepthConverter().Convert(map, *s.rig.camera1, s.camera1.phaseX, s.camera1.quality,
                                                *s.rig.camera2, s.camera2.phaseX, s.camera2.quality,
                                                s.rig.projector.get());
    matched = 0;
    for (std::int32_t i = 0; i < map->GetDepthImage().size; ++i) matched += map->GetDepthImage().data[i] != 0.0f;
  }
  SetPerPixel(state, double(w) * h);
  state.counters["matched"] = double(matched) / (double(w) * h);
}
BENCHMARK(BM_StereoConversion)
    ->Args({1920, 1200})
    ->Args({960, 1200})
    ->Args({1920, 600})
    ->Args({960, 600})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CreateFilteredDepthMap(benchmark::State& state) {
  const auto source = SingleDepthMap(GetScene(1920, 1200), false);
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = std::make_unique<surf::DepthMap>(*source);
    state.ResumeTiming();
    // Holes up to 2 pixels, fragments under 5 % of the largest, smoothing 2.
    benchmark::DoNotOptimize(surf::CreateFilteredDepthMap(std::move(copy), nullptr, 2, 2, 10, 0.0, 0.05, 2.0f));
  }
  SetPerPixel(state, 1920.0 * 1200.0);
}
BENCHMARK(BM_CreateFilteredDepthMap)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ComputeTriangleMesh(benchmark::State& state) {
  const auto map = SingleDepthMap(GetScene(1920, 1200), false);
  std::vector<float> vertices, tex;
  std::vector<std::uint32_t> indices;
  for (auto _ : state) map->ComputeTriangleMesh(vertices, indices, tex, false, 2.0f);
  SetPerPixel(state, 1920.0 * 1200.0);
  state.counters["triangles"] = double(indices.size() / 3);
}
BENCHMARK(BM_ComputeTriangleMesh)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
