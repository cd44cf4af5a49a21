#include "surf/align/Ransam3d.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "surf/align/AlignRandom.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace surf {
namespace {

using math::Frame4d;
using math::Vec3d;
using math::Vec3f;

bool IsFiniteFrame(const Frame4d& f) {
  return std::all_of(f.begin(), f.end(), [](double v) { return std::isfinite(v); });
}

Frame4d InvalidFrame() {
  Frame4d f;
  f(0, 0) = std::numeric_limits<double>::quiet_NaN();
  return f;
}

// The frame of an oriented point pair: origin at the midpoint, columns
// (e2, e1, e3) with e1 along p2 − p1 and e2 normal to e1 and n1 + n2.
Frame4d PairFrame(const Vec3f& p1f, const Vec3f& n1f, const Vec3f& p2f, const Vec3f& n2f) {
  const Vec3d p1(p1f), p2(p2f), n1(n1f), n2(n2f);
  Vec3d e1 = p2 - p1;
  const double length = e1.Length();
  if (!(length > 0.0)) return InvalidFrame();
  e1 /= length;
  Vec3d e2 = e1 ^ (n1 + n2);
  const double l2 = e2.Length();
  if (!(l2 > 1e-6)) return InvalidFrame();
  e2 /= l2;
  const Vec3d e3 = e2 ^ e1;
  const Vec3d origin = (p1 + p2) * 0.5;
  Frame4d f;
  for (int r = 0; r < 3; ++r) {
    f(r, 0) = e2[r];
    f(r, 1) = e1[r];
    f(r, 2) = e3[r];
    f(r, 3) = origin[r];
  }
  return f;
}

// The frame of one oriented point about a known axis a: columns (v, u, n)
// with u = unit(n × a), v = u × n, origin p.
Frame4d AxisFrame(const Vec3f& pf, const Vec3f& nf, const Vec3d& a) {
  const Vec3d p(pf), n(nf);
  Vec3d u = n ^ a;
  const double length = u.Length();
  if (!(length > 1e-6)) return InvalidFrame();
  u /= length;
  const Vec3d v = u ^ n;
  Frame4d f;
  for (int r = 0; r < 3; ++r) {
    f(r, 0) = v[r];
    f(r, 1) = u[r];
    f(r, 2) = n[r];
    f(r, 3) = p[r];
  }
  return f;
}

bool IsSimilar(const Frame4d& t, const Frame4d& p, const Vec3d& c, const PoseList& list) {
  if (list.linearTolerance > 0.0 && (p.MultP(c) - t.MultP(c)).Length() > list.linearTolerance) return false;
  if (list.angularTolerance > 0.0 && RotationAngle(p.GetInverse() * t) > list.angularTolerance) return false;
  return true;
}

// Draws vertices of one fragment: from a restriction list, by weight bins,
// or uniformly.
struct Sampler {
  const std::vector<std::uint32_t>* list = nullptr;
  const VertexBinDistribution* bins = nullptr;
  std::uint32_t n = 0;

  std::uint32_t Draw(std::mt19937& rng) const {
    if (list) return (*list)[UniformIndex(rng, static_cast<std::uint32_t>(list->size()))];
    if (bins) return bins->Draw(rng);
    return UniformIndex(rng, n);
  }
  bool DrawPair(std::mt19937& rng, std::uint32_t& i, std::uint32_t& j) const {
    i = Draw(rng);
    for (int k = 0; k < 64; ++k) {
      j = Draw(rng);
      if (j != i) return true;
    }
    return false;
  }
};

struct PendingStore {
  std::int64_t entry;
  std::uint32_t i, j;
};

// Per-thread state of the search, on its own cache lines.
struct alignas(64) Worker {
  std::mt19937 rng;
  std::uint32_t cursor = 0;
  double bestScore = 0.0;
  Frame4d bestTransform;
  bool improved = false;
  std::int64_t generated = 0;
  std::vector<PendingStore> storesA, storesB;
  // One rating block: A's points moved by the hypothesis, and their fate.
  Vec3f queries[Ransam3d::kRatingBlock], queryNormals[Ransam3d::kRatingBlock];
  KDTree::InlierResult results[Ransam3d::kRatingBlock];
};

// A's points, normals and weights in its shuffled order, so that the
// rating reads them one after another.
struct RatingPoints {
  std::vector<Vec3f> positions, normals;
  std::vector<float> weights;  // empty: 1 per vertex

