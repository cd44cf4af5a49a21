#include "shell/AlignmentJobs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "foundation/math/Twist.h"
#include "foundation/utils/Progress.h"
#include "foundation/utils/ThreadPriority.h"
#include "shell/ProgressReporter.h"
#include "shell/ScanSequenceController.h"
#include "shell/Settings.h"
#include "surf/align/Ransam3d.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
// Agreeing steps a run needs before the table's axis is taken from them.
constexpr int kMinStepsForAxis = 4;

std::string Path(const std::string& group, const std::string& key) {
  return "/Settings/" + group + "/*[@title='" + key + "']";
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

// A known turn folded into [0, 180] degrees, as the rotation angle of a frame is.
double FoldDegrees(double angle) {
  angle = std::fmod(std::abs(angle), 360.0);
  return angle > 180.0 ? 360.0 - angle : angle;
}

double TurnDegrees(const math::Frame4d& frame) { return surf::RotationAngle(frame) / kDeg; }

// How far a relative pose (A's coordinates into B's) turns away from the
// known turn of the object from B to A (degrees): about a known axis its
// rotation must be the turn by −known about the axis (the angle of the
// rotation between the two, so a tilt counts too), without an axis only
// the size of its turn is compared.
double TurnError(const math::Frame4d& aToB, double known, const std::optional<math::Vec3d>& axis) {
  if (!axis) return std::abs(TurnDegrees(aToB) - FoldDegrees(known));
  const math::Frame4d expected = math::Twist({0.0, 0.0, 0.0}, axis->GetNormalized() * (-known * kDeg)).Exp();
  return TurnDegrees(expected.GetInverse() * aToB);
}

// The signed turn of the object from B to A about the axis that a relative
// pose (A's coordinates into B's) shows, degrees.
double ObjectTurnAbout(const math::Frame4d& aToB, const math::Vec3d& axis) {
  return -surf::RotationAngleAbout(aToB, axis) / kDeg;
}

// The turn by angle (radians, right-handed) about the line along axis
// about which motion turns: its points c (normal to the axis) satisfy
// (I − R)c = v with R motion's own turn φ about the axis and v the part of
// motion's translation normal to the axis, so c = (v + cot(φ/2)·(a × v)) / 2
// (a unit). A motion that turns a little short about the line still
// leaves the line in place.
math::Frame4d TurnAboutAxisOf(const math::Frame4d& motion, const math::Vec3d& axis, double angle) {
  const math::Vec3d a = axis.GetNormalized();
  const double phi = surf::RotationAngleAbout(motion, a);
  math::Vec3d v = motion.GetTrans();
  v = v - a * Dot(a, v);
  const math::Vec3d c = (v + (a ^ v) * (1.0 / std::tan(0.5 * phi))) * 0.5;
  return math::FTrans(c) * math::Twist({0.0, 0.0, 0.0}, a * angle).Exp() * math::FTrans(c * -1.0);
}

double AngleDegrees(const math::Vec3d& a, const math::Vec3d& b) {
  return std::acos(std::clamp(Dot(a, b) / std::sqrt(Dot(a, a) * Dot(b, b)), -1.0, 1.0)) / kDeg;
}

// The table's axis as the scans show it: the rotation axis of their common
// step (A's coordinates into B's, which turns by −angle about the table's
// axis), pointing to the side of the stated axis. The stated axis is what a
// user typed or a rig assumed (e.g. the calibrated world's z); the table
// stands however it stands. Views placed about an axis tilted by α (rad)
// from the table's land a point at distance r from it, turned by ψ, about
// 2·sin(ψ/2)·α·r off: 1 mm at 30 mm half way round for 1°.
math::Vec3d TableAxisOf(const math::Frame4d& step, const math::Vec3d& stated) {
  const math::Vec3d rotation = math::Twist::Log(step).GetRot();
  if (!(Dot(rotation, rotation) > 0.0)) return stated.GetNormalized();
  const math::Vec3d axis = rotation.GetNormalized();
  return Dot(axis, stated) < 0.0 ? axis * -1.0 : axis;
}

std::optional<math::Vec3d> KnownAxis(const AlignmentSettings& settings) {
  if (!settings.axisKnown || !(std::sqrt(Dot(settings.axis, settings.axis)) > 0.0)) return std::nullopt;
  return settings.axis;
}

// The centroid of a scan's vertices (local coordinates) and the half
// diagonal of their bounding box (mm).
void CentroidAndRadius(const v3d::Geo& geo, math::Vec3d& centroid, double& radius) {
  math::Vec3d sum{0.0, 0.0, 0.0};
  math::Vec3d low{1e300, 1e300, 1e300}, high{-1e300, -1e300, -1e300};
  std::size_t count = 0;
  for (std::size_t m = 0; m < geo.GetNumMeshes(); ++m) {
    for (const auto& p : geo.GetMesh(std::int64_t(m))->GetVertexCoords()) {
      const math::Vec3d q{p[0], p[1], p[2]};
      if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) continue;
      sum = sum + q;
      for (int k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], q[k]);
        high[k] = std::max(high[k], q[k]);
      }
      ++count;
    }
  }
  centroid = count ? sum * (1.0 / double(count)) : math::Vec3d{0.0, 0.0, 0.0};
  radius = count ? 0.5 * std::sqrt(Dot(high - low, high - low)) : 0.0;
}

}  // namespace

