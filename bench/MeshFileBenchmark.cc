// Reading and writing a scan-sized mesh in every file format: a 708 × 708
// grid of vertices (≈ 0.5 M vertices, ≈ 1 M triangles) on a wavy surface
// with normals and texture coordinates, and a 1024 × 1024 texture. Items are
// vertices of the mesh. Files go to a folder under the temporary folder.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "surf/files/MeshFile.h"
#include "surf/files/ObjFile.h"
#include "surf/files/PlyFile.h"
#include "surf/files/StlFile.h"
#include "surf/files/ThreeMfFile.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSide = 708;

const surf::MeshArrays& Grid() {
  static const surf::MeshArrays grid = [] {
    surf::MeshArrays mesh;
    for (std::uint32_t y = 0; y < kSide; ++y) {
      for (std::uint32_t x = 0; x < kSide; ++x) {
        const float z = 5.f * std::sin(x * 0.05f) * std::cos(y * 0.03f);
        mesh.positions.emplace_back(x * 0.2f, y * 0.2f, 400.f + z);
        mesh.normals.push_back(math::Vec3f(-std::cos(x * 0.05f), std::sin(y * 0.03f), 4.f).GetNormalized());
        mesh.texCoords.emplace_back((x + 0.5f) / kSide, (y + 0.5f) / kSide);
      }
    }
    for (std::uint32_t y = 0; y + 1 < kSide; ++y) {
      for (std::uint32_t x = 0; x + 1 < kSide; ++x) {
        const std::uint32_t i = y * kSide + x;
        mesh.indices.insert(mesh.indices.end(), {i, i + kSide, i + kSide + 1, i, i + kSide + 1, i + 1});
      }
    }
    mesh.texture.ResetSize(1024, 1024);
    for (std::int32_t i = 0; i < mesh.texture.size; ++i) {
      mesh.texture.data[i] = img::RGB8{std::uint8_t(i), std::uint8_t(i >> 5), std::uint8_t(i >> 10)};
    }
    return mesh;
  }();
  return grid;
}

fs::path Folder() {
  static const fs::path folder = [] {
    const fs::path path = fs::temp_directory_path() / "tarvelin-mesh-benchmark";
    fs::create_directories(path);
    return path;
  }();
  return folder;
}

void Report(benchmark::State& state, const fs::path& file) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Grid().positions.size()));
  state.counters["MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
  state.SetLabel("items = vertices");
}

const surf::ImportOptions kQuiet{{}, nullptr};

void BM_SaveChunkMesh(benchmark::State& state) {
  const surf::GeoItem item = surf::MakeGeoItem(Grid());
  const fs::path file = Folder() / "grid.tarvelinmesh";
  for (auto _ : state) {
    if (!surf::SaveMeshFile(file, item, surf::GeoSource::kScanList)) state.SkipWithError("save failed");
  }
  Report(state, file);
}
BENCHMARK(BM_SaveChunkMesh)->Unit(benchmark::kMillisecond);

