// Why free-rotation alignment of rig blob scans succeeds or fails (not a
// speed benchmark). On scan folders of the lumpy blob written by
// `tarvelin scan --object blob --views N --step-deg 22.5 --out DIR`, for the
// pairs r → r + 2 (45° apart), it prints:
//  1. the angle between each scan normal and the blob's true normal, for
//     the mesh's vertex normals and for normals averaged over wider
//     neighbourhoods (ring passes over the triangles, and plane fits within
//     a radius);
//  2. the accuracy of the transforms that the coarse search derives from
//     truly corresponding oriented point pairs, and how often such pairs
//     fall into the same pair-table bin;
//  3. the transforms that the coarse search's table matching produces
//     (without the rating): how many land within 1°, 2° and 5° of the truth;
//  4. the inlier fraction of the rating around the true pose (turned by k°
//     about random axes through A's centroid);
//  5. where ICP ends from a start k° off the truth, k = 1…8.
//
//   build/release/bench/RigAlignDiagnostics --blob DIR [--first 0] [--pairs 3] [--sections 12345]
//       [--normals mesh|ringN|planeR] [--samples 1000] [--iterations 20] [--distance 4]
//       [--capture-iterations 0] [--capture-angle 0.05]
// --normals chooses the fragments' normals of sections 4 and 5: the mesh's,
// N ring passes, or plane fits within R mm; the others set section 5's ICP.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <unordered_map>

#include "sim/Procedural.h"
#include "sim/testing/RigAlignment.h"
#include "surf/mesh/KDTree.h"
#include "surf/align/RelationTable.h"
#include "surf/testing/SyntheticScans.h"

namespace {

using math::Frame4d;
using math::Vec3d;
using math::Vec3f;

constexpr double kDeg = std::numbers::pi / 180.0;

struct Options {
  std::string blob;
  int first = 0;
  int pairs = 3;
  std::string sections = "12345";
  surf::IcpParams icp;
  // Normals of the fragments of sections 4 and 5: "mesh", "ring N" passes
  // or "plane R" (radius, mm).
  std::string normals = "mesh";
};

// The blob's outward unit normal at p (object coordinates): the gradient of
// |p| − r(p/|p|) by central differences.
Vec3d TrueNormal(const sim::BlobShape& shape, const Vec3d& p) {
  const auto f = [&](const Vec3d& x) { return x.Length() - shape.Radius(x.GetNormalized()); };
  const double h = 1e-4 * p.Length();
  Vec3d g;
  for (int k = 0; k < 3; ++k) {
    Vec3d d;
    d[k] = h;
    g[k] = (f(p + d) - f(p - d)) / (2.0 * h);
  }
  return g.GetNormalized();
}

std::vector<Vec3f> TrueNormals(const sim::RigScan& scan) {
  const sim::BlobShape shape{sim::BlobSpec{}};
  const Frame4d toObject = scan.world_T_object.GetInverse();
  std::vector<Vec3f> normals;
  for (const auto& p : scan.mesh.positions) {
    const Vec3d n = TrueNormal(shape, toObject.MultP(Vec3d(p)));
    normals.push_back(Vec3f(scan.world_T_object.MultV(n)));
  }
  return normals;
}

// Passes of n_i ← unit(n_i + Σ neighbours' n_j) over the triangles' edges.
std::vector<Vec3f> RingSmoothed(const surf::MeshArrays& mesh, int passes) {
  std::vector<Vec3f> n = mesh.normals;
  for (int pass = 0; pass < passes; ++pass) {
    std::vector<Vec3f> sum = n;
    for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
      for (int e = 0; e < 3; ++e) {
        const std::uint32_t a = mesh.indices[t + e], b = mesh.indices[t + (e + 1) % 3];
        // Each interior edge belongs to two triangles: half a neighbour each time.
        sum[a] += n[b] * 0.5f;
        sum[b] += n[a] * 0.5f;
      }
    }
    for (auto& v : sum) v = v.GetNormalized();
    n = std::move(sum);
  }
  return n;
}