  RatingPoints(const Fragment& a, const std::vector<float>* vertexWeights) {
    const auto& order = a.GetShuffledOrder();
    positions.reserve(order.size());
    normals.reserve(order.size());
    for (const std::uint32_t v : order) {
      positions.push_back(a.GetPositions()[v]);
      normals.push_back(a.GetNormals()[v]);
    }
    if (vertexWeights) {
      weights.reserve(order.size());
      for (const std::uint32_t v : order) weights.push_back((*vertexWeights)[v]);
    }
  }
};

// Everything the hypothesis loop reads; shared by all threads, read-only
// during a round.
struct SearchContext {
  const Fragment* a = nullptr;
  const Fragment* b = nullptr;
  const RelationTableOPP* tableA = nullptr;
  const RelationTableOPP* tableB = nullptr;
  const CoarseSearchParams* params = nullptr;
  Sampler samplerA, samplerB;
  const std::vector<bool>* allowedA = nullptr;  // null: every vertex
  const std::vector<bool>* allowedB = nullptr;
  const std::vector<float>* weights = nullptr;  // A's weights, null: 1 per vertex
  const RatingPoints* rating = nullptr;
  float tolerance = 0.f;
  Vec3d axis;
  bool hasAxis = false;
  double angle = 0.0;  // in [0, π] after folding
  Vec3d centroidA;

  bool Allowed(const std::vector<bool>* set, std::uint32_t i, std::uint32_t j) const {
    return !set || ((*set)[i] && (*set)[j]);
  }

  bool PassesPoseTests(const Frame4d& t) const {
    if (!IsFiniteFrame(t)) return false;
    const PoseList& avoid = params->posesToAvoid;
    for (const auto& p : avoid.poses) {
      if (IsSimilar(t, p, centroidA, avoid)) return false;
    }
    const PoseList& keep = params->posesToKeep;
    if (!keep.poses.empty()) {
      return std::any_of(keep.poses.begin(), keep.poses.end(),
                         [&](const Frame4d& p) { return IsSimilar(t, p, centroidA, keep); });
    }
    return true;
  }

  bool GenerateFree(Worker& w, Frame4d& t) const {
    const auto& pa = a->GetPositions();
    const auto& na = a->GetNormals();
    const auto& pb = b->GetPositions();
    const auto& nb = b->GetNormals();
    for (int attempt = 0; attempt < Ransam3d::kMaxAttempts; ++attempt) {
      std::uint32_t i = 0, j = 0, k = 0, l = 0;
      bool matched = false;
      if (samplerA.DrawPair(w.rng, i, j)) {
        const std::int64_t entry = tableA->ComputeEntry(pa[i], na[i], pa[j], na[j]);
        if (entry >= 0) {
          w.storesA.push_back({entry, i, j});
          matched = tableB->Read(entry, k, l) && Allowed(allowedB, k, l);
        }
      }
      if (!matched && samplerB.DrawPair(w.rng, k, l)) {
        const std::int64_t entry = tableB->ComputeEntry(pb[k], nb[k], pb[l], nb[l]);
        if (entry >= 0) {
          w.storesB.push_back({entry, k, l});
          matched = tableA->Read(entry, i, j) && Allowed(allowedA, i, j);
        }
      }
      if (!matched) continue;
      const Frame4d fa = PairFrame(pa[i], na[i], pa[j], na[j]);
      const Frame4d fb = PairFrame(pb[k], nb[k], pb[l], nb[l]);
      if (!IsFiniteFrame(fa) || !IsFiniteFrame(fb)) continue;
      t = fb * fa.GetInverse();
      if (!IsFiniteFrame(t)) continue;
      if (params->angle && std::abs(angle - RotationAngle(t)) > params->angleTolerance) continue;
      if (!PassesPoseTests(t)) continue;
      return true;
    }
    return false;
  }

