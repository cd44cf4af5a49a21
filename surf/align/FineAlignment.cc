#include "surf/align/FineAlignment.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <random>

#include "surf/align/AlignRandom.h"

namespace surf {

using math::Frame4d;
using math::Vec3d;
using math::Vec3f;

Frame4d NearestRigid(const Frame4d& frame) {
  Eigen::Matrix3d r;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) r(row, col) = frame(row, col);
  }
  if (!r.allFinite()) return frame;
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(r, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
  if ((svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0) d(2, 2) = -1.0;
  const Eigen::Matrix3d rotation = svd.matrixU() * d * svd.matrixV().transpose();
  Frame4d result = frame;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) result(row, col) = rotation(row, col);
    result(3, row) = 0.0;
  }
  result(3, 3) = 1.0;
  return result;
}

void RigidFitAccumulator::Add(const Vec3d& q, const Vec3d& t) {
  ++m_count;
  for (int r = 0; r < 3; ++r) {
    m_sumQ[r] += q[r];
    m_sumT[r] += t[r];
    for (int c = 0; c < 3; ++c) m_sumTQ[r * 3 + c] += t[r] * q[c];
  }
}

bool RigidFitAccumulator::Solve(Frame4d& motion) const {
  if (m_count < 3) return false;
  const double n = static_cast<double>(m_count);
  Eigen::Vector3d qMean, tMean;
  for (int r = 0; r < 3; ++r) {
    qMean[r] = m_sumQ[r] / n;
    tMean[r] = m_sumT[r] / n;
  }
  Eigen::Matrix3d h;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) h(r, c) = m_sumTQ[r * 3 + c] / n - tMean[r] * qMean[c];
  }
  if (!h.allFinite()) return false;
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::Vector3d s = svd.singularValues();
  if (!(s[0] > 0.0) || !(s[1] > 1e-9 * s[0])) return false;
  Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
  if ((svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0) d(2, 2) = -1.0;
  const Eigen::Matrix3d rotation = svd.matrixU() * d * svd.matrixV().transpose();
  const Eigen::Vector3d translation = tMean - rotation * qMean;
  if (!rotation.allFinite() || !translation.allFinite()) return false;
  motion = Frame4d();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) motion(r, c) = rotation(r, c);
    motion(r, 3) = translation[r];
  }
  return true;
}

void PointToPlaneAccumulator::Add(const Vec3d& q, const Vec3d& t, const Vec3d& n) {
  m_q.push_back(q);
  m_t.push_back(t);
  m_n.push_back(n);
}

bool PointToPlaneAccumulator::Solve(Frame4d& motion) const {
  const std::size_t count = m_q.size();
  if (count < 3) return false;
  Vec3d mean;
  for (const auto& q : m_q) mean += q;
  mean /= static_cast<double>(count);
  double spread = 0.0;
  for (const auto& q : m_q) spread += (q - mean).LengthSquared();
  spread = std::sqrt(spread / static_cast<double>(count));
  if (!(spread > 0.0) || !std::isfinite(spread)) return false;

  // Unknowns x = (ω·spread, τ); the moved sample's offset from its target
  // along a direction d is d·(q − t) + (q' × d)·ω + d·τ, with q' = q − mean.
  Eigen::Matrix<double, 6, 6> a = Eigen::Matrix<double, 6, 6>::Zero();
  Eigen::Matrix<double, 6, 1> b = Eigen::Matrix<double, 6, 1>::Zero();
  const auto addRow = [&](const Vec3d& qc, const Vec3d& d, double offset, double weight) {
    const Vec3d c = (qc ^ d) / spread;
    Eigen::Matrix<double, 6, 1> j;
    j << c[0], c[1], c[2], d[0], d[1], d[2];
    a.selfadjointView<Eigen::Lower>().rankUpdate(j, weight);
    b += j * (weight * offset);
  };
  for (std::size_t i = 0; i < count; ++i) {
    const Vec3d qc = m_q[i] - mean;
    const Vec3d& n = m_n[i];
    addRow(qc, n, math::Dot(n, m_q[i] - m_t[i]), 1.0);
    // Two tangent directions; the foot point has no tangential offset.
    const Vec3d helper = std::abs(n[0]) < 0.6 ? Vec3d(1.0, 0.0, 0.0) : Vec3d(0.0, 1.0, 0.0);
    const Vec3d t1 = (n ^ helper).GetNormalized();
    const Vec3d t2 = n ^ t1;
    addRow(qc, t1, math::Dot(t1, m_q[i] - m_t[i]), kTangentialWeight);
    addRow(qc, t2, math::Dot(t2, m_q[i] - m_t[i]), kTangentialWeight);
  }
  a = a.selfadjointView<Eigen::Lower>();
  if (!a.allFinite() || !b.allFinite()) return false;
  const Eigen::LDLT<Eigen::Matrix<double, 6, 6>> ldlt(a);
  if (ldlt.info() != Eigen::Success) return false;
  const Eigen::Matrix<double, 6, 1> x = -ldlt.solve(b);
  const double largest = a.diagonal().maxCoeff();
  if (!x.allFinite() || !(largest > 0.0) || !(ldlt.vectorD().minCoeff() > 1e-12 * largest)) return false;
  const Eigen::Vector3d omega = x.head<3>() / spread;
  const double angle = omega.norm();
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
  if (angle > 0.0) rotation = Eigen::AngleAxisd(angle, omega / angle).toRotationMatrix();
  // Rotation about the samples' mean, then the translation.
  const Eigen::Vector3d m(mean[0], mean[1], mean[2]);
  const Eigen::Vector3d translation = m - rotation * m + x.tail<3>();
  motion = Frame4d();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) motion(r, c) = rotation(r, c);
    motion(r, 3) = translation[r];
  }
  return true;
}