// Normals of least-squares planes through the points within radius,
// oriented like the mesh normals.
std::vector<Vec3f> PlaneFitNormals(const surf::MeshArrays& mesh, double radius) {
  const auto& p = mesh.positions;
  const auto key = [&](const Vec3f& x, int dx, int dy, int dz) {
    const auto c = [&](float v, int d) { return std::int64_t(std::floor(v / radius)) + d; };
    return ((c(x[0], dx) * 73856093) ^ (c(x[1], dy) * 19349663) ^ (c(x[2], dz) * 83492791));
  };
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> grid;
  for (std::uint32_t i = 0; i < p.size(); ++i) grid[key(p[i], 0, 0, 0)].push_back(i);
  std::vector<Vec3f> normals(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    Vec3d mean;
    std::vector<std::uint32_t> near;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) {
          const auto it = grid.find(key(p[i], dx, dy, dz));
          if (it == grid.end()) continue;
          for (const auto j : it->second)
            if ((p[j] - p[i]).LengthSquared() <= radius * radius) near.push_back(j);
        }
    std::sort(near.begin(), near.end());
    near.erase(std::unique(near.begin(), near.end()), near.end());
    for (const auto j : near) mean += Vec3d(p[j]);
    mean /= double(near.size());
    double c[3][3] = {};
    for (const auto j : near) {
      const Vec3d d = Vec3d(p[j]) - mean;
      for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s) c[r][s] += d[r] * d[s];
    }
    // Smallest eigenvector by inverse iteration from the mesh normal.
    Vec3d v(mesh.normals[i]);
    const double shift = 1e-9 * (c[0][0] + c[1][1] + c[2][2]);
    for (int it = 0; it < 8; ++it) {
      double m[3][4];
      for (int r = 0; r < 3; ++r) {
        for (int s = 0; s < 3; ++s) m[r][s] = c[r][s] + (r == s ? shift : 0.0);
        m[r][3] = v[r];
      }
      for (int col = 0; col < 3; ++col) {
        int piv = col;
        for (int r = col + 1; r < 3; ++r)
          if (std::abs(m[r][col]) > std::abs(m[piv][col])) piv = r;
        for (int s = 0; s < 4; ++s) std::swap(m[col][s], m[piv][s]);
        for (int r = 0; r < 3; ++r) {
          if (r == col || m[col][col] == 0.0) continue;
          const double f = m[r][col] / m[col][col];
          for (int s = 0; s < 4; ++s) m[r][s] -= f * m[col][s];
        }
      }
      Vec3d x;
      for (int r = 0; r < 3; ++r) x[r] = m[r][3] / m[r][r];
      if (!(x.Length() > 0.0) || !std::isfinite(x.Length())) break;
      v = x.GetNormalized();
    }
    if (math::Dot(v, Vec3d(mesh.normals[i])) < 0.0) v = v * -1.0;
    normals[i] = Vec3f(v);
  }
  return normals;
}

double AngleDeg(const Vec3f& a, const Vec3f& b) {
  return std::acos(std::clamp(double(math::Dot(a, b)), -1.0, 1.0)) / kDeg;
}

struct Percentiles {
  double p50 = 0, p90 = 0, mean = 0;
};
Percentiles Summarise(std::vector<double> v) {
  Percentiles p;
  if (v.empty()) return p;
  std::sort(v.begin(), v.end());
  p.p50 = v[v.size() / 2];
  p.p90 = v[v.size() * 9 / 10];
  for (const double x : v) p.mean += x;
  p.mean /= double(v.size());
  return p;
}

struct NormalVariant {
  std::string name;
  std::vector<Vec3f> a, b;  // normals of scans A and B
};

std::vector<NormalVariant> Variants(const sim::RigScan& a, const sim::RigScan& b) {
  std::vector<NormalVariant> v;
  v.push_back({"mesh", a.mesh.normals, b.mesh.normals});
  for (const int passes : {2, 4, 8, 16}) {
    v.push_back({"ring x" + std::to_string(passes), RingSmoothed(a.mesh, passes), RingSmoothed(b.mesh, passes)});
  }
  for (const double r : {0.75, 1.0, 1.5, 2.0}) {
    char name[32];
    std::snprintf(name, sizeof name, "plane r%.2f", r);
    v.push_back({name, PlaneFitNormals(a.mesh, r), PlaneFitNormals(b.mesh, r)});
  }
  return v;
}

// The coarse search's frame of an oriented point pair.
bool PairFrame(const Vec3f& p1f, const Vec3f& n1f, const Vec3f& p2f, const Vec3f& n2f, Frame4d& f) {
  const Vec3d p1(p1f), p2(p2f), n1(n1f), n2(n2f);
  Vec3d e1 = p2 - p1;
  if (!(e1.Length() > 0.0)) return false;
  e1 = e1.GetNormalized();
  Vec3d e2 = e1 ^ (n1 + n2);
  if (!(e2.Length() > 1e-6)) return false;
  e2 = e2.GetNormalized();
  const Vec3d e3 = e2 ^ e1, o = (p1 + p2) * 0.5;
  f = Frame4d();
  for (int r = 0; r < 3; ++r) {
    f(r, 0) = e2[r];
    f(r, 1) = e1[r];
    f(r, 2) = e3[r];
    f(r, 3) = o[r];
  }
  return true;
}