  bool GenerateAxis(Worker& w, Frame4d& t) const {
    const auto& pa = a->GetPositions();
    const auto& na = a->GetNormals();
    const auto& pb = b->GetPositions();
    const auto& nb = b->GetNormals();
    const double tol = tolerance;
    for (int attempt = 0; attempt < Ransam3d::kMaxAttempts; ++attempt) {
      const std::uint32_t i = samplerA.Draw(w.rng);
      const std::uint32_t j = samplerB.Draw(w.rng);
      const Vec3d pi(pa[i]), pj(pb[j]), ni(na[i]), nj(nb[j]);
      if (std::abs(math::Dot(axis, pi) - math::Dot(axis, pj)) > tol) continue;
      if (params->axisPoint) {
        const Vec3d& c = *params->axisPoint;
        if (std::abs(((c - pi) ^ axis).Length() - ((c - pj) ^ axis).Length()) > tol) continue;
      }
      if (std::abs(math::Dot(axis, ni) - math::Dot(axis, nj)) > 0.02) continue;
      if (params->angle) {
        const Frame4d r = math::FRotAxis(axis, *params->angle);
        t = r;
        t.SetTrans(pj - r.MultV(pi));
      } else {
        const Frame4d fi = AxisFrame(pa[i], na[i], axis);
        const Frame4d fj = AxisFrame(pb[j], nb[j], axis);
        if (!IsFiniteFrame(fi) || !IsFiniteFrame(fj)) continue;
        t = fj * fi.GetInverse();
      }
      if (!PassesPoseTests(t)) continue;
      return true;
    }
    return false;
  }

  // The sequential rating: blocks of A's points in the worker's shuffled
  // order, each transformed and tested against B's tree, until the
  // estimate falls below best or every point was tested. Returns the
  // final estimate.
  double Rate(Worker& w, const Frame4d& t, double best) const {
    const auto& pa = rating->positions;
    const auto& na = rating->normals;
    const float* weight = rating->weights.empty() ? nullptr : rating->weights.data();
    const KDTree& tree = b->GetTree();
    const auto n = static_cast<std::uint32_t>(pa.size());
    float r[9], tr[3];
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) r[row * 3 + col] = static_cast<float>(t(row, col));
      tr[row] = static_cast<float>(t(row, 3));
    }
    double x = 0.0, m = 0.0, s = std::numeric_limits<double>::infinity();
    std::uint32_t tested = 0;
    while (tested < n) {
      const std::uint32_t block = std::min<std::uint32_t>(Ransam3d::kRatingBlock, n - tested);
      for (std::uint32_t k = 0, v = w.cursor; k < block; ++k) {
        const Vec3f& p = pa[v];
        const Vec3f& nv = na[v];
        Vec3f& q = w.queries[k];
        Vec3f& nq = w.queryNormals[k];
        for (int row = 0; row < 3; ++row) {
          q[row] = r[row * 3] * p[0] + r[row * 3 + 1] * p[1] + r[row * 3 + 2] * p[2] + tr[row];
          nq[row] = r[row * 3] * nv[0] + r[row * 3 + 1] * nv[1] + r[row * 3 + 2] * nv[2];
        }
        if (++v == n) v = 0;
      }
      tree.TestInliers(w.queries, w.queryNormals, block, tolerance, w.results);
      for (std::uint32_t k = 0; k < block; ++k) {
        const double vertexWeight = weight ? weight[w.cursor] : 1.0;
        x += vertexWeight;
        if (w.results[k] == KDTree::InlierResult::kInlier) m += vertexWeight;
        if (++w.cursor == n) w.cursor = 0;
      }
      tested += block;
      if (x > 0.0) s = m / x + 1.96 / (2.0 * std::sqrt(x));
      if (s < best) break;
    }
    return s;
  }
};

}  // namespace

double RotationAngle(const math::Frame4d& f) {
  const double c = std::clamp((f(0, 0) + f(1, 1) + f(2, 2) - 1.0) * 0.5, -1.0, 1.0);
  return std::acos(c);
}

double RotationAngleAbout(const math::Frame4d& f, const math::Vec3d& axis) {
  const double length = axis.Length();
  if (!(length > 0.0)) return 0.0;
  // (R − Rᵀ)/2 is sin φ times the cross-product matrix of u.
  const Vec3d sinAxis(0.5 * (f(2, 1) - f(1, 2)), 0.5 * (f(0, 2) - f(2, 0)), 0.5 * (f(1, 0) - f(0, 1)));
  const double cosine = 0.5 * (f(0, 0) + f(1, 1) + f(2, 2) - 1.0);
  return std::atan2(math::Dot(sinAxis, axis) / length, cosine);
}