IcpParams PairwiseIcpParams() {
  IcpParams params;
  params.captureIterations = 10;
  params.captureAngle = 0.05;
  return params;
}

bool RunIcp(const Fragment& f, const std::vector<const Fragment*>& sampled, std::vector<Frame4d>& poses,
            const IcpParams& params, IcpStats* stats) {
  IcpStats local;
  IcpStats& st = stats ? *stats : local;
  st = {};
  if (sampled.empty() || sampled.size() != poses.size() || f.GetNumVertices() < 1) return false;
  float resolution = f.GetResolution();
  std::uint64_t total = 0;
  std::vector<std::uint64_t> offsets;  // start of each fragment in the concatenated order
  for (const Fragment* s : sampled) {
    if (!s) return false;
    offsets.push_back(total);
    total += static_cast<std::uint64_t>(s->GetNumVertices());
    resolution = std::max(resolution, s->GetResolution());
  }
  const float plainR = static_cast<float>(resolution * params.distanceFactor);
  const int capture = std::max(0, params.captureIterations);
  const float captureR = std::max(plainR, static_cast<float>(f.GetRadius() * params.captureAngle));
  const double footLimit = params.footPointFactor > 0.0 ? resolution * params.footPointFactor : -1.0;
  st.distance = plainR;
  if (total == 0 || total > 0xFFFFFFFFu || !(plainR > 0.f) || !std::isfinite(plainR)) return false;
  if (capture > 0 && (!(params.captureAngle >= 0.0) || !std::isfinite(captureR))) return false;
  if (params.iterations < 0 || params.samplesPerFragment < 0) return false;

  const std::vector<Frame4d> original = poses;
  std::vector<Frame4d> inverse(poses.size());
  for (std::size_t i = 0; i < poses.size(); ++i) inverse[i] = poses[i].GetInverse();
  std::mt19937 rng(static_cast<std::mt19937::result_type>(ResolveSeed(params.seed)));
  const std::int64_t samples = std::int64_t(sampled.size() + 1) * params.samplesPerFragment;
  const KDTree& treeF = f.GetTree();
  const auto& pf = f.GetPositions();
  const auto& nf = f.GetNormals();

  const int iterations = capture + params.iterations;
  for (int iteration = 0; iteration < iterations; ++iteration) {
    const float r = iteration < capture ? captureR : plainR;
    RigidFitAccumulator fit;
    PointToPlaneAccumulator planeFit;
    const bool plane = params.fit == IcpFit::kPointToPlane;
    for (std::int64_t k = 0; k < samples; ++k) {
      const std::uint32_t g = UniformIndex(rng, static_cast<std::uint32_t>(total));
      const auto i = static_cast<std::size_t>(std::upper_bound(offsets.begin(), offsets.end(), g) - offsets.begin() - 1);
      const Fragment& s = *sampled[i];
      const std::uint32_t v = s.GetShuffledOrder()[g - offsets[i]];
      if (s.IsExcluded(v)) continue;
      const Vec3f q = inverse[i].MultP(s.GetPositions()[v]);
      float d1 = 0.f;
      const std::int32_t fi = treeF.FindNearest(q, r, &d1);
      if (fi < 0 || f.IsExcluded(static_cast<std::uint32_t>(fi))) continue;
      const Vec3f& fp = pf[fi];
      const Vec3f& fn = nf[fi];
      if (math::Dot(q - fp, fn) < 0.f) d1 = -d1;
      if (!(math::Dot(inverse[i].MultV(s.GetNormals()[v]), fn) > 0.75f)) continue;
      const Vec3d qd(q), fd(fp), nd(fn);
      const Vec3d target = qd - nd * math::Dot(qd - fd, nd);
      if (footLimit > 0.0 && (target - fd).LengthSquared() > footLimit * footLimit) continue;
      const Vec3f fs = poses[i].MultP(fp);
      float d2 = 0.f;
      const std::int32_t mi = s.GetTree().FindNearest(fs, std::abs(d1) + r, &d2);
      if (mi < 0 || s.IsExcluded(static_cast<std::uint32_t>(mi))) continue;
      if (math::Dot(fs - s.GetPositions()[mi], s.GetNormals()[mi]) < 0.f) d2 = -d2;
      if (!(std::abs(d1 - d2) < r)) continue;
      if (plane) {
        planeFit.Add(qd, target, nd);
      } else {
        fit.Add(qd, target);
      }
    }
    const std::int64_t accepted = plane ? planeFit.GetCount() : fit.GetCount();
    st.iterations = iteration + 1;
    st.acceptedLastIteration = accepted;
    st.acceptedTotal += accepted;
    if (accepted <= 2) continue;
    Frame4d motion;
    if (!(plane ? planeFit.Solve(motion) : fit.Solve(motion))) {
      poses = original;
      return false;
    }
    for (std::size_t i = 0; i < poses.size(); ++i) {
      inverse[i] = NearestRigid(motion * inverse[i]);
      poses[i] = inverse[i].GetInverse();
    }
  }
  return true;
}

}  // namespace surf