AlignmentSettings AlignmentSettings::FromSettings(Settings& settings) {
  const std::string group = "ShapeFusion/Registration";
  AlignmentSettings s;
  s.mode = settings.GetSetting<std::string>(Path(group, "AlignmentMode")).Value();
  s.angleKnown = settings.GetSetting<bool>(Path(group, "AngleKnown")).Value();
  s.rotationAngle = settings.GetSetting<double>(Path(group, "RotationAngle")).Value();
  s.rotationAngleTolerance = settings.GetSetting<double>(Path(group, "RotationAngleTolerance")).Value();
  s.axisKnown = settings.GetSetting<bool>(Path(group, "AxisKnown")).Value();
  s.axis = math::Vec3d{settings.GetSetting<double>(Path(group, "RotationAxisX")).Value(),
                       settings.GetSetting<double>(Path(group, "RotationAxisY")).Value(),
                       settings.GetSetting<double>(Path(group, "RotationAxisZ")).Value()};
  s.defineOnePointPair = settings.GetSetting<bool>(Path(group, "DefineOnePointPair")).Value();
  s.useSurfaceFeatures = settings.GetSetting<bool>(Path(group, "UseSurfaceFeatures")).Value();
  s.useTexture = settings.GetSetting<bool>(Path(group, "UseTexture")).Value();
  s.useTexturePercentage = settings.GetSetting<int>(Path(group, "UseTexturePercentage")).Value();
  s.retryLinearToleranceFactor = settings.GetSetting<double>(Path(group, "RetryLinearToleranceFactor")).Value();
  s.retryAngleTolerance = settings.GetSetting<double>(Path(group, "RetryAngleTolerance")).Value();
  return s;
}

AlignmentJobs::AlignmentJobs(surf::ShapeFusion& fusion, Settings& settings, ProgressReporter& progress, LogSink log)
    : AlignmentJobs(fusion, settings, progress, std::move(log), Options{}) {}

AlignmentJobs::AlignmentJobs(surf::ShapeFusion& fusion, Settings& settings, ProgressReporter& progress, LogSink log,
                             Options options)
    : m_fusion(fusion),
      m_settings(settings),
      m_progress(progress),
      m_log(log ? std::move(log) : StdoutLogSink()),
      m_options(std::move(options)) {}

AlignmentJobs::~AlignmentJobs() {
  m_abort = true;
  Wait();
}

void AlignmentJobs::Wait() {
  if (m_worker.joinable()) m_worker.join();
}

void AlignmentJobs::Log(const std::string& line) {
  std::lock_guard lock(m_mutex);
  m_log(line);
}

bool AlignmentJobs::Cancelled() const { return m_abort || m_progress.IsCancelPending(); }

AlignmentJobs::PairResult AlignmentJobs::GetLastPairResult() const {
  std::lock_guard lock(m_mutex);
  return m_pairResult;
}

AlignmentJobs::SequenceResult AlignmentJobs::GetLastSequenceResult() const {
  std::lock_guard lock(m_mutex);
  return m_sequenceResult;
}