float Radius(const std::vector<Vec3f>& p) {
  Vec3d c;
  for (const auto& x : p) c += Vec3d(x);
  c /= double(p.size());
  double r = 0;
  for (const auto& x : p) r = std::max(r, (Vec3d(x) - c).Length());
  return float(r);
}

void Section1(const sim::RigScan& scan) {
  const auto truth = TrueNormals(scan);
  std::printf("1. Normal error against the true blob normals (degrees), %zu vertices\n", truth.size());
  std::printf("   %-14s %8s %8s %8s\n", "normals", "median", "p90", "mean");
  for (const auto& v : Variants(scan, scan)) {
    std::vector<double> e;
    for (std::size_t i = 0; i < truth.size(); ++i) e.push_back(AngleDeg(v.a[i], truth[i]));
    const auto s = Summarise(e);
    std::printf("   %-14s %8.3f %8.3f %8.3f\n", v.name.c_str(), s.p50, s.p90, s.mean);
  }
  std::printf("\n");
}

// Section 2: transforms from true correspondences.
void Section2(const sim::RigScan& a, const sim::RigScan& b, const std::vector<NormalVariant>& variants) {
  const Frame4d truth = sim::TrueRelativePose(a, b);
  surf::KDTree treeB;
  treeB.Build(b.mesh.positions);
  const float maxDistance = 2.f * std::min(Radius(a.mesh.positions), Radius(b.mesh.positions));
  surf::RelationTableOPP table;
  table.SetMaxDistance(maxDistance);
  std::printf("2. Transforms from truly corresponding pairs (rotation error, degrees; same bin: both pairs'\n"
              "   table entries agree)\n   %-14s %8s %8s %8s %8s %8s %9s\n",
              "normals", "median", "p90", "<1deg", "<2deg", "<5deg", "same bin");
  for (const auto& v : variants) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> pick(0, std::uint32_t(a.mesh.positions.size() - 1));
    std::vector<double> errors;
    int same = 0, total = 0;
    while (total < 20000) {
      const std::uint32_t i = pick(rng), j = pick(rng);
      const auto& pa = a.mesh.positions;
      if (i == j) continue;
      const std::int64_t ea = table.ComputeEntry(pa[i], v.a[i], pa[j], v.a[j]);
      if (ea < 0) continue;
      const std::int32_t k = treeB.FindNearest(truth.MultP(pa[i]), 0.3f);
      const std::int32_t l = treeB.FindNearest(truth.MultP(pa[j]), 0.3f);
      if (k < 0 || l < 0) continue;
      const auto& pb = b.mesh.positions;
      const std::int64_t eb = table.ComputeEntry(pb[k], v.b[k], pb[l], v.b[l]);
      Frame4d fa, fb;
      if (!PairFrame(pa[i], v.a[i], pa[j], v.a[j], fa) || !PairFrame(pb[k], v.b[k], pb[l], v.b[l], fb)) continue;
      ++total;
      same += ea == eb;
      errors.push_back(surf::testing::AngleDegrees(fb * fa.GetInverse(), truth));
    }
    const auto s = Summarise(errors);
    const auto below = [&](double d) {
      return 100.0 * double(std::count_if(errors.begin(), errors.end(), [d](double e) { return e < d; })) /
             double(errors.size());
    };
    std::printf("   %-14s %8.3f %8.3f %7.1f%% %7.1f%% %7.1f%% %8.1f%%\n", v.name.c_str(), s.p50, s.p90, below(1),
                below(2), below(5), 100.0 * same / total);
  }
  std::printf("\n");
}

