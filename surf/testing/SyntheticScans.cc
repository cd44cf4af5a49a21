#include "surf/testing/SyntheticScans.h"

#include <cmath>
#include <numbers>
#include <random>

#include "surf/align/Ransam3d.h"
#include "v3d/GeoTools.h"

namespace surf::testing {

using math::Frame4d;
using math::Vec3d;

namespace {
constexpr double kPi = std::numbers::pi;
}

Vec3d AnalyticSurface::Normal(int patch, double u, double v) const {
  const double h = 1e-6;
  const Vec3d du = Point(patch, u + h, v) - Point(patch, u - h, v);
  const Vec3d dv = Point(patch, u, v + h) - Point(patch, u, v - h);
  Vec3d n = (du ^ dv).GetNormalized();
  if (math::Dot(n, OutwardHint(Point(patch, u, v))) < 0.0) n = -n;
  return n;
}

LumpyBlob::LumpyBlob(double radius, int bumps, std::uint64_t seed) : m_radius(radius) {
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (int k = 0; k < bumps; ++k) {
    Vec3d c(gauss(rng), gauss(rng), gauss(rng));
    c.Normalize();
    m_centres.push_back(c);
    const double sign = k % 3 == 2 ? -1.0 : 1.0;
    m_amplitudes.push_back(sign * (0.06 + 0.12 * uniform(rng)));
    m_widths.push_back(0.03 + 0.09 * uniform(rng));
  }
}

Vec3d LumpyBlob::PointInDirection(const Vec3d& direction) const {
  const Vec3d d = direction.GetNormalized();
  double scale = 1.0;
  for (std::size_t k = 0; k < m_centres.size(); ++k) {
    scale += m_amplitudes[k] * std::exp(-(1.0 - math::Dot(d, m_centres[k])) / m_widths[k]);
  }
  return d * (m_radius * scale);
}

Vec3d LumpyBlob::Point(int patch, double u, double v) const {
  // Cube face `patch`: axis patch / 2, side ± by parity, at equal angles.
  const double s = std::tan(kPi / 4.0 * (2.0 * u - 1.0)), t = std::tan(kPi / 4.0 * (2.0 * v - 1.0));
  const int axis = patch / 2;
  const double side = patch % 2 ? -1.0 : 1.0;
  Vec3d d;
  d[axis] = side;
  d[(axis + 1) % 3] = s;
  d[(axis + 2) % 3] = t;
  return PointInDirection(d);
}

RibbedVase::RibbedVase(double height, double radius, double ribDepth, double ribPeriod)
    : m_height(height), m_radius(radius), m_ribDepth(ribDepth), m_ribPeriod(ribPeriod) {}

void RibbedVase::GridSize(int around, int& nu, int& nv) const {
  nu = std::max(3, around);
  nv = std::max(2, static_cast<int>(around * m_height / (2.0 * kPi * m_radius)) + 1);
}

Vec3d RibbedVase::Point(int, double u, double v) const {
  const double phi = 2.0 * kPi * u, z = m_height * v;
  const double r = m_radius * (0.8 + 0.4 * std::sin(kPi * v) - 0.15 * v) +
                   m_ribDepth * std::sin(2.0 * kPi * z / m_ribPeriod);
  return {r * std::cos(phi), r * std::sin(phi), z};
}

std::unique_ptr<v3d::Geo> MakeScan(const AnalyticSurface& surface, const ScanSpec& spec) {
  std::mt19937 rng(static_cast<std::mt19937::result_type>(spec.noiseSeed));
  std::normal_distribution<double> noise(0.0, 1.0);
  const Vec3d view = spec.viewDirection.GetNormalized();
  auto geo = std::make_unique<v3d::Geo>();
  v3d::Mesh* mesh = geo->AddMesh(3);
  const bool periodic = surface.IsPeriodicU();
  for (int patch = 0; patch < surface.GetNumPatches(); ++patch) {
    int nu = 0, nv = 0;
    surface.GridSize(spec.samplesAround, nu, nv);
    const int columns = periodic ? nu : nu - 1;  // cells in u
    std::vector<Vec3d> points(std::size_t(nu) * nv), normals(points.size());
    std::vector<bool> seen(points.size(), false);
    for (int iv = 0; iv < nv; ++iv) {
      const double v = double(iv) / (nv - 1);
      for (int iu = 0; iu < nu; ++iu) {
        const double u = double(iu) / (periodic ? nu : nu - 1);
        const std::size_t k = std::size_t(iv) * nu + iu;
        normals[k] = spec.objectPose.MultV(surface.Normal(patch, u, v));
        points[k] = spec.objectPose.MultP(surface.Point(patch, u, v));
        seen[k] = math::Dot(normals[k], view) > spec.minCosine;
        if (spec.noiseSigma > 0.0) points[k] += normals[k] * (spec.noiseSigma * noise(rng));
      }
    }
    std::vector<std::int64_t> newIndex(points.size(), -1);
    const auto use = [&](std::size_t k) {
      if (newIndex[k] < 0) newIndex[k] = mesh->AddVertex(math::Vec3f(points[k]));
      return static_cast<std::uint32_t>(newIndex[k]);
    };
    // Triangles wound counter-clockwise seen from outside.
    const auto triangle = [&](std::size_t a, std::size_t b, std::size_t c) {
      const Vec3d n = (points[b] - points[a]) ^ (points[c] - points[a]);
      if (math::Dot(n, normals[a]) >= 0.0) {
        mesh->AddPrim(use(a), use(b), use(c));
      } else {
        mesh->AddPrim(use(a), use(c), use(b));
      }
    };
    for (int iv = 0; iv + 1 < nv; ++iv) {
      for (int iu = 0; iu < columns; ++iu) {
        const auto index = [&](int u, int v) { return std::size_t(v) * nu + (u % nu); };
        const std::size_t a = index(iu, iv), b = index(iu + 1, iv), c = index(iu + 1, iv + 1), d = index(iu, iv + 1);
        if (!seen[a] || !seen[b] || !seen[c] || !seen[d]) continue;
        triangle(a, b, c);
        triangle(a, c, d);
      }
    }
  }
  v3d::CalcVertexNormals(*geo);
  return geo;
}

TurntableScans MakeTurntableScans(const AnalyticSurface& surface, ScanSpec spec, int views, double stepRadians,
                                  const Vec3d& axis, const Vec3d& point) {
  TurntableScans result;
  const std::uint64_t seed = spec.noiseSeed;
  for (int k = 0; k < views; ++k) {
    spec.objectPose = TurntablePose(axis, point, k * stepRadians);
    spec.noiseSeed = seed + static_cast<std::uint64_t>(k);
    result.truth.push_back(spec.objectPose);
    result.scans.push_back(MakeScan(surface, spec));
  }
  return result;
}

Frame4d TurntablePose(const Vec3d& axis, const Vec3d& point, double angle) {
  Frame4d r = math::FRotAxis(axis, angle);
  r.SetTrans(point - r.MultV(point));
  return r;
}

double RmsDisplacement(const v3d::Geo& geo, const Frame4d& a, const Frame4d& b) {
  double sum = 0.0;
  std::size_t count = 0;
  for (const auto& mesh : geo) {
    for (const auto& p : mesh->GetVertexCoords()) {
      const Vec3d q(p);
      sum += (a.MultP(q) - b.MultP(q)).LengthSquared();
      ++count;
    }
  }
  return count ? std::sqrt(sum / double(count)) : 0.0;
}

double AngleDegrees(const Frame4d& a, const Frame4d& b) {
  return RotationAngle(a.GetInverse() * b) * 180.0 / kPi;
}

}  // namespace surf::testing