void AlignmentJobs::Launch(std::function<void()> job) {
  Wait();
  m_busy = true;
  m_progress.SetBusy(true);
  m_worker = std::thread([this, job = std::move(job)] {
    utils::LowerThisThreadPriority();  // the user interface keeps the cores it needs
    job();
    m_progress.SetBusy(false);
    m_busy = false;
  });
}

bool AlignmentJobs::StartPairAlignment_Async(int indexA, int indexB, const AlignmentSettings& settings) {
  const std::string pair = "scan " + std::to_string(indexA) + " to scan " + std::to_string(indexB);
  if (m_busy) {
    Log("Alignment: another alignment is running; " + pair + " is not aligned.");
    return false;
  }
  if (indexA < 0 || indexB < 0 || indexA == indexB || !m_fusion.GetGeo(indexA) || !m_fusion.GetGeo(indexB)) {
    Log("Alignment: cannot align " + pair + " (invalid scans).");
    return false;
  }
  if (settings.defineOnePointPair) Log("Alignment: point pairs cannot be picked here; aligning without one.");
  surf::ShapeFusionParams params = m_fusion.GetShapeFusionParams();
  params.useTexturePercentage = std::clamp(settings.useTexturePercentage, 0, 99);
  if (m_options.seed != 0) params.seed = m_options.seed;
  m_fusion.SetShapeFusionParams(params);
  m_fusion.RememberCurrentFramesForUndo();
  std::string line = "Alignment: " + pair;
  if (settings.angleKnown) line += " with a known turn of " + Fixed(settings.rotationAngle, 3) + " degrees";
  Log(line + ".");
  Launch([this, indexA, indexB, settings] { RunPair(indexA, indexB, settings); });
  return true;
}

void AlignmentJobs::RunPair(int indexA, int indexB, const AlignmentSettings& settings) {
  PairResult result;
  result.indexA = indexA;
  result.indexB = indexB;
  const math::Frame4d start = m_fusion.GetGeo(indexA)->GetFrame();
  bool ok = AlignPairOnce(indexA, indexB, settings, false, nullptr, result, 0);
  if (!ok && !result.cancelled && result.coarseScore > 0.0 && settings.mode != "fine") {
    const math::Frame4d rejected = m_fusion.GetGeo(indexA)->GetFrame();
    m_fusion.SetGeoFrame(indexA, start);
    result.retried = true;
    Log("Alignment: retrying, avoiding the rejected pose.");
    ok = AlignPairOnce(indexA, indexB, settings, true, &rejected, result, 1000);
  }
  const std::string pair = "scan " + std::to_string(indexA) + " to scan " + std::to_string(indexB);
  if (!ok) {
    m_fusion.SetGeoFrame(indexA, start);
    Log(std::string("Alignment of ") + pair +
        (result.cancelled ? ": cancelled" : ": rejected") + "; the scan stays where it was.");
  } else {
    Log("Alignment of " + pair + ": coarse score " + Fixed(result.coarseScore, 3) + ", overlap " +
        Fixed(100.0 * result.inlierFraction, 1) + " %, RMS " + Fixed(result.rmsDistance, 4) + " mm, turn " +
        Fixed(result.turn, 3) + " degrees.");
  }
  result.accepted = ok;
  std::lock_guard lock(m_mutex);
  m_pairResult = result;
}

