#include "surf/measure/ShapeFeatures.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <unordered_map>

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;

bool IsFinite(const Vec3f& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

enum class Kind { kPlane, kSphere };

// A candidate shape: a plane (point, unit normal) or a sphere (centre in
// point, radius).
struct Shape {
  Kind kind = Kind::kPlane;
  Vec3d point;
  Vec3d normal;
  double radius = 0.0;

  // The distance of p to the shape and whether normal n agrees with the
  // shape's normal there (either orientation: the points' normals decide
  // the plane's orientation, and a sphere seen from inside is a concave
  // surface).
  bool Accepts(const Vec3d& p, const Vec3d& n, double tolerance, double cosAngle) const {
    if (kind == Kind::kPlane) {
      return std::abs(math::Dot(p - point, normal)) <= tolerance &&
             std::abs(math::Dot(n, normal)) >= cosAngle;
    }
    const Vec3d d = p - point;
    const double length = d.Length();
    if (!(std::abs(length - radius) <= tolerance) || length <= 0.0) return false;
    return std::abs(math::Dot(n, d)) >= cosAngle * length;
  }
};

// The points the search works on, with unit normals, and a grid of cells
// from which nearby points are drawn.
class PointSet {
 public:
  PointSet(std::span<const Vec3f> positions, std::span<const Vec3f> normals)
      : m_positions(positions) {
    m_normals.resize(positions.size());
    Vec3d low(1e300, 1e300, 1e300), high(-1e300, -1e300, -1e300);
    for (std::uint32_t i = 0; i < positions.size(); ++i) {
      if (i >= normals.size() || !IsFinite(positions[i]) || !IsFinite(normals[i])) continue;
      const Vec3d n(normals[i]);
      const double length = n.Length();
      if (!(length > 1e-6)) continue;
      m_normals[i] = n / length;
      m_valid.push_back(i);
      for (int k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], double(positions[i][k]));
        high[k] = std::max(high[k], double(positions[i][k]));
      }
    }
    m_diagonal = m_valid.empty() ? 0.0 : (high - low).Length();
    m_cellSize = std::max(m_diagonal / 12.0, 1e-6);
    for (const std::uint32_t i : m_valid) m_cells[Key(m_positions[i])].push_back(i);
  }

  const std::vector<std::uint32_t>& Valid() const { return m_valid; }
  double Diagonal() const { return m_diagonal; }
  Vec3d Position(std::uint32_t i) const { return Vec3d(m_positions[i]); }
  const Vec3d& Normal(std::uint32_t i) const { return m_normals[i]; }
  std::span<const Vec3f> Positions() const { return m_positions; }
  // The points of i's cell.
  const std::vector<std::uint32_t>& Cell(std::uint32_t i) const {
    return m_cells.at(Key(m_positions[i]));
  }

 private:
  std::int64_t Key(const Vec3f& p) const {
    const auto c = [&](int k) {
      return std::int64_t(std::floor(double(p[k]) / m_cellSize)) & 0x1FFFFF;
    };
    return (c(0) << 42) | (c(1) << 21) | c(2);
  }

  std::span<const Vec3f> m_positions;
  std::vector<Vec3d> m_normals;
  std::vector<std::uint32_t> m_valid;
  double m_diagonal = 0.0;
  double m_cellSize = 1.0;
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> m_cells;
};

bool PlaneThrough(const Vec3d& a, const Vec3d& b, const Vec3d& c, Shape& shape) {
  Vec3d n = (b - a) ^ (c - a);
  const double length = n.Length();
  const double scale = std::max((b - a).LengthSquared(), (c - a).LengthSquared());
  if (!(length > 1e-3 * scale)) return false;  // nearly collinear
  shape = Shape{Kind::kPlane, a, n / length, 0.0};
  return true;
}

bool SphereThrough(const Vec3d* p, Shape& shape) {
  Eigen::Matrix3d a;
  Eigen::Vector3d b;
  for (int i = 0; i < 3; ++i) {
    const Vec3d d = p[i + 1] - p[0];
    a.row(i) << 2 * d[0], 2 * d[1], 2 * d[2];
    b[i] = p[i + 1].LengthSquared() - p[0].LengthSquared();
  }
  const double scale =
      (p[1] - p[0]).LengthSquared() + (p[2] - p[0]).LengthSquared() + (p[3] - p[0]).LengthSquared();
  if (!(std::abs(a.determinant()) > 1e-4 * scale * std::sqrt(scale)))
    return false;  // nearly coplanar
  const Eigen::Vector3d c = a.partialPivLu().solve(b);
  shape.kind = Kind::kSphere;
  shape.point = Vec3d(c[0], c[1], c[2]);
  shape.radius = (p[0] - shape.point).Length();
  return std::isfinite(shape.radius);
}

