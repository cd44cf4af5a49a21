// Texture fusion speed on a textured sphere (radius 50 mm): a fused mesh of
// 327 680 triangles (icosphere, 7 subdivisions) and 8 turntable scans of
// about 150 000 vertices each (views 45° apart, tilted 17° downwards) with
// 1280×960 textures. One run of FuseTextures per iteration, in seconds;
// items = fused triangles. Counters: CPU seconds of all threads, atlas
// size, result vertices, and the colour error at the result's vertices
// (0…255) against the known surface colour: median and 99th percentile over the vertices whose normal lies
// within 70° of some view (the bottom cap, which no view sees, takes one flat
// colour), and the share of vertices outside that set.
//
//   build/release/bench/TextureFusionBenchmark

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>
#include <vector>

#include "surf/fusion/TextureFusion.h"
#include "surf/testing/TexturedScans.h"

namespace {

using math::Vec3d;
using math::Vec3f;

const Vec3d kCentre{10.0, -20.0, 60.0};

// Direction the scanner looks along in view k.
Vec3d ViewDirection(int k) {
  const double a = k * std::numbers::pi / 4.0;
  return Vec3d{-std::cos(a), -std::sin(a), -0.3}.GetNormalized();
}

Vec3d Colour(const Vec3d& p) {
  const double w = 2.0 * std::numbers::pi / 30.0;
  return {128.0 + 90.0 * std::sin(w * p[0]), 128.0 + 90.0 * std::sin(w * p[1] + 1.0),
          128.0 + 90.0 * std::sin(w * p[2] + 2.0)};
}

struct Scene {
  Scene() {
    surf::testing::AppendIcosphere(kCentre, 50.0, 7, positions, indices);
    for (int k = 0; k < 8; ++k) {
      surf::testing::SphereScanSpec spec;
      spec.centre = kCentre;
      spec.radius = 50.0;
      spec.viewDirection = ViewDirection(k);
      spec.grid = 444;
      spec.textureWidth = 1280;
      spec.textureHeight = 960;
      spec.twist = 0.05 * k;
      scans.push_back(surf::testing::ScanSphere(spec, Colour));
    }
    for (const auto& s : scans) views.push_back(s.View());
  }
  std::vector<Vec3f> positions;
  std::vector<std::uint32_t> indices;
  std::vector<surf::testing::SyntheticTexturedScan> scans;
  std::vector<surf::TexturedScan> views;
};

bool Seen(const Vec3f& p) {
  const Vec3d n = (Vec3d(p) - kCentre).GetNormalized();
  for (int k = 0; k < 8; ++k) {
    if (-math::Dot(n, ViewDirection(k)) >= std::cos(70.0 * std::numbers::pi / 180.0)) return true;
  }
  return false;
}

// The q-quantile of the colour errors at the result's seen vertices.
double ErrorQuantile(const surf::TextureFusionResult& r, double q) {
  std::vector<double> errors;
  for (std::size_t i = 0; i < r.positions.size(); ++i) {
    if (!Seen(r.positions[i])) continue;
    const auto x = static_cast<std::uint32_t>(std::clamp(r.texCoords[i][0] * r.texture.width, 0.f, r.texture.width - 1.f));
    const auto y = static_cast<std::uint32_t>(std::clamp(r.texCoords[i][1] * r.texture.height, 0.f, r.texture.height - 1.f));
    const img::RGB8& c = r.texture(x, y);
    const Vec3d truth = Colour(Vec3d(r.positions[i]));
    errors.push_back(std::max({std::fabs(c.b - truth[0]), std::fabs(c.g - truth[1]), std::fabs(c.r - truth[2])}));
  }
  auto at = errors.begin() + static_cast<std::ptrdiff_t>(q * (errors.size() - 1));
  std::nth_element(errors.begin(), at, errors.end());
  return *at;
}

void FuseEightScans(benchmark::State& state) {
  static const Scene scene;
  std::size_t scanVertices = 0;
  for (const auto& s : scene.scans) scanVertices += s.positions.size();
  surf::TextureFusionOptions options;
  options.log = [](const std::string&) {};
  surf::TextureFusionResult result;
  const std::clock_t cpuStart = std::clock();
  for (auto _ : state) {
    if (!surf::FuseTextures(scene.positions, scene.indices, scene.views, options, result)) {
      state.SkipWithError("texture fusion failed");
      return;
    }
  }
  // All threads' CPU time: on a loaded machine the wall time overstates the work.
  state.counters["cpuSecondsAllThreads"] = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(scene.indices.size() / 3));
  state.counters["scanVertices"] = static_cast<double>(scanVertices) / scene.scans.size();
  state.counters["atlasW"] = result.texture.width;
  state.counters["atlasH"] = result.texture.height;
  state.counters["vertices"] = static_cast<double>(result.positions.size());
  state.counters["medianError"] = ErrorQuantile(result, 0.5);
  state.counters["p99Error"] = ErrorQuantile(result, 0.99);
  state.counters["unseenShare"] =
      static_cast<double>(std::count_if(result.positions.begin(), result.positions.end(),
                                        [](const Vec3f& p) { return !Seen(p); })) /
      static_cast<double>(result.positions.size());
}
BENCHMARK(FuseEightScans)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