void BM_LoadChunkMesh(benchmark::State& state) {
  const fs::path file = Folder() / "grid.tarvelinmesh";
  surf::SaveMeshFile(file, surf::MakeGeoItem(Grid()), surf::GeoSource::kScanList);
  for (auto _ : state) {
    surf::GeoItem item;
    if (!surf::LoadMeshFile(file, item)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(item.geo.get());
  }
  Report(state, file);
}
BENCHMARK(BM_LoadChunkMesh)->Unit(benchmark::kMillisecond);

void BM_SaveStl(benchmark::State& state) {
  const fs::path file = Folder() / "grid.stl";
  for (auto _ : state) {
    if (!surf::SaveStl(file, Grid())) state.SkipWithError("save failed");
  }
  Report(state, file);
}
BENCHMARK(BM_SaveStl)->Unit(benchmark::kMillisecond);

// Includes merging the 3 vertices per triangle back into the grid's vertices.
void BM_LoadStl(benchmark::State& state) {
  const fs::path file = Folder() / "grid.stl";
  surf::SaveStl(file, Grid());
  for (auto _ : state) {
    surf::MeshArrays mesh;
    if (!surf::LoadStl(file, mesh, kQuiet)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(mesh.positions.data());
  }
  Report(state, file);
}
BENCHMARK(BM_LoadStl)->Unit(benchmark::kMillisecond);

void BM_SaveObj(benchmark::State& state) {
  const fs::path file = Folder() / "grid.obj";
  for (auto _ : state) {
    if (!surf::SaveObj(file, Grid())) state.SkipWithError("save failed");
  }
  Report(state, file);
}
BENCHMARK(BM_SaveObj)->Unit(benchmark::kMillisecond);

void BM_LoadObj(benchmark::State& state) {
  const fs::path file = Folder() / "grid.obj";
  surf::SaveObj(file, Grid());
  for (auto _ : state) {
    surf::MeshArrays mesh;
    if (!surf::LoadObj(file, mesh, kQuiet)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(mesh.positions.data());
  }
  Report(state, file);
}
BENCHMARK(BM_LoadObj)->Unit(benchmark::kMillisecond);

void BM_SavePly(benchmark::State& state) {
  const bool binary = state.range(0) != 0;
  const fs::path file = Folder() / (binary ? "grid-binary.ply" : "grid-ascii.ply");
  for (auto _ : state) {
    if (!surf::SavePly(file, Grid(), binary ? surf::PlyEncoding::kBinary : surf::PlyEncoding::kAscii)) {
      state.SkipWithError("save failed");
    }
  }
  Report(state, file);
}
BENCHMARK(BM_SavePly)->Arg(0)->Arg(1)->ArgName("binary")->Unit(benchmark::kMillisecond);

// Includes the texture image the binary file names.
void BM_LoadPly(benchmark::State& state) {
  const bool binary = state.range(0) != 0;
  const fs::path file = Folder() / (binary ? "grid-binary.ply" : "grid-ascii.ply");
  surf::SavePly(file, Grid(), binary ? surf::PlyEncoding::kBinary : surf::PlyEncoding::kAscii);
  for (auto _ : state) {
    surf::MeshArrays mesh;
    if (!surf::LoadPly(file, mesh, kQuiet)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(mesh.positions.data());
  }
  Report(state, file);
}
BENCHMARK(BM_LoadPly)->Arg(0)->Arg(1)->ArgName("binary")->Unit(benchmark::kMillisecond);

// The PLY file that TARVELIN_PLY_FILE names (bench/peers/ply-read.sh sets
// it to the demo's fused mesh and times Open3D's reader on the same file).
void BM_LoadPlyFile(benchmark::State& state) {
  const char* name = std::getenv("TARVELIN_PLY_FILE");
  if (!name) {
    state.SkipWithError("TARVELIN_PLY_FILE is not set");
    return;
  }
  std::size_t vertices = 0;
  for (auto _ : state) {
    surf::MeshArrays mesh;
    if (!surf::LoadPly(name, mesh, kQuiet)) state.SkipWithError("load failed");
    vertices = mesh.positions.size();
    state.counters["triangles"] = static_cast<double>(mesh.NumTriangles());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(vertices));
  state.counters["MB"] = static_cast<double>(fs::file_size(name)) / 1e6;
}
BENCHMARK(BM_LoadPlyFile)->Unit(benchmark::kMillisecond);

// Includes merging vertices and the per-triangle texture coordinates.
void BM_Save3mf(benchmark::State& state) {
  const fs::path file = Folder() / "grid.3mf";
  const surf::MeshArrays& grid = Grid();
  for (auto _ : state) {
    if (!surf::Save3mf(file, grid.positions, grid.indices, grid.texCoords, grid.texture)) {
      state.SkipWithError("save failed");
    }
  }
  Report(state, file);
}
BENCHMARK(BM_Save3mf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