std::vector<std::uint32_t> Consensus(const PointSet& set,
                                     const std::vector<std::uint32_t>& candidates,
                                     const Shape& shape, double tolerance, double cosAngle) {
  std::vector<std::uint32_t> inliers;
  for (const std::uint32_t i : candidates)
    if (shape.Accepts(set.Position(i), set.Normal(i), tolerance, cosAngle)) inliers.push_back(i);
  return inliers;
}

bool Refit(const PointSet& set, const std::vector<std::uint32_t>& inliers, Shape& shape) {
  if (shape.kind == Kind::kPlane) {
    Vec3d point, normal;
    if (!FitPlane(set.Positions(), inliers, point, normal)) return false;
    shape.point = point;
    shape.normal = normal;
    return true;
  }
  Vec3d centre;
  double radius = 0.0;
  if (!FitSphere(set.Positions(), inliers, centre, radius)) return false;
  shape.point = centre;
  shape.radius = radius;
  return true;
}

double Rms(const PointSet& set, const std::vector<std::uint32_t>& points, const Shape& shape) {
  double sum = 0.0;
  for (const std::uint32_t i : points) {
    const Vec3d p = set.Position(i);
    const double d = shape.kind == Kind::kPlane ? math::Dot(p - shape.point, shape.normal)
                                                : (p - shape.point).Length() - shape.radius;
    sum += d * d;
  }
  return points.empty() ? 0.0 : std::sqrt(sum / double(points.size()));
}

}  // namespace

