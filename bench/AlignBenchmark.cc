// Alignment speed on synthetic scans of the lumpy blob (radius 40 mm, views
// 45° apart on a turntable, 0.02 mm noise), about 300 000 vertices each:
//  - PairCoarseFine: fragment preparation of both scans, coarse search
//    (free rotation, effort 1) and fine alignment (20 ICP iterations);
//    items = vertices of A and B. Counters: wall seconds of the stages
//    (prepare_s, coarse_s, fine_s), the process's CPU seconds of a whole
//    alignment (cpu_s, all threads) and the load average when it started.
//  - CoarseSearch/threads: the coarse search alone on prepared fragments
//    with a fixed seed; score and the final rating cursor show that a
//    change kept the results; items = hypotheses.
//  - FragmentInit: one fragment (kd-tree, shuffle, statistics); items = vertices.
//  - KDTreeNearest: nearest point within 4 resolutions for every vertex of
//    the other scan; items = queries.
//  - KDTreeInlierTest: the approximate inlier test of the coarse rating,
//    one query at a time in the rating's (shuffled) order; items = queries.
//  - KDTreeInlierBatch: the same in batches of one rating block.
//  - RigPairCoarseFine: PairCoarseFine as the scan list aligns (smoothed
//    fragment normals, 10 ICP capture iterations before the 20) on rig
//    scans in the folder named by
//    $TARVELIN_RIG_SCANS (written by `tarvelin scan --object blob --views 2
//    --step-deg 45 --format tarvelinmesh --out DIR`): scan 0 and the first
//    scan 45° from it on the turntable (else scan 1; pair_deg says which);
//    skipped without it.
//
// The machine's load moves the wall times: compare cpu_s, and run with
// OMP_WAIT_POLICY=passive so that waiting threads leave the cores to work.
//
//   OMP_WAIT_POLICY=passive build/release/bench/AlignBenchmark

