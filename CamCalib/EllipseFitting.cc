#include "CamCalib/EllipseFitting.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace CamCalib {
namespace {

constexpr const char* kProcess = "__CamCalib::EllipseFitting::Process__";

// Gradient at (x, y), bilinear; false outside the image's inner area.
bool SampleGradient(const img::FloatImage& gx, const img::FloatImage& gy, double x, double y,
                    math::Vec2d& g) {
  if (!(x >= 0.0 && y >= 0.0 && x < double(gx.width) - 1.0 && y < double(gx.height) - 1.0))
    return false;
  const auto x0 = std::uint32_t(x), y0 = std::uint32_t(y);
  const double fx = x - x0, fy = y - y0;
  auto lerp = [&](const img::FloatImage& im) {
    const float* r0 = im.Row(y0);
    const float* r1 = im.Row(y0 + 1);
    const double top = r0[x0] + fx * (r0[x0 + 1] - r0[x0]);
    const double bottom = r1[x0] + fx * (r1[x0 + 1] - r1[x0]);
    return top + fy * (bottom - top);
  };
  g = {lerp(gx), lerp(gy)};
  return true;
}

double Perimeter(const img::Ellipse& e) {
  const double a = e.rx, b = e.ry;
  return std::numbers::pi * (3.0 * (a + b) - std::sqrt((3.0 * a + b) * (a + 3.0 * b)));
}

double Size(const img::Ellipse& e) { return std::sqrt(e.rx * e.ry); }

// The conic value and its gradient at p (the conic of ToConic: u² + v² − 1).
double ConicValue(const math::Mat33d& q, double x, double y, math::Vec2d& gradient) {
  const double gx = q(0, 0) * x + q(0, 1) * y + q(0, 2);
  const double gy = q(1, 0) * x + q(1, 1) * y + q(1, 2);
  gradient = {2.0 * gx, 2.0 * gy};
  return gx * x + gy * y + q(2, 0) * x + q(2, 1) * y + q(2, 2);
}

}  // namespace

bool EllipseFitting::FitDirect(const std::vector<math::Vec2d>& points, img::Ellipse& ellipse) {
  const std::size_t n = points.size();
  if (n < 5) return false;
  // Normalised coordinates: centroid at the origin, unit mean spread.
  math::Vec2d mean;
  for (const auto& p : points) mean += p;
  mean /= double(n);
  double spread = 0.0;
  for (const auto& p : points) spread += (p - mean).LengthSquared();
  spread = std::sqrt(spread / double(n));
  if (!(spread > 0.0)) return false;
  const double s = 1.0 / spread;
  Eigen::Matrix3d s1 = Eigen::Matrix3d::Zero(), s2 = Eigen::Matrix3d::Zero(),
                  s3 = Eigen::Matrix3d::Zero();
  for (const auto& p : points) {
    const double x = (p[0] - mean[0]) * s, y = (p[1] - mean[1]) * s;
    const Eigen::Vector3d d1(x * x, x * y, y * y), d2(x, y, 1.0);
    s1 += d1 * d1.transpose();
    s2 += d1 * d2.transpose();
    s3 += d2 * d2.transpose();
  }
  const Eigen::FullPivLU<Eigen::Matrix3d> lu3(s3);
  if (!lu3.isInvertible()) return false;
  const Eigen::Matrix3d t = -lu3.inverse() * s2.transpose();
  const Eigen::Matrix3d m = s1 + s2 * t;
  Eigen::Matrix3d reduced;
  reduced.row(0) = m.row(2) / 2.0;
  reduced.row(1) = -m.row(1);
  reduced.row(2) = m.row(0) / 2.0;
  const Eigen::EigenSolver<Eigen::Matrix3d> eigen(reduced);
  if (eigen.info() != Eigen::Success) return false;
  const Eigen::Matrix3cd vectors = eigen.eigenvectors();
  int chosen = -1;
  double best = 0.0;
  for (int k = 0; k < 3; ++k) {
    const Eigen::Vector3d v = vectors.col(k).real();
    const double constraint = 4.0 * v(0) * v(2) - v(1) * v(1);
    if (constraint > best) best = constraint, chosen = k;
  }
  if (chosen < 0) return false;
  const Eigen::Vector3d a1 = vectors.col(chosen).real();
  const Eigen::Vector3d a2 = t * a1;
  math::Mat33d c;  // normalised coordinates
  c(0, 0) = a1(0);
  c(0, 1) = c(1, 0) = a1(1) / 2.0;
  c(1, 1) = a1(2);
  c(0, 2) = c(2, 0) = a2(0) / 2.0;
  c(1, 2) = c(2, 1) = a2(1) / 2.0;
  c(2, 2) = a2(2);
  math::Mat33d normalise;  // image → normalised
  normalise(0, 0) = normalise(1, 1) = s;
  normalise(0, 2) = -s * mean[0];
  normalise(1, 2) = -s * mean[1];
  normalise(2, 2) = 1.0;
  return img::FromConic(img::PullBackConic(c, normalise), ellipse);
}