bool FitPlane(std::span<const Vec3f> positions, std::span<const std::uint32_t> indices,
              Vec3d& point, Vec3d& normal) {
  if (indices.size() < 3) return false;
  Vec3d mean(0, 0, 0);
  for (const std::uint32_t i : indices) mean += Vec3d(positions[i]);
  mean /= double(indices.size());
  Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
  for (const std::uint32_t i : indices) {
    const Vec3d d = Vec3d(positions[i]) - mean;
    const Eigen::Vector3d e(d[0], d[1], d[2]);
    covariance += e * e.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(covariance);
  if (solver.info() != Eigen::Success) return false;
  const Eigen::Vector3d values = solver.eigenvalues();                   // ascending
  if (!(values[1] > 1e-12 * std::max(values[2], 1e-300))) return false;  // the points lie on a line
  const Eigen::Vector3d n = solver.eigenvectors().col(0);
  point = mean;
  normal = Vec3d(n[0], n[1], n[2]);
  return std::isfinite(normal[0]) && std::isfinite(normal[1]) && std::isfinite(normal[2]);
}

bool FitSphere(std::span<const Vec3f> positions, std::span<const std::uint32_t> indices,
               Vec3d& centre, double& radius) {
  if (indices.size() < 4) return false;
  // Algebraic fit about the centroid: |p|² + 2 p·(−c) + (|c|² − r²) = 0 is
  // linear in c and |c|² − r².
  Vec3d mean(0, 0, 0);
  for (const std::uint32_t i : indices) mean += Vec3d(positions[i]);
  mean /= double(indices.size());
  Eigen::Matrix4d ata = Eigen::Matrix4d::Zero();
  Eigen::Vector4d atb = Eigen::Vector4d::Zero();
  for (const std::uint32_t i : indices) {
    const Vec3d d = Vec3d(positions[i]) - mean;
    const Eigen::Vector4d row(2 * d[0], 2 * d[1], 2 * d[2], 1.0);
    ata += row * row.transpose();
    atb += row * d.LengthSquared();
  }
  const Eigen::FullPivLU<Eigen::Matrix4d> lu(ata);
  if (lu.rank() < 4) return false;
  const Eigen::Vector4d x = lu.solve(atb);
  Eigen::Vector3d c(x[0], x[1], x[2]);
  double r2 = x[3] + c.squaredNorm();
  if (!(r2 > 0)) return false;
  double r = std::sqrt(r2);
  // Geometric refinement (Gauss–Newton on |p − c| − r).
  for (int iteration = 0; iteration < 20; ++iteration) {
    Eigen::Matrix4d jtj = Eigen::Matrix4d::Zero();
    Eigen::Vector4d jtr = Eigen::Vector4d::Zero();
    for (const std::uint32_t i : indices) {
      const Vec3d d3 = Vec3d(positions[i]) - mean;
      const Eigen::Vector3d d = Eigen::Vector3d(d3[0], d3[1], d3[2]) - c;
      const double length = d.norm();
      if (!(length > 0)) continue;
      const Eigen::Vector3d u = d / length;
      const Eigen::Vector4d j(-u[0], -u[1], -u[2], -1.0);
      const double residual = length - r;
      jtj += j * j.transpose();
      jtr += j * residual;
    }
    const Eigen::Vector4d step = jtj.ldlt().solve(-jtr);
    if (!step.allFinite()) return false;
    c += step.head<3>();
    r += step[3];
    if (step.norm() < 1e-12 * std::max(1.0, r)) break;
  }
  if (!(r > 0) || !c.allFinite()) return false;
  centre = Vec3d(c[0], c[1], c[2]) + mean;
  radius = r;
  return true;
}

ShapeFeatures DetectShapeFeatures(std::span<const Vec3f> positions, std::span<const Vec3f> normals,
                                  const FeatureOptions& options) {
  ShapeFeatures result;
  const PointSet set(positions, normals);
  if (set.Valid().size() < std::max<std::size_t>(options.minPoints, 4)) return result;
  const double tolerance = options.distanceTolerance;
  const double cosAngle = std::cos(options.maxNormalAngleDegrees * std::numbers::pi / 180.0);
  const double maxRadius = options.maxRadius > 0 ? options.maxRadius : set.Diagonal() / 2;
  const std::size_t minSize = std::max<std::size_t>(
      options.minPoints, std::size_t(std::ceil(options.minShare * double(set.Valid().size()))));
  constexpr int kCandidates = 400;           // of each kind per feature
  constexpr std::size_t kSampleSize = 3000;  // points a candidate is scored on

  std::mt19937_64 random(options.seed);
  std::vector<std::uint8_t> taken(positions.size(), 0);
  std::vector<std::uint32_t> alive = set.Valid();
  const auto draw = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };

  while (alive.size() >= minSize &&
         result.planes.size() + result.spheres.size() < options.maxFeatures) {
    std::vector<std::uint32_t> sample;
    if (alive.size() <= kSampleSize) {
      sample = alive;
    } else {
      for (std::size_t k = 0; k < kSampleSize; ++k) sample.push_back(alive[draw(alive.size())]);
    }
    // Candidates from points of one cell, scored on the sample.
    struct Scored {
      Shape shape;
      std::size_t score = 0;
    };
    std::vector<Scored> best;
    for (int c = 0; c < 2 * kCandidates; ++c) {
      const std::uint32_t first = alive[draw(alive.size())];
      // The others from the same cell, or from all points left when the
      // cell holds too few.
      const auto& cell = set.Cell(first);
      const std::vector<std::uint32_t>& pool = cell.size() >= 8 ? cell : alive;
      Vec3d p[4] = {set.Position(first)};
      int have = 1;
      for (int attempt = 0; attempt < 16 && have < 4; ++attempt) {
        const std::uint32_t other = pool[draw(pool.size())];
        if (!taken[other] && other != first) p[have++] = set.Position(other);
      }
      Shape shape;
      const bool plane = c % 2 == 0;
      if (plane ? (have < 3 || !PlaneThrough(p[0], p[1], p[2], shape))
                : (have < 4 || !SphereThrough(p, shape)))
        continue;
      if (!plane && (shape.radius < options.minRadius || shape.radius > maxRadius)) continue;
      Scored scored{shape, 0};
      for (const std::uint32_t i : sample)
        scored.score += shape.Accepts(set.Position(i), set.Normal(i), 2 * tolerance, cosAngle);
      best.push_back(scored);
      std::sort(best.begin(), best.end(), [](const Scored& a, const Scored& b) {
        return a.score != b.score ? a.score > b.score : a.shape.kind < b.shape.kind;
      });
      if (best.size() > 3) best.pop_back();
    }

    // The best candidate whose refined consensus is large enough.
    bool added = false;
    for (Scored& candidate : best) {
      Shape shape = candidate.shape;
      std::vector<std::uint32_t> inliers = Consensus(set, alive, shape, 3 * tolerance, cosAngle);
      bool ok = true;
      for (int pass = 0; pass < 3 && ok; ++pass) {
        ok = Refit(set, inliers, shape);
        if (ok) inliers = Consensus(set, alive, shape, tolerance, cosAngle);
      }
      if (!ok || inliers.size() < minSize) continue;
      if (shape.kind == Kind::kSphere &&
          (shape.radius < options.minRadius || shape.radius > maxRadius))
        continue;
      if (shape.kind == Kind::kPlane) {
        Vec3d sum(0, 0, 0);
        for (const std::uint32_t i : inliers) sum += set.Normal(i);
        if (math::Dot(sum, shape.normal) < 0) shape.normal = shape.normal * -1.0;
        Vec3d centroid(0, 0, 0);
        for (const std::uint32_t i : inliers) centroid += set.Position(i);
        centroid /= double(inliers.size());
        result.planes.push_back({centroid, shape.normal, inliers, Rms(set, inliers, shape)});
      } else {
        result.spheres.push_back({shape.point, shape.radius, inliers, Rms(set, inliers, shape)});
      }
      for (const std::uint32_t i : inliers) taken[i] = 1;
      std::erase_if(alive, [&](std::uint32_t i) { return taken[i] != 0; });
      added = true;
      break;
    }
    if (!added) break;
    if (options.progress &&
        options.progress(1.0 - double(alive.size()) / double(set.Valid().size())))
      break;
  }
  return result;
}

}  // namespace surf
