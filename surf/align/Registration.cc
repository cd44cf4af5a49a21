#include "surf/align/Registration.h"

#include <cmath>
#include <future>
#include <iostream>
#include <numbers>

#include "v3d/Geo.h"
#include "v3d/LockGuard.h"
#include "v3d/Scene.h"

namespace surf {
namespace {

using math::Frame4d;
using math::Vec3d;
using math::Vec3f;

// Under the viewer lock: the render thread reads node frames.
void MoveNode(v3d::Geo& geo, const Frame4d& frame) {
  v3d::LockGuard lock;
  geo.SetFrame(NearestRigid(frame));
  if (v3d::Scene* scene = geo.GetScene()) scene->Redraw();
}

bool Usable(const AlignScan& s) { return s.geo && s.fragment; }

}  // namespace

void ComputeOverlapStatistics(const Fragment& a, const Fragment& b, const Frame4d& aToB, float distance,
                              PairAlignmentInfo& info, std::size_t maxVertices) {
  info.testedVertices = info.overlapVertices = 0;
  info.inlierFraction = info.rmsDistance = info.meanDistance = 0.0;
  const auto& order = a.GetShuffledOrder();
  const std::size_t count = std::min(order.size(), maxVertices);
  if (count == 0 || !(distance > 0.f) || b.GetNumVertices() < 1) return;
  const float footLimit = std::max(a.GetResolution(), b.GetResolution());
  double sumSquares = 0.0, sumAbs = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint32_t v = order[k];
    const Vec3f q = aToB.MultP(a.GetPositions()[v]);
    const Vec3f nq = aToB.MultV(a.GetNormals()[v]);
    const std::int32_t m = b.GetTree().FindNearest(q, distance);
    if (m < 0) continue;
    const Vec3f& nm = b.GetNormals()[m];
    if (!(math::Dot(nq, nm) > 0.75f)) continue;
    const Vec3f offset = q - b.GetPositions()[m];
    const float d = math::Dot(offset, nm);
    // Beyond B's border: the foot point lies off the part of B that m
    // stands for.
    if ((offset - nm * d).LengthSquared() > footLimit * footLimit) continue;
    sumSquares += double(d) * d;
    sumAbs += std::abs(double(d));
    ++info.overlapVertices;
  }
  info.testedVertices = static_cast<std::int64_t>(count);
  info.inlierFraction = static_cast<double>(info.overlapVertices) / static_cast<double>(count);
  if (info.overlapVertices > 0) {
    info.rmsDistance = std::sqrt(sumSquares / static_cast<double>(info.overlapVertices));
    info.meanDistance = sumAbs / static_cast<double>(info.overlapVertices);
  }
}

bool PairRegistration::Prepare(const AlignScan& a, const AlignScan& b) {
  m_geoA = m_geoB = nullptr;
  m_fragmentA = m_fragmentB = nullptr;
  if (!Usable(a) || !Usable(b) || a.geo == b.geo || a.fragment == b.fragment) return false;
  auto other = std::async(std::launch::async, [&b] { return b.fragment->Init(*b.geo, b.prepare); });
  const bool okA = a.fragment->Init(*a.geo, a.prepare);
  const bool okB = other.get();
  if (!okA || !okB) return false;
  m_state.bestScore = Ransam3d::kStartScore;
  m_state.bestTransform = b.geo->GetFrame().GetInverse() * a.geo->GetFrame();
  m_engine.Reseed();
  m_geoA = a.geo;
  m_geoB = b.geo;
  m_fragmentA = a.fragment;
  m_fragmentB = b.fragment;
  return true;
}

bool PairRegistration::IsPrepared(const AlignScan& a, const AlignScan& b) const {
  return m_geoA && a.geo == m_geoA && b.geo == m_geoB && a.fragment == m_fragmentA && b.fragment == m_fragmentB;
}

bool PairRegistration::Ready(const AlignScan& a, const AlignScan& b, bool keepPrepared) {
  if (!Usable(a) || !Usable(b) || a.geo == b.geo || a.fragment == b.fragment) return false;
  if (!keepPrepared || !IsPrepared(a, b)) {
    if (!Prepare(a, b)) return false;
  }
  return a.fragment->GetNumVertices() >= 2 && b.fragment->GetNumVertices() >= 2;
}

double PairRegistration::CoarseRegistration(const AlignScan& a, const AlignScan& b, bool keepPrepared,
                                            const CoarseRegistrationParams& params,
                                            const utils::ProgressCallback& progress) {
  if (!Ready(a, b, keepPrepared)) return 0.0;
  const Frame4d frameB = b.geo->GetFrame();
  const Frame4d toB = frameB.GetInverse();
  CoarseSearchParams search;
  search.axis = params.axis;
  search.axisPoint = params.axisPoint;
  search.angle = params.angle;
  search.angleTolerance = params.angleTolerance;
  if (!params.restrictionA.empty()) search.restrictionA = a.fragment->MakeVertexSet(params.restrictionA);
  if (!params.restrictionB.empty()) search.restrictionB = b.fragment->MakeVertexSet(params.restrictionB);
  search.effort = params.effort;
  search.numThreads = params.numThreads;
  search.posesToAvoid = params.posesToAvoid;
  search.posesToKeep = params.posesToKeep;
  for (auto& p : search.posesToAvoid.poses) p = toB * p;
  for (auto& p : search.posesToKeep.poses) p = toB * p;
  if (!m_engine.Search(*a.fragment, *b.fragment, search, m_state, progress)) return 0.0;
  MoveNode(*a.geo, frameB * m_state.bestTransform);
  return m_state.bestScore;
}