void Ransam3d::Reseed() { m_rng.seed(static_cast<std::mt19937::result_type>(ResolveSeed(m_seed))); }

bool Ransam3d::Search(Fragment& a, Fragment& b, const CoarseSearchParams& params, CoarseSearchState& state,
                      const utils::ProgressCallback& progress) {
  m_stats = {};
  if (a.GetNumVertices() < 2 || b.GetNumVertices() < 2) return false;
  if (!(params.effort > 0.0) || !std::isfinite(params.effort)) return false;
  m_inlierTolerance = std::max(a.GetResolution(), b.GetResolution()) * 1.0f;
  const float maxDistance = 2.f * std::min(a.GetRadius(), b.GetRadius());
  if (!(m_inlierTolerance > 0.f) || !(maxDistance > 0.f) || !std::isfinite(maxDistance)) return false;

  SearchContext ctx;
  ctx.a = &a;
  ctx.b = &b;
  ctx.params = &params;
  ctx.tolerance = m_inlierTolerance;
  ctx.centroidA = Vec3d(a.GetCentroid());
  if (params.axis) {
    const double length = params.axis->Length();
    if (!(length > 0.0) || !std::isfinite(length)) return false;
    ctx.axis = *params.axis / length;
    ctx.hasAxis = true;
  }
  if (params.angle) {
    if (!std::isfinite(*params.angle)) return false;
    double folded = std::fmod(*params.angle, 2.0 * std::numbers::pi);
    if (folded < 0.0) folded += 2.0 * std::numbers::pi;
    ctx.angle = folded > std::numbers::pi ? 2.0 * std::numbers::pi - folded : folded;
  }

  // Sampling sets: an explicit restriction, else the selection, else all.
  const auto makeList = [](const std::vector<bool>& set, std::vector<std::uint32_t>& list) {
    for (std::size_t i = 0; i < set.size(); ++i) {
      if (set[i]) list.push_back(static_cast<std::uint32_t>(i));
    }
  };
  const std::vector<bool>& setA = !params.restrictionA.empty() ? params.restrictionA : a.GetSelection();
  const std::vector<bool>& setB = !params.restrictionB.empty() ? params.restrictionB : b.GetSelection();
  if ((!setA.empty() && setA.size() != std::size_t(a.GetNumVertices())) ||
      (!setB.empty() && setB.size() != std::size_t(b.GetNumVertices()))) {
    return false;
  }
  std::vector<std::uint32_t> listA, listB;
  makeList(setA, listA);
  makeList(setB, listB);
  const std::size_t need = ctx.hasAxis ? 1 : 2;
  if ((!setA.empty() && listA.size() < need) || (!setB.empty() && listB.size() < need)) return false;
  ctx.allowedA = setA.empty() ? nullptr : &setA;
  ctx.allowedB = setB.empty() ? nullptr : &setB;
  ctx.samplerA = {params.restrictionA.empty() || listA.empty() ? nullptr : &listA, nullptr,
                  std::uint32_t(a.GetNumVertices())};
  ctx.samplerB = {params.restrictionB.empty() || listB.empty() ? nullptr : &listB, nullptr,
                  std::uint32_t(b.GetNumVertices())};
  // The selection restricts through the weight bins when those exist
  // (they were built over the selection).
  if (!ctx.samplerA.list) {
    if (a.GetUseWeights() && a.GetVertexBins() && !a.GetVertexBins()->IsEmpty()) {
      ctx.samplerA.bins = a.GetVertexBins().get();
    } else if (!listA.empty()) {
      ctx.samplerA.list = &listA;
    }
  }
  if (!ctx.samplerB.list) {
    if (b.GetUseWeights() && b.GetVertexBins() && !b.GetVertexBins()->IsEmpty()) {
      ctx.samplerB.bins = b.GetVertexBins().get();
    } else if (!listB.empty()) {
      ctx.samplerB.list = &listB;
    }
  }
  if (a.GetUseWeights()) {
    const auto& weights = a.GetVertexWeights();
    double total = 0.0;
    for (const float w : weights) total += w;
    if (weights.size() == std::size_t(a.GetNumVertices()) && total > 0.0) ctx.weights = &weights;
  }

  double count = 5000.0;
  if (ctx.hasAxis) {
    count = params.axisPoint ? 5000.0 : 500.0;
  } else if (params.angle) {
    count = 50000.0;
  }
  const double planned = std::min(params.effort * count, 1e12);
  const auto hypotheses = static_cast<std::int64_t>(planned);
  m_stats.hypotheses = hypotheses;
  if (hypotheses <= 0) return false;

  RelationTableOPP& tableA = a.GetPairTable();
  RelationTableOPP& tableB = b.GetPairTable();
  tableA.SetMaxDistance(maxDistance);
  tableA.Clear();
  tableB.SetMaxDistance(maxDistance);
  tableB.Clear();
  ctx.tableA = &tableA;
  ctx.tableB = &tableB;

  int requested = params.numThreads;
#ifdef _OPENMP
  if (requested <= 0) requested = omp_get_max_threads();
#else
  requested = 1;
#endif
  requested = std::max(1, requested);
  const RatingPoints ratingPoints(a, ctx.weights);
  ctx.rating = &ratingPoints;
  std::vector<Worker> workers(static_cast<std::size_t>(requested));
  const auto n = static_cast<std::uint32_t>(a.GetNumVertices());
  const std::uint32_t cursor = static_cast<std::uint32_t>(std::max(0, a.GetRatingCursor())) % n;
  for (std::size_t t = 0; t < workers.size(); ++t) {
    workers[t].rng.seed(static_cast<std::mt19937::result_type>(m_rng()));
    workers[t].cursor = static_cast<std::uint32_t>((cursor + std::uint64_t(t) * n / workers.size()) % n);
    // A round stores at most this many pairs per table.
    workers[t].storesA.reserve(std::size_t(kRoundSize) * kMaxAttempts);
    workers[t].storesB.reserve(std::size_t(kRoundSize) * kMaxAttempts);
  }

  bool improved = false;
  bool cancelled = false;
  int actualThreads = 1;
#pragma omp parallel num_threads(requested)
  {
    int self = 0, threads = 1;
#ifdef _OPENMP
    self = omp_get_thread_num();
    threads = omp_get_num_threads();
#endif
#pragma omp single
    actualThreads = threads;
    Worker& w = workers[static_cast<std::size_t>(self)];
    const std::int64_t roundSize = std::int64_t(kRoundSize) * threads;
    for (std::int64_t start = 0; start < hypotheses; start += roundSize) {
      const double shared = state.bestScore;
      const std::int64_t begin = start + std::int64_t(self) * kRoundSize;
      const std::int64_t end = std::min(hypotheses, begin + kRoundSize);
      for (std::int64_t h = begin; h < end; ++h) {
        Frame4d t;
        const bool ok = ctx.hasAxis ? ctx.GenerateAxis(w, t) : ctx.GenerateFree(w, t);
        if (!ok) continue;
        ++w.generated;
        const double best = w.improved ? std::max(shared, w.bestScore) : shared;
        const double s = ctx.Rate(w, t, best);
        if (s > best) {
          w.bestScore = s;
          w.bestTransform = t;
          w.improved = true;
        }
      }
#pragma omp barrier
#pragma omp single
      {
        for (int k = 0; k < threads; ++k) {
          Worker& other = workers[static_cast<std::size_t>(k)];
          for (const auto& s : other.storesA) tableA.Store(s.entry, s.i, s.j);
          for (const auto& s : other.storesB) tableB.Store(s.entry, s.i, s.j);
          other.storesA.clear();
          other.storesB.clear();
          if (other.improved && other.bestScore > state.bestScore) {
            state.bestScore = other.bestScore;
            state.bestTransform = other.bestTransform;
            improved = true;
            ++m_stats.improvements;
          }
          other.improved = false;
        }
        const std::int64_t done = std::min(hypotheses, start + roundSize);
        if (progress && progress(static_cast<double>(done) / static_cast<double>(hypotheses))) cancelled = true;
      }
      if (cancelled) break;
    }
  }
  for (const auto& w : workers) m_stats.generated += w.generated;
  m_stats.threads = actualThreads;
  m_stats.cancelled = cancelled;
  a.SetRatingCursor(static_cast<std::int32_t>(workers[0].cursor));
  return improved;
}

}  // namespace surf
