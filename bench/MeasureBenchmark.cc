// Speed of the deviation computation, in test vertices per second, for
// both methods: a blob (about 150 000 vertices, noisy by 0.01 mm) against
// the true blob at 0.5 mm resolution, on all threads; and the feature
// search on a sphere.

#include <benchmark/benchmark.h>

#include "sim/Procedural.h"
#include "surf/measure/Deviation.h"
#include "surf/measure/ShapeFeatures.h"
#include "surf/measure/testing/MeasureMeshes.h"

namespace {

struct Pair {
  std::unique_ptr<v3d::Geo> test, reference;
  std::size_t vertices = 0;
};

const Pair& BlobPair() {
  static const Pair pair = [] {
    Pair p;
    surf::MeshArrays test = surf::testing::ToArrays(sim::MakeBlob({}, 0.25).mesh);
    surf::testing::AddNormalNoise(test, 0.01, 5);
    p.vertices = test.positions.size();
    p.test = surf::testing::MakeGeo(test);
    p.reference = surf::testing::MakeGeo(surf::testing::ToArrays(sim::MakeBlob({}, 0.5).mesh));
    return p;
  }();
  return pair;
}

void Deviations(benchmark::State& state, surf::DeviationMethod method) {
  const Pair& pair = BlobPair();
  surf::DeviationOptions options;
  options.tolerance = 0.1f;
  options.method = method;
  for (auto _ : state)
    benchmark::DoNotOptimize(surf::ComputeDeviations(*pair.test, *pair.reference, options));
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(pair.vertices));
  state.counters["vertices"] = double(pair.vertices);
}

void BM_DeviationsVertex(benchmark::State& state) {
  Deviations(state, surf::DeviationMethod::kVertex);
}
void BM_DeviationsTriangle(benchmark::State& state) {
  Deviations(state, surf::DeviationMethod::kTriangle);
}
BENCHMARK(BM_DeviationsVertex)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeviationsTriangle)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SphereFeatures(benchmark::State& state) {
  static const surf::MeshArrays sphere = [] {
    surf::MeshArrays s = surf::testing::ToArrays(sim::MakeSphere({30.0}, 0.3).mesh);
    surf::testing::AddNormalNoise(s, 0.01, 3);
    return s;
  }();
  for (auto _ : state)
    benchmark::DoNotOptimize(surf::DetectShapeFeatures(sphere.positions, sphere.normals, {}));
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(sphere.positions.size()));
}
BENCHMARK(BM_SphereFeatures)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