bool AlignmentJobs::AlignPairOnce(int indexA, int indexB, const AlignmentSettings& settings, bool retry,
                                  const math::Frame4d* avoid, PairResult& result, std::uint64_t seedOffset) {
  const AlignmentChecks& checks = m_options.checks;
  const bool coarse = settings.mode != "fine";
  const bool fine = settings.mode != "coarse";
  const surf::FragmentOptions fragmentOptions{settings.useTexture, settings.useSurfaceFeatures};
  const utils::ProgressCallback report = [this](double fraction) { return m_progress.Report(fraction) || m_abort; };
  const double from = retry ? 0.5 : 0.0;
  const double span = 0.5;

  if (coarse) {
    surf::CoarseRegistrationParams params;
    params.axis = KnownAxis(settings);
    if (settings.angleKnown) {
      // The search looks for A's motion onto B: the object's turn reversed.
      params.angle = (params.axis ? -settings.rotationAngle : settings.rotationAngle) * kDeg;
      params.angleTolerance = settings.rotationAngleTolerance * kDeg;
    }
    params.effort = m_options.effort;
    if (avoid) {
      const surf::Fragment* fa = m_fusion.GetFragment(indexA);
      const surf::Fragment* fb = m_fusion.GetFragment(indexB);
      const double resolution = std::max(fa ? fa->GetResolution() : 0.f, fb ? fb->GetResolution() : 0.f);
      params.posesToAvoid.poses = {*avoid};
      params.posesToAvoid.linearTolerance = settings.retryLinearToleranceFactor * resolution;
      params.posesToAvoid.angularTolerance = settings.retryAngleTolerance * kDeg;
    }
    const utils::SubProgress progress(report, from, from + span * (fine ? 0.8 : 1.0));
    result.coarseScore =
        m_fusion.CoarseRegistration(indexA, indexB, false, params, fragmentOptions, progress.AsCallback());
    if (Cancelled()) return result.cancelled = true, false;
    if (result.coarseScore < checks.minCoarseScore) {
      Log("Alignment: no plausible coarse pose (score " + Fixed(result.coarseScore, 3) + ", at least " +
          Fixed(checks.minCoarseScore, 3) + " needed).");
      return false;
    }
  }
  if (fine) {
    surf::IcpParams icp = m_options.icp;
    if (m_options.seed != 0) icp.seed = m_options.seed + 7 + seedOffset;
    const surf::PairAlignmentInfo info = m_fusion.FineRegistration(indexA, indexB, coarse, icp, fragmentOptions);
    report(from + span);
    if (Cancelled()) return result.cancelled = true, false;
    result.inlierFraction = info.inlierFraction;
    result.rmsDistance = info.rmsDistance;
    if (!info.valid || info.inlierFraction < checks.minInlierFraction) {
      Log("Alignment: too little overlap after the fine alignment (" + Fixed(100.0 * info.inlierFraction, 1) +
          " %, at least " + Fixed(100.0 * checks.minInlierFraction, 1) + " % needed).");
      return false;
    }
  }
  const math::Frame4d relative =
      m_fusion.GetGeo(indexB)->GetFrame().GetInverse() * m_fusion.GetGeo(indexA)->GetFrame();
  result.turn = TurnDegrees(relative);
  if (settings.angleKnown) {
    const std::optional<math::Vec3d> axis = KnownAxis(settings);
    if (TurnError(relative, settings.rotationAngle, axis) > settings.rotationAngleTolerance + checks.angleSlack) {
      if (axis) {
        Log("Alignment: the scans turn by " + Fixed(ObjectTurnAbout(relative, *axis), 2) +
            " degrees about the axis, " + Fixed(TurnError(relative, settings.rotationAngle, axis), 2) +
            " degrees from the known turn of " + Fixed(settings.rotationAngle, 2) + ".");
      } else {
        Log("Alignment: the scans turn by " + Fixed(result.turn, 2) + " degrees, not by the known " +
            Fixed(FoldDegrees(settings.rotationAngle), 2) + ".");
      }
      return false;
    }
  }
  return true;
}

bool AlignmentJobs::StartAlignSequence_Async(const std::vector<int>& indices, const std::string& mode) {
  if (m_busy) {
    Log("Sequence alignment: another alignment is running; the sequence is not aligned.");
    return false;
  }
  if (mode != "turntable_const_angle" && mode != "global") {
    Log("Sequence alignment: unknown mode \"" + mode + "\".");
    return false;
  }
  if (indices.size() < 2) {
    Log("Sequence alignment: at least two scans are needed.");
    return false;
  }
  std::vector<int> sorted = indices;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end() || sorted.front() < 0 ||
      !m_fusion.GetGeo(sorted.back())) {
    Log("Sequence alignment: invalid scan indices.");
    return false;
  }
  KnownStep step;
  step.angle = ComputeTurntableStepAngle(m_settings.GetSetting<int>(Path("Turntable", "NumberOfScans")).Value(),
                                         m_settings.GetSetting<int>(Path("Turntable", "TotalScanAngle")).Value());
  const AlignmentSettings settings = AlignmentSettings::FromSettings(m_settings);
  step.tolerance = settings.rotationAngleTolerance;
  step.axis = KnownAxis(settings);
  const int iterations =
      m_settings.GetSetting<int>(Path("ShapeFusion/GlobalFineRegistration", "Iterations")).Value();
  m_fusion.RememberCurrentFramesForUndo();
  Log("Sequence alignment (" + mode + ") of " + std::to_string(indices.size()) + " scans.");
  Launch([this, indices, mode, step, iterations] { RunSequence(indices, mode, step, iterations); });
  return true;
}