PairAlignmentInfo PairRegistration::FineRegistration(const AlignScan& a, const AlignScan& b, bool keepPrepared,
                                                     const IcpParams& params) {
  PairAlignmentInfo info;
  if (!Ready(a, b, keepPrepared)) return info;
  std::vector<Frame4d> poses{m_state.bestTransform};
  IcpStats stats;
  if (!RunIcp(*a.fragment, {b.fragment}, poses, params, &stats)) {
    std::cerr << "Error: PairRegistration::FineRegistration - The rigid fit failed.\n";
    return info;
  }
  const Frame4d oldFrame = a.geo->GetFrame();
  const Frame4d newFrame = b.geo->GetFrame() * poses[0];
  m_state.bestTransform = poses[0];
  MoveNode(*a.geo, newFrame);

  info.valid = true;
  info.relativePose = poses[0];
  const Vec3d c(a.fragment->GetCentroid());
  info.translation = (newFrame.MultP(c) - oldFrame.MultP(c)).Length();
  info.rotation = RotationAngle(oldFrame.GetInverse() * newFrame);
  info.iterations = stats.iterations;
  info.acceptedSamples = stats.acceptedLastIteration;
  info.distance = stats.distance;
  ComputeOverlapStatistics(*a.fragment, *b.fragment, poses[0], stats.distance, info);
  return info;
}

bool IsEnabledForGlobalAlignment(const v3d::Geo& geo) {
  const std::uint32_t active = geo.GetScene() ? geo.GetScene()->GetGlobalVisibility() : 0xFFFFFFFFu;
  return (geo.GetVisibility() & active) != 0;
}

GlobalFineResult GlobalFineRegistration(const std::vector<AlignScan>& scans, const GlobalFineParams& params,
                                        const utils::ProgressCallback& progress) {
  GlobalFineResult result;
  result.restored.assign(scans.size(), 0);
  std::vector<std::size_t> eligible;
  for (std::size_t i = 0; i < scans.size(); ++i) {
    const AlignScan& s = scans[i];
    if (!Usable(s) || !IsEnabledForGlobalAlignment(*s.geo)) continue;
    if (params.prepareFragments && !s.fragment->Init(*s.geo, s.prepare)) continue;
    if (s.fragment->GetNumVertices() < 2) continue;
    eligible.push_back(i);
  }
  result.eligibleScans = static_cast<int>(eligible.size());
  if (eligible.size() < 2 || params.iterations < 0) return result;

  std::vector<Frame4d> saved(scans.size());
  for (const std::size_t i : eligible) saved[i] = scans[i].geo->GetFrame();
  const double angleLimit = params.angleLimitDegrees * std::numbers::pi / 180.0;
  const double steps = static_cast<double>(params.iterations) * static_cast<double>(eligible.size());
  std::uint64_t call = 0;
  result.ok = true;
  for (int iteration = 0; iteration < params.iterations; ++iteration) {
    for (std::size_t step = 0; step < eligible.size(); ++step) {
      if (progress && progress((iteration * eligible.size() + step) / steps)) {
        result.cancelled = true;
        return result;
      }
      // Forward on even sweeps, backward on odd ones: corrections then
      // travel both ways around a ring of views.
      const std::size_t k = iteration % 2 == 0 ? step : eligible.size() - 1 - step;
      const AlignScan& ref = scans[eligible[k]];
      const Frame4d frameRef = ref.geo->GetFrame();
      std::vector<const Fragment*> others;
      std::vector<Frame4d> poses;
      const std::size_t first = k == 0 ? eligible[1] : eligible[0];  // the scan of poses[0]
      for (const std::size_t j : eligible) {
        if (j == eligible[k]) continue;
        others.push_back(scans[j].fragment);
        poses.push_back(scans[j].geo->GetFrame().GetInverse() * frameRef);
      }
      IcpParams icp = params.icp;
      if (icp.seed != 0) icp.seed += call;
      ++call;
      if (!RunIcp(*ref.fragment, others, poses, icp)) {
        result.ok = false;
        continue;
      }
      const Frame4d updated = scans[first].geo->GetFrame() * poses[0];
      const Frame4d& before = saved[eligible[k]];
      const Vec3d c(ref.fragment->GetCentroid());
      const double moved = (updated.MultP(c) - before.MultP(c)).LengthSquared();
      const bool tooFar = params.translationLimit > 0.0 && moved > params.translationLimit * params.translationLimit;
      const bool tooMuch = angleLimit > 0.0 && RotationAngle(before.GetInverse() * updated) > angleLimit;
      if (tooFar || tooMuch) {
        MoveNode(*ref.geo, before);
        ++result.restored[eligible[k]];
      } else {
        MoveNode(*ref.geo, updated);
      }
    }
  }
  if (progress) progress(1.0);
  return result;
}

}  // namespace surf
