// Accuracy and speed of the screened Poisson fusion on synthetic turntable
// scans with known truth (not a Google Benchmark: one long run per case).
// Eight views 45° apart of an analytic surface, placed with their true
// poses, are fused; printed per case: samples, vertices and triangles,
// whether the mesh is closed (every edge used by exactly two triangles),
// the distance of the vertices to the true surface (RMS, 99th percentile
// and maximum, mm) over the supported vertices (value 1: an input sample
// within two voxels) and over all vertices, the voxel size and the seconds
// of the fusion (reconstruction and post-processing), and the fusion's
// memory estimate beside the process's peak resident memory.
//  - the ribbed vase (height 80 mm, radius 25 mm, open at top and bottom:
//    the closed caps are unsupported and not counted in "supported");
//  - the lumpy blob (radius 40 mm, closed).
//
//   build/release/bench/FusionAccuracy [resolution=512] [samplesAround=600] [noise mm=0.02] [threads=1]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numbers>

#include <sys/resource.h>

#include "surf/fusion/Fusion.h"
#include "surf/mesh/KDTree.h"
#include "surf/testing/SyntheticScans.h"

namespace {

using namespace surf;
using math::Vec3d;
using math::Vec3f;

// Dense samples of the true surface with their normals, for point-to-plane
// distances (the plane of the nearest sample).
struct Truth {
  KDTree tree;
  explicit Truth(const testing::AnalyticSurface& surface, int around) {
    std::vector<Vec3f> points, normals;
    for (int patch = 0; patch < surface.GetNumPatches(); ++patch) {
      int nu = 0, nv = 0;
      surface.GridSize(around, nu, nv);
      for (int iv = 0; iv < nv; ++iv) {
        for (int iu = 0; iu < nu; ++iu) {
          const double u = double(iu) / (surface.IsPeriodicU() ? nu : nu - 1), v = double(iv) / (nv - 1);
          points.push_back(Vec3f(surface.Point(patch, u, v)));
          normals.push_back(Vec3f(surface.Normal(patch, u, v)));
        }
      }
    }
    tree.Build(std::move(points), std::move(normals));
  }
  double Distance(const Vec3f& p) const {
    const std::int32_t i = tree.FindNearest(p, 1e30f);
    return std::abs(math::Dot(p - tree.GetPoints()[i], tree.GetNormals()[i]));
  }
};

struct Stats {
  double rms = 0, p99 = 0, max = 0;
  std::size_t count = 0;
};

Stats Summarise(std::vector<double> d) {
  Stats s;
  s.count = d.size();
  if (d.empty()) return s;
  double sum = 0;
  for (double x : d) sum += x * x;
  s.rms = std::sqrt(sum / double(d.size()));
  std::sort(d.begin(), d.end());
  s.p99 = d[std::min(d.size() - 1, std::size_t(0.99 * double(d.size())))];
  s.max = d.back();
  return s;
}

bool IsClosed(const std::vector<std::uint32_t>& triangles) {
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
  for (std::size_t k = 0; k < triangles.size(); k += 3) {
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = triangles[k + e], b = triangles[k + (e + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  }
  return std::all_of(uses.begin(), uses.end(), [](const auto& u) { return u.second == 2; });
}

void RunCase(const char* name, const testing::AnalyticSurface& surface, const testing::ScanSpec& spec,
             const Vec3d& axisPoint, int resolution, int threads, int truthAround) {
  const testing::TurntableScans views =
      testing::MakeTurntableScans(surface, spec, 8, std::numbers::pi / 4.0, Vec3d(0.0, 0.0, 1.0), axisPoint);
  // The fusion's own messages, with the seconds since the start.
  const auto t0 = std::chrono::steady_clock::now();
  Fusion fusion([t0](const std::string& text) {
    std::printf("  [%6.2f s] %s", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
                text.c_str());
  });
  for (std::size_t k = 0; k < views.scans.size(); ++k) {
    // Scanner coordinates back into the object's (the true surface's) frame.
    const math::Frame4d object_T_scanner = views.truth[k].GetInverse();
    const v3d::Mesh& mesh = *views.scans[k]->GetMesh(0);
    std::vector<Vec3f> positions, normals;
    for (const auto& p : mesh.GetVertexCoords()) positions.push_back(Vec3f(object_T_scanner.MultP(Vec3d(p))));
    for (const auto& n : mesh.GetVertexNormals()) normals.push_back(Vec3f(object_T_scanner.MultV(Vec3d(n))));
    fusion.AddPointCloud(positions, normals);
  }
  FusionOptions options;
  options.resolution = resolution;
  options.threads = threads;
  const double estimateMB = double(fusion.EstimateMemory(ComputeFusionDepth(resolution))) / (1 << 20);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakBeforeMB = double(usage.ru_maxrss) / 1024.0;
  const auto cpuSeconds = [](const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  };
  const double cpuBefore = cpuSeconds(usage);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = fusion.Reconstruct(options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    std::printf("%s: fusion failed\n", name);
    return;
  }
  getrusage(RUSAGE_SELF, &usage);
  const double peakAfterMB = double(usage.ru_maxrss) / 1024.0;
  const double cpu = cpuSeconds(usage) - cpuBefore;
  const Truth truth(surface, truthAround);
  std::vector<double> all, supported;
  for (std::size_t i = 0; i < fusion.GetPositions().size(); ++i) {
    const double d = truth.Distance(fusion.GetPositions()[i]);
    all.push_back(d);
    if (fusion.GetValues()[i] >= 1.0f) supported.push_back(d);
  }
  const Stats s = Summarise(supported), a = Summarise(all);
  std::printf("%s: %zu samples, %zu vertices, %zu triangles, closed %s, voxel %.4f mm, %.1f s (%.1f s CPU)\n",
              name, fusion.GetNumSamples(), fusion.GetPositions().size(), fusion.GetTriangles().size() / 3,
              IsClosed(fusion.GetTriangles()) ? "yes" : "no", fusion.GetVoxelSize(), seconds, cpu);
  std::printf("  memory: estimated %.0f MB, peak resident %.0f MB before and %.0f MB after the fusion\n", estimateMB,
              peakBeforeMB, peakAfterMB);
  std::printf("  supported vertices %zu: rms %.4f mm, p99 %.4f mm, max %.4f mm\n", s.count, s.rms, s.p99, s.max);
  std::printf("  all vertices       %zu: rms %.4f mm, p99 %.4f mm, max %.4f mm\n", a.count, a.rms, a.p99, a.max);
}

}  // namespace

int main(int argc, char** argv) {
  const int resolution = argc > 1 ? std::atoi(argv[1]) : 512;
  testing::ScanSpec spec;
  spec.samplesAround = argc > 2 ? std::atoi(argv[2]) : 600;
  spec.noiseSigma = argc > 3 ? std::atof(argv[3]) : 0.02;
  const int threads = argc > 4 ? std::atoi(argv[4]) : 1;
  std::printf("resolution %d, %d samples around, noise %.3f mm, threads %d\n", resolution, spec.samplesAround,
              spec.noiseSigma, threads);
  RunCase("vase", testing::RibbedVase(), spec, Vec3d(0.0, 0.0, 0.0), resolution, threads, 2000);
  RunCase("blob", testing::LumpyBlob(40.0, 14, 7), spec, Vec3d(0.0, 0.0, 0.0), resolution, threads, 2000);
  return 0;
}
