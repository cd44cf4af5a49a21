// Throughput of the scan list's tools on a scan-sized mesh: a 708 × 708 grid
// of vertices (≈ 0.5 M vertices, ≈ 1 M triangles). Items are vertices, or
// triangles where the label says so.

#include <benchmark/benchmark.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>

#include "surf/fusion/MeshMeasures.h"
#include "surf/fusion/ShapeFusion.h"
#include "surf/fusion/VertexSelection.h"

namespace {

constexpr std::uint32_t kSide = 708;
constexpr v3d::Color4ub kSelection(255, 0, 0, 255);

void GridArrays(std::vector<float>& vertices, std::vector<std::uint32_t>& triangles) {
  vertices.clear();
  triangles.clear();
  for (std::uint32_t y = 0; y < kSide; ++y) {
    for (std::uint32_t x = 0; x < kSide; ++x) {
      const float z = 5.f * std::sin(x * 0.05f) * std::cos(y * 0.03f);
      vertices.insert(vertices.end(), {x * 0.2f, y * 0.2f, 400.f + z});
    }
  }
  for (std::uint32_t y = 0; y + 1 < kSide; ++y) {
    for (std::uint32_t x = 0; x + 1 < kSide; ++x) {
      const std::uint32_t i = y * kSide + x;
      triangles.insert(triangles.end(), {i, i + kSide + 1, i + kSide, i, i + 1, i + kSide + 1});
    }
  }
}

// The grid as a Geo of one triangle mesh.
std::unique_ptr<v3d::Geo> GridGeo() {
  std::vector<float> vertices;
  std::vector<std::uint32_t> triangles;
  GridArrays(vertices, triangles);
  auto geo = std::make_unique<v3d::Geo>(3);
  v3d::Mesh& mesh = *geo->GetMesh(0);
  for (std::size_t i = 0; i < vertices.size(); i += 3) {
    mesh.AddVertex(math::Vec3f(vertices[i], vertices[i + 1], vertices[i + 2]));
  }
  mesh.mGetPrims() = triangles;
  return geo;
}

void BM_AddGeoFromArrays(benchmark::State& state) {
  std::vector<float> vertices;
  std::vector<std::uint32_t> triangles;
  GridArrays(vertices, triangles);
  std::ostringstream quiet;
  std::streambuf* out = std::cout.rdbuf(quiet.rdbuf());
  for (auto _ : state) {
    surf::ShapeFusion list;
    benchmark::DoNotOptimize(list.AddGeo(vertices, triangles, {}));
  }
  std::cout.rdbuf(out);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(vertices.size() / 3));
  state.SetLabel("items = vertices; mesh, normals, scene node, colour");
}
BENCHMARK(BM_AddGeoFromArrays)->Unit(benchmark::kMillisecond);

void BM_ColorByBitmapMask(benchmark::State& state) {
  auto geo = GridGeo();
  // The grid spans 141.4 mm; the view maps it onto a 1024² mask, half set.
  img::GreyImage mask(1024, 1024);
  for (std::uint32_t y = 0; y < mask.height; ++y) {
    for (std::uint32_t x = 0; x < mask.width; ++x) mask(x, y) = (x / 64 + y / 64) % 2;
  }
  math::Mat<4, 4, double> view;
  view(0, 0) = view(1, 1) = 2.0 / 141.4;
  view(0, 3) = view(1, 3) = -1.0;
  view(3, 3) = 1.0;
  for (auto _ : state) benchmark::DoNotOptimize(surf::ColorAllGeosByBitmapMask(*geo, mask, kSelection, view));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(geo->GetMesh(0)->GetNumVertices()));
  state.SetLabel("items = vertices");
}
BENCHMARK(BM_ColorByBitmapMask)->Unit(benchmark::kMillisecond);

void BM_ExpandSelection(benchmark::State& state) {
  auto geo = GridGeo();
  v3d::Mesh& mesh = *geo->GetMesh(0);
  mesh.AddVertexColors();
  for (auto _ : state) {
    state.PauseTiming();
    std::fill(mesh.mGetVertexColors().begin(), mesh.mGetVertexColors().end(), mesh.GetGlobalColor());
    for (std::size_t i = 0; i < mesh.GetNumVertices(); i += 97) mesh.SetVertexColor(kSelection, i);
    state.ResumeTiming();
    benchmark::DoNotOptimize(surf::ExpandColorAllGeos(*geo, kSelection));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mesh.GetNumVertices()));
  state.SetLabel("items = vertices");
}
BENCHMARK(BM_ExpandSelection)->Unit(benchmark::kMillisecond);

void BM_AreaAndVolume(benchmark::State& state) {
  auto geo = GridGeo();
  for (auto _ : state) {
    benchmark::DoNotOptimize(surf::ComputeTriangleMeshArea(*geo));
    benchmark::DoNotOptimize(surf::ComputeTriangleMeshVolume(*geo));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(geo->GetMesh(0)->GetNumPrims()));
  state.SetLabel("items = triangles; area and volume");
}
BENCHMARK(BM_AreaAndVolume)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