void AlignmentJobs::RunSequence(std::vector<int> indices, std::string mode, KnownStep step, int iterations) {
  const bool ownSession = !m_progress.IsSessionActive();
  if (ownSession) m_progress.StartSession(1);
  SequenceResult result;
  result.indices = indices;
  result.replacedLinks.assign(indices.size(), false);
  std::vector<math::Frame4d> start;
  for (const int index : indices) start.push_back(m_fusion.GetGeo(index)->GetFrame());

  if (mode == "turntable_const_angle") PlaceOnConsensus(indices, step, result);
  if (!Cancelled() && !result.onTableModel) result.refined = RefineGlobally(indices, iterations);
  result.cancelled = Cancelled();
  if (result.cancelled) {
    for (std::size_t i = 0; i < indices.size(); ++i) m_fusion.SetGeoFrame(indices[i], start[i]);
    Log("Sequence alignment cancelled; the scans are back where they were.");
  } else {
    Log(std::string("Sequence alignment done") +
        (result.refined || result.onTableModel ? "." : " without the global refinement."));
  }
  if (ownSession) m_progress.StopSession();
  std::lock_guard lock(m_mutex);
  m_sequenceResult = result;
}

bool AlignmentJobs::PlaceOnConsensus(const std::vector<int>& indices, const KnownStep& known,
                                     SequenceResult& result) {
  const SequenceChecks& checks = m_options.sequence;
  const std::size_t n = indices.size();
  std::vector<math::Frame4d> frames, links(n);
  std::vector<math::Vec3d> centroids(n);
  std::vector<double> radii(n);
  for (std::size_t i = 0; i < n; ++i) {
    const v3d::Geo& geo = *m_fusion.GetGeo(indices[i]);
    frames.push_back(geo.GetFrame());
    CentroidAndRadius(geo, centroids[i], radii[i]);
  }
  // links[i] maps scan i's coordinates into scan i−1's.
  for (std::size_t i = 1; i < n; ++i) links[i] = frames[i - 1].GetInverse() * frames[i];
  const auto agree = [&](std::size_t i, std::size_t j) {
    if (TurnDegrees(links[i].GetInverse() * links[j]) > checks.agreeAngle) return false;
    for (const std::size_t k : {i, j}) {
      const math::Vec3d d = links[i].MultP(centroids[k]) - links[j].MultP(centroids[k]);
      if (std::sqrt(Dot(d, d)) > checks.agreeDistance * radii[k]) return false;
    }
    return true;
  };
  std::size_t best = 1;
  int bestCount = 0;
  for (std::size_t i = 1; i < n; ++i) {
    int count = 0;
    for (std::size_t j = 1; j < n; ++j) count += agree(i, j) ? 1 : 0;
    if (count > bestCount) best = i, bestCount = count;
  }
  const int numLinks = int(n) - 1;
  if (numLinks < 2 || 2 * bestCount <= numLinks) {
    Log("Sequence alignment: the scans' steps do not agree; the pairwise poses stay.");
    return false;
  }
  math::Frame4d mean;
  for (double& value : mean.m) value = 0.0;
  for (std::size_t j = 1; j < n; ++j) {
    if (!agree(best, j)) continue;
    for (int k = 0; k < 16; ++k) mean.m[k] += links[j].m[k] / bestCount;
  }
  math::Frame4d step = surf::NearestRigid(mean);
  result.stepTurn = TurnDegrees(step);
  if (known.angle > 0.0 && TurnError(step, known.angle, known.axis) > known.tolerance) {
    const double turn = known.axis ? ObjectTurnAbout(step, *known.axis) : result.stepTurn;
    Log("Sequence alignment: the scans' common step turns by " + Fixed(turn, 2) + " degrees" +
        (known.axis ? " about the axis" : "") + ", not by the turntable's " + Fixed(known.angle, 2) +
        "; the pairwise poses stay.");
    return false;
  }
  // With the table's step and axis known, the table's turn replaces the
  // common step and every scan goes onto it; else only the links that
  // disagree are replaced.
  result.onTableModel = known.angle > 0.0 && known.axis.has_value();
  if (result.onTableModel) {
    // The scans' axis replaces the stated one when it lies farther from it
    // than three standard errors of the mean of the steps' own axes; closer,
    // the difference is the fits' scatter and the stated axis is kept. Fewer
    // than kMinStepsForAxis steps give no trustworthy scatter (two 45° steps
    // of quarter-size scans put the axis 0.07° off), and keep it too.
    const math::Vec3d stated = known.axis->GetNormalized();
    const math::Vec3d found = TableAxisOf(step, stated);
    double sumSquares = 0.0;
    for (std::size_t j = 1; j < n; ++j)
      if (agree(best, j)) sumSquares += std::pow(AngleDegrees(TableAxisOf(links[j], stated), found), 2);
    const double standardError = bestCount > 1 ? std::sqrt(sumSquares / (bestCount - 1) / bestCount) : 0.0;
    result.axisOffset = AngleDegrees(found, stated);
    result.axisOffsetError = standardError;
    result.axisFromScans = bestCount >= kMinStepsForAxis && result.axisOffset > 3.0 * standardError;
    result.tableAxis = result.axisFromScans ? found : stated;
    step = TurnAboutAxisOf(step, result.tableAxis, -known.angle * kDeg);
  }
  int replaced = 0;
  math::Frame4d previous = frames[0];
  for (std::size_t i = 1; i < n; ++i) {
    const bool keep = agree(best, i);
    const math::Frame4d frame = previous * (keep && !result.onTableModel ? links[i] : step);
    if (!keep) {
      result.replacedLinks[i] = true;
      ++replaced;
    }
    if (!(frame == frames[i])) m_fusion.SetGeoFrame(indices[i], frame);
    previous = frame;
  }
  std::string line = "Sequence alignment: common step " + Fixed(result.stepTurn, 3) + " degrees from " +
                     std::to_string(bestCount) + " of " + std::to_string(numLinks) + " steps; " +
                     std::to_string(replaced) + " replaced";
  if (result.onTableModel) {
    line += "; every scan placed on the table's step of " + Fixed(known.angle, 3) + " degrees about its axis (" +
            Fixed(result.tableAxis[0], 5) + ", " + Fixed(result.tableAxis[1], 5) + ", " +
            Fixed(result.tableAxis[2], 5) + "); the scans' axis lies " + Fixed(result.axisOffset, 3) + " ± " +
            Fixed(result.axisOffsetError, 3) + " degrees from the stated axis" +
            (result.axisFromScans ? ", which it replaces" : ", which is kept");
  }
  Log(line + ".");
  return true;
}

bool AlignmentJobs::RefineGlobally(const std::vector<int>& indices, int iterations) {
  if (iterations <= 0) return false;
  // Only the run's scans take part: the others are hidden meanwhile.
  std::vector<std::pair<int, std::uint32_t>> hidden;
  for (int k = 0; k < m_fusion.GetNumGeos(); ++k) {
    if (std::find(indices.begin(), indices.end(), k) != indices.end()) continue;
    const std::uint32_t visibility = m_fusion.GetGeo(k)->GetVisibility();
    if (visibility == 0) continue;
    hidden.emplace_back(k, visibility);
    m_fusion.SetGeoVisibility(k, 0);
  }
  surf::GlobalFineParams params = m_fusion.GetShapeFusionParams().globalFine;
  params.iterations = iterations;
  if (m_options.seed != 0) params.icp.seed = m_options.seed + 99;
  const surf::GlobalFineResult refined = m_fusion.GlobalFineRegistration(
      params, [this](double fraction) { return m_progress.Report(fraction) || m_abort; });
  for (const auto& [k, visibility] : hidden) m_fusion.SetGeoVisibility(k, visibility);
  return refined.ok && !refined.cancelled;
}

}  // namespace shell