// Section 3: the table matching of the free-rotation search, 5000
// hypotheses of at most 100 attempts, without rating.
void Section3(const sim::RigScan& a, const sim::RigScan& b, const std::vector<NormalVariant>& variants) {
  const Frame4d truth = sim::TrueRelativePose(a, b);
  const auto& pa = a.mesh.positions;
  const auto& pb = b.mesh.positions;
  const float maxDistance = 2.f * std::min(Radius(pa), Radius(pb));
  std::printf("3. Table matches of 5000 hypotheses: how many land within 1/2/5 deg of the truth\n"
              "   %-14s %8s %8s %8s %8s\n",
              "normals", "matches", "<1deg", "<2deg", "<5deg");
  for (const auto& v : variants) {
    surf::RelationTableOPP ta, tb;
    ta.SetMaxDistance(maxDistance);
    tb.SetMaxDistance(maxDistance);
    ta.Clear();
    tb.Clear();
    std::mt19937 rng(11);
    std::uniform_int_distribution<std::uint32_t> pickA(0, std::uint32_t(pa.size() - 1));
    std::uniform_int_distribution<std::uint32_t> pickB(0, std::uint32_t(pb.size() - 1));
    int matches = 0, within[3] = {0, 0, 0};
    for (int h = 0; h < 5000; ++h) {
      for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint32_t i = pickA(rng), j = pickA(rng), k = 0, l = 0;
        bool matched = false;
        if (i != j) {
          const auto e = ta.ComputeEntry(pa[i], v.a[i], pa[j], v.a[j]);
          if (e >= 0) {
            ta.Store(e, i, j);
            matched = tb.Read(e, k, l);
          }
        }
        if (!matched) {
          k = pickB(rng);
          l = pickB(rng);
          if (k != l) {
            const auto e = tb.ComputeEntry(pb[k], v.b[k], pb[l], v.b[l]);
            if (e >= 0) {
              tb.Store(e, k, l);
              matched = ta.Read(e, i, j);
            }
          }
        }
        if (!matched) continue;
        Frame4d fa, fb;
        if (!PairFrame(pa[i], v.a[i], pa[j], v.a[j], fa) || !PairFrame(pb[k], v.b[k], pb[l], v.b[l], fb)) continue;
        ++matches;
        const double e = surf::testing::AngleDegrees(fb * fa.GetInverse(), truth);
        within[0] += e < 1.0;
        within[1] += e < 2.0;
        within[2] += e < 5.0;
        break;
      }
    }
    std::printf("   %-14s %8d %8d %8d %8d\n", v.name.c_str(), matches, within[0], within[1], within[2]);
  }
  std::printf("\n");
}

std::unique_ptr<v3d::Geo> GeoWithNormals(const sim::RigScan& scan, const std::vector<Vec3f>& normals) {
  sim::RigScan copy;
  copy.mesh.positions = scan.mesh.positions;
  copy.mesh.indices = scan.mesh.indices;
  copy.mesh.normals = normals;
  return sim::testing::GeoOf(copy);
}

std::vector<Vec3f> NormalsOf(const sim::RigScan& scan, const std::string& kind) {
  if (kind.rfind("ring", 0) == 0) return RingSmoothed(scan.mesh, std::atoi(kind.c_str() + 4));
  if (kind.rfind("plane", 0) == 0) return PlaneFitNormals(scan.mesh, std::atof(kind.c_str() + 5));
  return scan.mesh.normals;
}

// Turns the truth by angle about a random axis through A's centroid (in A's coordinates).
Frame4d Perturbed(const Frame4d& truth, const Vec3d& centroid, double angle, std::mt19937& rng) {
  std::normal_distribution<double> g;
  const Vec3d axis = Vec3d(g(rng), g(rng), g(rng)).GetNormalized();
  return truth * surf::testing::TurntablePose(axis, centroid, angle);
}

void Section4(const sim::RigScan& a, const sim::RigScan& b, const Options& o) {
  const Frame4d truth = sim::TrueRelativePose(a, b);
  surf::Fragment fa, fb;
  const auto ga = GeoWithNormals(a, NormalsOf(a, o.normals)), gb = GeoWithNormals(b, NormalsOf(b, o.normals));
  fa.Init(*ga, {});
  fb.Init(*gb, {});
  const float tolerance = std::max(fa.GetResolution(), fb.GetResolution());
  const Vec3d c(fa.GetCentroid());
  std::printf("4. Inlier fraction of the rating (tolerance %.3f mm) at the truth turned by k deg (10 axes)\n"
              "   %6s %8s %8s %8s\n",
              tolerance, "k", "mean", "min", "max");
  std::mt19937 rng(3);
  for (const double k : {0.0, 0.25, 0.5, 1.0, 2.0, 3.0, 5.0, 8.0}) {
    std::vector<double> scores;
    for (int axis = 0; axis < (k == 0.0 ? 1 : 10); ++axis) {
      const Frame4d t = Perturbed(truth, c, k * kDeg, rng);
      int inliers = 0, tested = 0;
      for (std::size_t n = 0; n < 20000 && n < fa.GetShuffledOrder().size(); ++n) {
        const auto v = fa.GetShuffledOrder()[n];
        const Vec3f q = t.MultP(fa.GetPositions()[v]), nq = t.MultV(fa.GetNormals()[v]);
        ++tested;
        inliers += fb.GetTree().TestInlier(q, nq, tolerance) == surf::KDTree::InlierResult::kInlier;
      }
      scores.push_back(double(inliers) / tested);
    }
    std::printf("   %6.2f %8.3f %8.3f %8.3f\n", k, Summarise(scores).mean,
                *std::min_element(scores.begin(), scores.end()), *std::max_element(scores.begin(), scores.end()));
  }
  std::printf("\n");
}