bool EllipseFitting::Plausible(const img::Ellipse& e) const {
  const double minor = e.MinorAxis(), major = e.MajorAxis();
  if (!(minor >= m_p.minSemiAxis) || !(major <= m_p.maxSemiAxis) ||
      !(major <= m_p.maxAxisRatio * minor))
    return false;
  return e.cx - major >= m_p.areaMinX && e.cy - major >= m_p.areaMinY &&
         e.cx + major <= m_p.areaMaxX && e.cy + major <= m_p.areaMaxY;
}

double EllipseFitting::Score(const img::Ellipse& e, const img::FloatImage& gx,
                             const img::FloatImage& gy) const {
  const int n = std::clamp(int(Perimeter(e)), 24, 720);
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    const double t = 2.0 * std::numbers::pi * k / n;
    const math::Vec2d p = e.PointAt(t);
    math::Vec2d g;
    if (!SampleGradient(gx, gy, p[0], p[1], g)) continue;
    const double length = g.Length();
    if (!(length >= m_p.edgeThreshold) || length == 0.0) continue;
    sum += math::Dot(g, e.NormalAt(t)) / length;
  }
  return sum / n;
}

bool EllipseFitting::Refine(img::Ellipse& e, double polarity, const img::FloatImage& gx,
                            const img::FloatImage& gy) const {
  const img::Ellipse start = e;
  for (int iteration = 0; iteration < 2; ++iteration) {
    const math::Mat33d q = img::ToConic(e);
    const double band = std::clamp(0.4 * e.MinorAxis(), 1.0, 2.5);
    const double reach = e.MajorAxis() + band + 1.0;
    const int x0 = std::max(1, int(std::floor(e.cx - reach))),
              x1 = std::min(int(gx.width) - 2, int(std::ceil(e.cx + reach)));
    const int y0 = std::max(1, int(std::floor(e.cy - reach))),
              y1 = std::min(int(gx.height) - 2, int(std::ceil(e.cy + reach)));
    if (x0 > x1 || y0 > y1) return false;
    const double scale = 1.0 / e.MajorAxis();
    // Normal equations of Σ w·(lᵀ·C*·l)² with C*(2, 2) = 1 in coordinates
    // centred on the current ellipse and scaled by its major semi-axis.
    Eigen::Matrix<double, 5, 5> ata = Eigen::Matrix<double, 5, 5>::Zero();
    Eigen::Matrix<double, 5, 1> atb = Eigen::Matrix<double, 5, 1>::Zero();
    int used = 0;
    for (int y = y0; y <= y1; ++y) {
      const float* rgx = gx.Row(std::uint32_t(y));
      const float* rgy = gy.Row(std::uint32_t(y));
      for (int x = x0; x <= x1; ++x) {
        const double gxv = rgx[x], gyv = rgy[x];
        const double g2 = gxv * gxv + gyv * gyv;
        if (!(g2 >= m_p.edgeThreshold * m_p.edgeThreshold) || g2 == 0.0) continue;
        math::Vec2d dq;
        const double value = ConicValue(q, x, y, dq);
        const double dqLength = dq.Length();
        if (!(dqLength > 0.0) || std::abs(value) > band * dqLength) continue;
        // The gradient must point across this ellipse with its polarity.
        const double g = std::sqrt(g2);
        if (polarity * (gxv * dq[0] + gyv * dq[1]) < 0.7 * g * dqLength) continue;
        const double a = gxv / g, b = gyv / g;
        const double px = (x - e.cx) * scale, py = (y - e.cy) * scale;
        const double c = -(a * px + b * py);
        const Eigen::Matrix<double, 5, 1> row(a * a, a * b, b * b, a * c, b * c);
        ata += g2 * row * row.transpose();
        atb += -g2 * c * c * row;
        ++used;
      }
    }
    if (used < 8) return false;
    const Eigen::LDLT<Eigen::Matrix<double, 5, 5>> ldlt(ata);
    if (ldlt.info() != Eigen::Success) return false;
    const Eigen::Matrix<double, 5, 1> x = ldlt.solve(atb);
    if (!x.allFinite()) return false;
    math::Mat33d dual;
    dual(0, 0) = x(0);
    dual(0, 1) = dual(1, 0) = x(1) / 2.0;
    dual(1, 1) = x(2);
    dual(0, 2) = dual(2, 0) = x(3) / 2.0;
    dual(1, 2) = dual(2, 1) = x(4) / 2.0;
    dual(2, 2) = 1.0;
    math::Mat33d conic;
    if (!math::Invert(dual, conic)) return false;
    math::Mat33d toNormalised;
    toNormalised(0, 0) = toNormalised(1, 1) = scale;
    toNormalised(0, 2) = -scale * e.cx;
    toNormalised(1, 2) = -scale * e.cy;
    toNormalised(2, 2) = 1.0;
    img::Ellipse refined;
    if (!img::FromConic(img::PullBackConic(conic, toNormalised), refined)) return false;
    // A refinement that jumps away has locked onto another edge.
    if ((refined.Centre() - start.Centre()).Length() > 0.5 * start.MinorAxis() + 1.0 ||
        std::abs(std::log(Size(refined) / Size(start))) > 0.3)
      return false;
    e = refined;
  }
  return true;
}

