// Throughput of the mesh containers on a scan-sized mesh: a 708 × 708 grid
// of vertices (≈ 0.5 M vertices, ≈ 1 M triangles) on a wavy surface. Items
// are vertices.

#include <benchmark/benchmark.h>

#include <cmath>

#include "v3d/GeoChunk.h"
#include "v3d/GeoTools.h"

namespace {

constexpr std::uint32_t kSide = 708;

// Rows of vertices, two triangles per grid cell.
void BuildGrid(v3d::Mesh& mesh) {
  mesh.ReserveVertices(std::size_t{kSide} * kSide);
  mesh.ReservePrims(2 * std::size_t{kSide - 1} * (kSide - 1));
  for (std::uint32_t y = 0; y < kSide; ++y) {
    for (std::uint32_t x = 0; x < kSide; ++x) {
      const float z = 5.f * std::sin(x * 0.05f) * std::cos(y * 0.03f);
      mesh.AddVertex(math::Vec3f(x * 0.2f, y * 0.2f, 400.f + z));
    }
  }
  for (std::uint32_t y = 0; y + 1 < kSide; ++y) {
    for (std::uint32_t x = 0; x + 1 < kSide; ++x) {
      const std::uint32_t i = y * kSide + x;
      mesh.AddPrim(i, i + kSide, i + kSide + 1);
      mesh.AddPrim(i, i + kSide + 1, i + 1);
    }
  }
}

void Report(benchmark::State& state, const v3d::Mesh& mesh) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.GetNumVertices()));
  state.counters["triangles"] = static_cast<double>(mesh.GetNumPrims());
  state.SetLabel("items = vertices");
}

void BM_CalcVertexNormals(benchmark::State& state) {
  v3d::Geo geo(3);
  BuildGrid(*geo.GetMesh(0));
  for (auto _ : state) {
    v3d::CalcVertexNormals(geo);
    benchmark::DoNotOptimize(geo.GetMesh(0)->GetVertexNormals().data());
  }
  Report(state, *geo.GetMesh(0));
}
BENCHMARK(BM_CalcVertexNormals)->Unit(benchmark::kMillisecond);

void BM_BoundingBox(benchmark::State& state) {
  v3d::Geo geo(3);
  v3d::Mesh& mesh = *geo.GetMesh(0);
  BuildGrid(mesh);
  for (auto _ : state) {
    (void)mesh.mGetVertexCoords();  // counts as a change: the box is recomputed
    benchmark::DoNotOptimize(geo.GetBoundingBox());
  }
  Report(state, mesh);
}
BENCHMARK(BM_BoundingBox)->Unit(benchmark::kMillisecond);

void BM_BuildMesh(benchmark::State& state) {
  std::size_t vertices = 0;
  for (auto _ : state) {
    v3d::Geo geo(3);
    BuildGrid(*geo.GetMesh(0));
    vertices = geo.GetMesh(0)->GetNumVertices();
    benchmark::DoNotOptimize(geo.GetMesh(0)->GetPrims().data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(vertices));
  state.SetLabel("items = vertices (AddVertex, AddPrim, sin/cos per vertex)");
}
BENCHMARK(BM_BuildMesh)->Unit(benchmark::kMillisecond);

void BM_GeoChunkRoundTrip(benchmark::State& state) {
  v3d::Geo geo(3);
  BuildGrid(*geo.GetMesh(0));
  v3d::CalcVertexNormals(geo);
  for (auto _ : state) {
    benchmark::DoNotOptimize(v3d::ReadGeo(v3d::WriteGeo(geo)));
  }
  Report(state, *geo.GetMesh(0));
}
BENCHMARK(BM_GeoChunkRoundTrip)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
