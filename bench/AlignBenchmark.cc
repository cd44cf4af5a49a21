// Alignment speed on synthetic scans of the lumpy blob (radius 40 mm, views
// 45° apart on a turntable, 0.02 mm noise), about 300 000 vertices each:
//  - PairCoarseFine: fragment preparation of both scans, coarse search
//    (free rotation, effort 1) and fine alignment (20 ICP iterations);
//    items = vertices of A and B.
//  - FragmentInit: one fragment (kd-tree, shuffle, statistics); items = vertices.
//  - KDTreeNearest: nearest point within 4 resolutions for every vertex of
//    the other scan; items = queries.
//  - KDTreeInlierTest: the approximate inlier test of the coarse rating;
//    items = queries.
//  - RigPairCoarseFine: the same, as the scan list aligns (smoothed
//    fragment normals, 10 ICP capture iterations before the 20), on the
//    first two scans (45° apart) of a folder of rig scans named by
//    $TARVELIN_RIG_SCANS (written by
//    `tarvelin scan --object blob --views 2 --step-deg 45 --format
//    tarvelinmesh --out DIR`); skipped without it.
//
//   build/release/bench/AlignBenchmark

#include <benchmark/benchmark.h>

#include <numbers>

#include <cstdlib>

#include "sim/testing/RigAlignment.h"
#include "surf/Registration.h"
#include "surf/testing/SyntheticScans.h"

namespace {

using namespace surf;

struct Scans {
  Scans() {
    testing::ScanSpec spec;
    spec.samplesAround = 1440;
    spec.noiseSigma = 0.02;
    views = testing::MakeTurntableScans(testing::LumpyBlob(40.0, 14, 7), spec, 2, std::numbers::pi / 4.0,
                                        math::Vec3d(0.0, 0.0, 1.0), math::Vec3d(4.0, -3.0, 0.0));
  }
  std::size_t Vertices(int k) const { return views.scans[k]->GetMesh(0)->GetNumVertices(); }
  testing::TurntableScans views;
};

const Scans& GetScans() {
  static const Scans scans;
  return scans;
}

void PairCoarseFine(benchmark::State& state) {
  const Scans& scans = GetScans();
  double rms = 0.0;
  for (auto _ : state) {
    v3d::Geo a(*scans.views.scans[0]), b(*scans.views.scans[1]);
    a.SetFrame(math::Frame4d());
    b.SetFrame(math::Frame4d());
    Fragment fa, fb;
    AlignScan sa{&a, &fa, {}}, sb{&b, &fb, {}};
    sa.prepare.shuffleSeed = 1;
    sb.prepare.shuffleSeed = 2;
    PairRegistration registration(3);
    benchmark::DoNotOptimize(registration.CoarseRegistration(sa, sb, false, {}));
    IcpParams icp;
    icp.seed = 4;
    benchmark::DoNotOptimize(registration.FineRegistration(sa, sb, true, icp));
    rms = testing::RmsDisplacement(a, a.GetFrame(), scans.views.truth[1] * scans.views.truth[0].GetInverse());
  }
  state.counters["vertices"] = double(scans.Vertices(0) + scans.Vertices(1));
  state.counters["rms_mm"] = rms;
  state.SetItemsProcessed(state.iterations() * std::int64_t(scans.Vertices(0) + scans.Vertices(1)));
}
BENCHMARK(PairCoarseFine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void RigPairCoarseFine(benchmark::State& state) {
  const char* folder = std::getenv("TARVELIN_RIG_SCANS");
  std::vector<sim::RigScan> scans;
  std::string error;
  if (!folder || !sim::testing::LoadScanFolder(folder, scans, error) || scans.size() < 2) {
    state.SkipWithError(folder ? (error.empty() ? "fewer than two scans" : error.c_str())
                               : "TARVELIN_RIG_SCANS is not set");
    return;
  }
  const auto a = sim::testing::GeoOf(scans[0]), b = sim::testing::GeoOf(scans[1]);
  const math::Frame4d truth = sim::TrueRelativePose(scans[0], scans[1]);
  sim::testing::PairResult result;
  double prepare = 0.0, coarse = 0.0, fine = 0.0;
  for (auto _ : state) {
    sim::testing::PairOptions options;
    options.seed = 3;
    result = sim::testing::AlignPair(*a, *b, truth, options);
    prepare += result.prepareSeconds;
    coarse += result.coarseSeconds;
    fine += result.fineSeconds;
  }
  const double runs = double(state.iterations());
  state.counters["prepare_s"] = prepare / runs;
  state.counters["coarse_s"] = coarse / runs;
  state.counters["fine_s"] = fine / runs;
  const double vertices = double(scans[0].mesh.positions.size() + scans[1].mesh.positions.size());
  state.counters["vertices"] = vertices;
  state.counters["rms_mm"] = result.rms;
  state.SetItemsProcessed(state.iterations() * std::int64_t(vertices));
}
BENCHMARK(RigPairCoarseFine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void FragmentInit(benchmark::State& state) {
  const Scans& scans = GetScans();
  Fragment::InitOptions options;
  options.shuffleSeed = 1;
  for (auto _ : state) {
    Fragment f;
    benchmark::DoNotOptimize(f.Init(*scans.views.scans[0], options));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(scans.Vertices(0)));
}
BENCHMARK(FragmentInit)->Unit(benchmark::kMillisecond);

struct Trees {
  Trees() {
    Fragment::InitOptions options;
    options.shuffleSeed = 1;
    a.Init(*GetScans().views.scans[0], options);
    b.Init(*GetScans().views.scans[1], options);
    aToB = GetScans().views.truth[1] * GetScans().views.truth[0].GetInverse();
    for (std::size_t i = 0; i < a.GetPositions().size(); ++i) {
      queries.push_back(aToB.MultP(a.GetPositions()[i]));
      normals.push_back(aToB.MultV(a.GetNormals()[i]));
    }
  }
  Fragment a, b;
  math::Frame4d aToB;
  std::vector<math::Vec3f> queries, normals;
};

const Trees& GetTrees() {
  static const Trees trees;
  return trees;
}

void KDTreeNearest(benchmark::State& state) {
  const Trees& t = GetTrees();
  const float radius = 4.f * t.b.GetResolution();
  std::int64_t found = 0;
  for (auto _ : state) {
    for (const auto& q : t.queries) found += t.b.GetTree().FindNearest(q, radius) >= 0;
  }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * std::int64_t(t.queries.size()));
}
BENCHMARK(KDTreeNearest)->Unit(benchmark::kMillisecond);

void KDTreeInlierTest(benchmark::State& state) {
  const Trees& t = GetTrees();
  const float tolerance = t.b.GetResolution();
  std::int64_t inliers = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < t.queries.size(); ++i) {
      inliers += t.b.GetTree().TestInlier(t.queries[i], t.normals[i], tolerance) == KDTree::InlierResult::kInlier;
    }
  }
  benchmark::DoNotOptimize(inliers);
  state.SetItemsProcessed(state.iterations() * std::int64_t(t.queries.size()));
}
BENCHMARK(KDTreeInlierTest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