void EllipseFitting::Clear() {
  m_ellipses.clear();
  m_polarities.clear();
  m_scores.clear();
  m_normalCount = 0;
}

bool EllipseFitting::Process(const std::vector<CurveExtractor::Curve>& curves,
                             const img::FloatImage& gradientX, const img::FloatImage& gradientY) {
  Clear();
  std::vector<Candidate> candidates;
  const std::size_t minPoints = std::size_t(std::max(5, m_p.minCurvePoints));
  for (const auto& curve : curves) {
    if (curve.size() < minPoints) continue;
    img::Ellipse e;
    if (!FitDirect(curve, e) || !Plausible(e)) continue;
    const double first = Score(e, gradientX, gradientY);
    // A curve that is no ellipse edge: not worth refining.
    if (std::abs(first) < 0.5 * m_p.minScore) continue;
    img::Ellipse refined = e;
    if (Refine(refined, first > 0.0 ? 1.0 : -1.0, gradientX, gradientY) && Plausible(refined))
      e = refined;
    candidates.push_back({e, Score(e, gradientX, gradientY)});
  }
  // Fragments of one edge refine to the same ellipse: keep the best copy.
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return std::abs(a.score) > std::abs(b.score);
  });
  std::vector<Candidate> unique;
  for (const Candidate& c : candidates) {
    const bool duplicate = std::any_of(unique.begin(), unique.end(), [&](const Candidate& u) {
      return (u.score > 0.0) == (c.score > 0.0) &&
             (u.ellipse.Centre() - c.ellipse.Centre()).Length() <
                 0.5 * std::min(u.ellipse.MinorAxis(), c.ellipse.MinorAxis()) &&
             std::abs(std::log(Size(u.ellipse) / Size(c.ellipse))) < 0.25;
    });
    if (!duplicate) unique.push_back(c);
  }
  if (m_p.dropNestedEllipses) {
    std::vector<Candidate> outer;
    for (const Candidate& c : unique) {
      const bool nested = std::any_of(unique.begin(), unique.end(), [&](const Candidate& o) {
        if (&o == &c || Size(o.ellipse) <= Size(c.ellipse)) return false;
        math::Vec2d gradient;
        return ConicValue(img::ToConic(o.ellipse), c.ellipse.cx, c.ellipse.cy, gradient) < 0.0;
      });
      if (!nested) outer.push_back(c);
    }
    unique = std::move(outer);
  }
  std::sort(unique.begin(), unique.end(),
            [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  for (const Candidate& c : unique) {
    if (c.score < m_p.minScore || m_normalCount >= m_p.maxNormalEllipses) break;
    m_ellipses.push_back(c.ellipse);
    m_polarities.push_back(true);
    m_scores.push_back(c.score);
    ++m_normalCount;
  }
  int negatives = 0;
  for (auto it = unique.rbegin(); it != unique.rend(); ++it) {
    if (it->score > -m_p.minScore || negatives >= m_p.maxNegativeEllipses) break;
    m_ellipses.push_back(it->ellipse);
    m_polarities.push_back(false);
    m_scores.push_back(it->score);
    ++negatives;
  }
  if (m_normalCount < m_p.minNormalEllipses || negatives < m_p.minNegativeEllipses) {
    Report(m_messages, kProcess, "Not enough ellipses.");
    return false;
  }
  return true;
}

}  // namespace CamCalib