#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "sim/testing/RigAlignment.h"
#include "surf/align/Registration.h"
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

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double LoadAverage() {
  double load[1] = {0.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

void PairCoarseFine(benchmark::State& state) {
  const Scans& scans = GetScans();
  const math::Frame4d truth = scans.views.truth[1] * scans.views.truth[0].GetInverse();
  double rms = 0.0, prepare = 0.0, coarse = 0.0, fine = 0.0, cpu = 0.0;
  const double load = LoadAverage();
  for (auto _ : state) {
    v3d::Geo a(*scans.views.scans[0]), b(*scans.views.scans[1]);
    a.SetFrame(math::Frame4d());
    b.SetFrame(math::Frame4d());
    Fragment fa, fb;
    AlignScan sa{&a, &fa, {}}, sb{&b, &fb, {}};
    sa.prepare.shuffleSeed = 1;
    sb.prepare.shuffleSeed = 2;
    const double cpu0 = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    PairRegistration registration(3);
    registration.Prepare(sa, sb);
    const double prepared = SecondsSince(start);
    benchmark::DoNotOptimize(registration.CoarseRegistration(sa, sb, true, {}));
    const double searched = SecondsSince(start);
    IcpParams icp;
    icp.seed = 4;
    benchmark::DoNotOptimize(registration.FineRegistration(sa, sb, true, icp));
    const double total = SecondsSince(start);
    cpu += CpuSeconds() - cpu0;
    prepare += prepared;
    coarse += searched - prepared;
    fine += total - searched;
    rms = testing::RmsDisplacement(a, a.GetFrame(), truth);
  }
  const double runs = double(state.iterations());
  state.counters["prepare_s"] = prepare / runs;
  state.counters["coarse_s"] = coarse / runs;
  state.counters["fine_s"] = fine / runs;
  state.counters["cpu_s"] = cpu / runs;
  state.counters["load"] = load;
  state.counters["vertices"] = double(scans.Vertices(0) + scans.Vertices(1));
  state.counters["rms_mm"] = rms;
  state.SetItemsProcessed(state.iterations() * std::int64_t(scans.Vertices(0) + scans.Vertices(1)));
}
BENCHMARK(PairCoarseFine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

struct Prepared {
  Prepared() {
    Fragment::InitOptions options;
    options.shuffleSeed = 1;
    a.Init(*GetScans().views.scans[0], options);
    options.shuffleSeed = 2;
    b.Init(*GetScans().views.scans[1], options);
  }
  Fragment a, b;
};

void CoarseSearch(benchmark::State& state) {
  static Prepared prepared;
  CoarseSearchParams params;
  params.numThreads = static_cast<int>(state.range(0));
  CoarseSearchState result;
  Ransam3d engine(3);
  double cpu = 0.0;
  std::int64_t hypotheses = 0;
  const double load = LoadAverage();
  for (auto _ : state) {
    engine.Reseed();
    result = CoarseSearchState();
    prepared.a.SetRatingCursor(0);
    const double cpu0 = CpuSeconds();
    engine.Search(prepared.a, prepared.b, params, result);
    cpu += CpuSeconds() - cpu0;
    hypotheses += engine.GetLastStats().generated;
  }
  state.counters["score"] = result.bestScore;
  state.counters["cursor"] = prepared.a.GetRatingCursor();
  state.counters["improvements"] = double(engine.GetLastStats().improvements);
  state.counters["cpu_s"] = cpu / double(state.iterations());
  state.counters["load"] = load;
  state.SetItemsProcessed(hypotheses);
}
BENCHMARK(CoarseSearch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Arg(1)->Arg(2);

void RigPairCoarseFine(benchmark::State& state) {
  const char* folder = std::getenv("TARVELIN_RIG_SCANS");
  std::vector<sim::RigScan> scans;
  std::string error;
  if (!folder || !sim::testing::LoadScanFolder(folder, scans, error) || scans.size() < 2) {
    state.SkipWithError(folder ? (error.empty() ? "fewer than two scans" : error.c_str())
                               : "TARVELIN_RIG_SCANS is not set");
    return;
  }
  std::size_t other = 1;
  for (std::size_t k = 1; k < scans.size(); ++k) {
    const double step = std::abs(scans[k].turntableAngle - scans[0].turntableAngle) * 180.0 / std::numbers::pi;
    if (std::abs(step - 45.0) < 1.0) {
      other = k;
      break;
    }
  }
  const auto a = sim::testing::GeoOf(scans[0]), b = sim::testing::GeoOf(scans[other]);
  const math::Frame4d truth = sim::TrueRelativePose(scans[0], scans[other]);
  sim::testing::PairResult result;
  double prepare = 0.0, coarse = 0.0, fine = 0.0, cpu = 0.0;
  const double load = LoadAverage();
  for (auto _ : state) {
    sim::testing::PairOptions options;
    options.seed = 3;
    const double cpu0 = CpuSeconds();
    result = sim::testing::AlignPair(*a, *b, truth, options);
    cpu += CpuSeconds() - cpu0;
    prepare += result.prepareSeconds;
    coarse += result.coarseSeconds;
    fine += result.fineSeconds;
  }
  const double runs = double(state.iterations());
  state.counters["prepare_s"] = prepare / runs;
  state.counters["coarse_s"] = coarse / runs;
  state.counters["fine_s"] = fine / runs;
  state.counters["cpu_s"] = cpu / runs;
  state.counters["load"] = load;
  state.counters["pair_deg"] = (scans[other].turntableAngle - scans[0].turntableAngle) * 180.0 / std::numbers::pi;
  const double vertices = double(scans[0].mesh.positions.size() + scans[other].mesh.positions.size());
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

// The rating's queries: A's points in its shuffled order, moved onto B.
struct RatingQueries {
  RatingQueries() {
    const Trees& t = GetTrees();
    for (const std::uint32_t v : t.a.GetShuffledOrder()) {
      queries.push_back(t.aToB.MultP(t.a.GetPositions()[v]));
      normals.push_back(t.aToB.MultV(t.a.GetNormals()[v]));
    }
  }
  std::vector<math::Vec3f> queries, normals;
};

const RatingQueries& GetRatingQueries() {
  static const RatingQueries queries;
  return queries;
}

void KDTreeInlierTest(benchmark::State& state) {
  const Trees& t = GetTrees();
  const RatingQueries& r = GetRatingQueries();
  const float tolerance = t.b.GetResolution();
  std::int64_t inliers = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.queries.size(); ++i) {
      inliers += t.b.GetTree().TestInlier(r.queries[i], r.normals[i], tolerance) == KDTree::InlierResult::kInlier;
    }
  }
  benchmark::DoNotOptimize(inliers);
  state.SetItemsProcessed(state.iterations() * std::int64_t(r.queries.size()));
}
BENCHMARK(KDTreeInlierTest)->Unit(benchmark::kMillisecond);

void KDTreeInlierBatch(benchmark::State& state) {
  const Trees& t = GetTrees();
  const RatingQueries& r = GetRatingQueries();
  const float tolerance = t.b.GetResolution();
  std::vector<KDTree::InlierResult> results(r.queries.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < r.queries.size(); i += Ransam3d::kRatingBlock) {
      const std::size_t count = std::min<std::size_t>(Ransam3d::kRatingBlock, r.queries.size() - i);
      t.b.GetTree().TestInliers(&r.queries[i], &r.normals[i], count, tolerance, &results[i]);
    }
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(r.queries.size()));
}
BENCHMARK(KDTreeInlierBatch)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