void Section5(const sim::RigScan& a, const sim::RigScan& b, const Options& o) {
  const Frame4d truth = sim::TrueRelativePose(a, b);
  surf::Fragment fa, fb;
  const auto ga = GeoWithNormals(a, NormalsOf(a, o.normals)), gb = GeoWithNormals(b, NormalsOf(b, o.normals));
  surf::Fragment::InitOptions init;
  init.shuffleSeed = 5;
  fa.Init(*ga, init);
  init.shuffleSeed = 6;
  fb.Init(*gb, init);
  const Vec3d c(fa.GetCentroid());
  std::printf("5. ICP (%d iterations, %d samples, distance x%.1f, %s normals; %d capture iterations, %.3f rad)\n"
              "   from the truth turned by k deg (6 axes): converged = within 0.05 mm RMS and 0.05 deg\n"
              "   %4s %10s %12s %12s %12s\n",
              o.icp.iterations, o.icp.samplesPerFragment, o.icp.distanceFactor, o.normals.c_str(),
              o.icp.captureIterations, o.icp.captureAngle, "k", "converged", "median mm", "worst mm", "worst deg");
  std::mt19937 rng(5);
  for (int k = 1; k <= 8; ++k) {
    std::vector<double> rms;
    double worstAngle = 0.0;
    int ok = 0;
    for (int axis = 0; axis < 6; ++axis) {
      // The ICP pose maps F = A's coordinates into S = B's.
      std::vector<Frame4d> poses{Perturbed(truth, c, k * kDeg, rng)};
      surf::IcpParams icp = o.icp;
      icp.seed = std::uint64_t(axis + 1);
      surf::RunIcp(fa, {&fb}, poses, icp);
      const double r = surf::testing::RmsDisplacement(*ga, poses[0], truth);
      const double angle = surf::testing::AngleDegrees(poses[0], truth);
      ok += r <= 0.05 && angle <= 0.05;
      worstAngle = std::max(worstAngle, angle);
      rms.push_back(r);
    }
    std::printf("   %4d %7d/6 %12.4f %12.4f %12.4f\n", k, ok, Summarise(rms).p50,
                *std::max_element(rms.begin(), rms.end()), worstAngle);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--blob") o.blob = value;
    else if (key == "--first") o.first = std::max(0, std::atoi(value.c_str()));
    else if (key == "--pairs") o.pairs = std::max(1, std::atoi(value.c_str()));
    else if (key == "--sections") o.sections = value;
    else if (key == "--samples") o.icp.samplesPerFragment = std::atoi(value.c_str());
    else if (key == "--iterations") o.icp.iterations = std::atoi(value.c_str());
    else if (key == "--distance") o.icp.distanceFactor = std::atof(value.c_str());
    else if (key == "--normals") o.normals = value;
    else if (key == "--capture-iterations") o.icp.captureIterations = std::atoi(value.c_str());
    else if (key == "--capture-angle") o.icp.captureAngle = std::atof(value.c_str());
    else {
      std::fprintf(stderr, "Error: unknown option %s\n", key.c_str());
      return 2;
    }
  }
  if (o.blob.empty()) {
    std::fprintf(stderr, "Error: --blob DIR is required\n");
    return 2;
  }
  std::vector<sim::RigScan> scans;
  std::string error;
  if (!sim::testing::LoadScanFolder(o.blob, scans, error) || int(scans.size()) < o.first + o.pairs + 2) {
    std::fprintf(stderr, "Error: %s\n", error.empty() ? "too few scans" : error.c_str());
    return 1;
  }
  const auto has = [&](char s) { return o.sections.find(s) != std::string::npos; };
  if (has('1')) Section1(scans[0]);
  for (int r = o.first; r < o.first + o.pairs; ++r) {
    const auto& a = scans[std::size_t(r)];
    const auto& b = scans[std::size_t(r + 2)];
    std::printf("== pair %d -> %d\n", r, r + 2);
    if (has('2') || has('3')) {
      const auto variants = Variants(a, b);
      if (has('2')) Section2(a, b, variants);
      if (has('3')) Section3(a, b, variants);
    }
    if (has('4')) Section4(a, b, o);
    if (has('5')) Section5(a, b, o);
    std::fflush(stdout);
  }
  return 0;
}
