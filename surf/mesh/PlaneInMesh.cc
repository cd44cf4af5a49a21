#include "surf/mesh/PlaneInMesh.h"

#include <Eigen/Dense>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>

namespace surf {
namespace {

math::Vec3f At(const std::vector<float>& a, std::size_t i) { return {a[3 * i], a[3 * i + 1], a[3 * i + 2]}; }

double Score(const std::vector<float>& positions, std::size_t n, const math::Vec3f& point, const math::Vec3f& normal,
             float tolerance, bool weighted) {
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const float d = std::abs(Dot(At(positions, i) - point, normal));
    if (d <= tolerance) sum += weighted ? 1.0 - double(d) / tolerance : 1.0;
  }
  return sum / double(n);
}

// Least-squares plane through the vertices within tolerance of plane,
// oriented along the sum of their normals.
void Refit(math::Planef& plane, const std::vector<float>& positions, const std::vector<float>& normals, std::size_t n,
           float tolerance) {
  const math::Vec3f point = plane.Point3(), normal = plane.Normal3();
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  math::Vec3d normalSum;
  std::vector<std::size_t> inliers;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::abs(Dot(At(positions, i) - point, normal)) >= tolerance) continue;
    inliers.push_back(i);
    const math::Vec3f p = At(positions, i);
    mean += Eigen::Vector3d(p[0], p[1], p[2]);
    if (normals.size() == positions.size()) normalSum += math::Vec3d(At(normals, i));
  }
  if (inliers.size() < 3) return;
  mean /= double(inliers.size());
  Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
  for (std::size_t i : inliers) {
    const math::Vec3f p = At(positions, i);
    const Eigen::Vector3d q = Eigen::Vector3d(p[0], p[1], p[2]) - mean;
    covariance += q * q.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(covariance);
  Eigen::Vector3d fitted = solver.eigenvectors().col(0);
  normalSum.Normalize();
  if (fitted.dot(Eigen::Vector3d(normalSum[0], normalSum[1], normalSum[2])) < 0.0) fitted = -fitted;
  plane = math::Planef(math::Vec3f(float(mean.x()), float(mean.y()), float(mean.z())),
                       math::Vec3f(float(fitted.x()), float(fitted.y()), float(fitted.z())));
}

}  // namespace

double FindPlaneInMesh(math::Planef& plane, const std::vector<float>& positions, const std::vector<float>& normals,
                       float tolerance, int minIterations, double minTime, double maxTime, double targetScore,
                       bool weighted, double minScore, std::uint32_t seed) {
  const std::size_t n = positions.size() / 3;
  if (n < 3 || !(tolerance > 0.0f)) return 0.0;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  if (seed == 0) {
    seed = std::uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
  }
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::size_t> pick(0, n - 1);
  // Point sets without three distinct points must end the redraws.
  constexpr int kMaxRedraws = 1000;

  double best = -1.0;
  math::Planef bestPlane;
  int iterations = 0;
  auto elapsed = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  for (;;) {
    const double t = elapsed();
    if (!((best <= targetScore && t <= maxTime) || t <= minTime || iterations < minIterations)) break;
    ++iterations;
    const math::Vec3f p0 = At(positions, pick(rng));
    math::Vec3f p[2];
    bool found = true;
    for (auto& q : p) {
      int redraws = 0;
      do {
        q = At(positions, pick(rng));
      } while ((q - p0).LengthSquared() < 1e-6f && ++redraws < kMaxRedraws);
      found = found && redraws < kMaxRedraws;
    }
    if (!found && best < 0.0 && iterations >= minIterations) break;
    const math::Vec3f normal = ((p[0] - p0) ^ (p[1] - p0)).GetNormalized();
    if (!found || normal.LengthSquared() == 0.0f) continue;
    const double score = Score(positions, n, p0, normal, tolerance, weighted);
    if (score > best) {
      best = score;
      bestPlane = math::Planef(p0, normal);
    }
  }
  if (best < 0.0) return 0.0;
  plane = bestPlane;
  if (best >= minScore) Refit(plane, positions, normals, n, tolerance);
  return best;
}

void RemovePlane(std::vector<float>& positions, std::vector<float>& normals, std::vector<std::uint32_t>& indices,
                 std::vector<v3d::Color4ub>* colors, std::vector<float>* qualities, const math::Planef& plane,
                 float distanceScale, bool keepOnlyPositiveSide) {
  const std::size_t n = positions.size() / 3;
  if (normals.size() != 3 * n || (colors && colors->size() != n) || (qualities && qualities->size() != n)) {
    throw std::invalid_argument("RemovePlane - vertex attributes must have one entry per vertex");
  }
  const math::Vec3f point = plane.Point3(), planeNormal = plane.Normal3().GetNormalized();
  std::vector<std::int64_t> newIndex(n, -1);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const float d = Dot(At(positions, i) - point, planeNormal);
    const float facing = Dot(planeNormal, At(normals, i)) / (std::abs(d) / distanceScale + 1.0f);
    if ((keepOnlyPositiveSide && !(d > 0.0f)) || !(facing < 0.5f)) continue;
    for (int k = 0; k < 3; ++k) {
      positions[3 * kept + k] = positions[3 * i + k];
      normals[3 * kept + k] = normals[3 * i + k];
    }
    if (colors) (*colors)[kept] = (*colors)[i];
    if (qualities) (*qualities)[kept] = (*qualities)[i];
    newIndex[i] = std::int64_t(kept++);
  }
  positions.resize(3 * kept);
  normals.resize(3 * kept);
  if (colors) colors->resize(kept);
  if (qualities) qualities->resize(kept);
  std::size_t keptTriangles = 0;
  for (std::size_t t = 0; t + 3 <= indices.size(); t += 3) {
    std::int64_t m[3];
    bool keep = true;
    for (int k = 0; k < 3 && keep; ++k) {
      m[k] = indices[t + k] < n ? newIndex[indices[t + k]] : -1;
      keep = m[k] >= 0;
    }
    if (!keep) continue;
    for (int k = 0; k < 3; ++k) indices[3 * keptTriangles + k] = std::uint32_t(m[k]);
    ++keptTriangles;
  }
  indices.resize(3 * keptTriangles);
}

}  // namespace surf
