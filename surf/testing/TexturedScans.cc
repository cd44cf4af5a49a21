#include "surf/testing/TexturedScans.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace surf::testing {

using math::Vec3d;
using math::Vec3f;

void AppendIcosphere(const Vec3d& centre, double radius, int levels, std::vector<Vec3f>& positions,
                     std::vector<std::uint32_t>& indices) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  std::vector<Vec3d> dirs = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                             {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  std::vector<std::uint32_t> tris = {0, 11, 5, 0, 5,  1,  0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                                     4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3,  9,  4, 3,  4,  2, 3, 2, 6, 3,
                                     6, 8, 3,  8, 9,  4,  9, 5, 2, 4, 11, 6,  2, 10, 8,  6, 7, 9, 8, 1};
  for (Vec3d& d : dirs) d.Normalize();
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> mid;
    const auto midpoint = [&](std::uint32_t a, std::uint32_t b) {
      const auto key = std::minmax(a, b);
      auto it = mid.find(key);
      if (it != mid.end()) return it->second;
      dirs.push_back((dirs[a] + dirs[b]).GetNormalized());
      const auto index = static_cast<std::uint32_t>(dirs.size() - 1);
      mid.emplace(key, index);
      return index;
    };
    std::vector<std::uint32_t> next;
    for (std::size_t i = 0; i < tris.size(); i += 3) {
      const std::uint32_t a = tris[i], b = tris[i + 1], c = tris[i + 2];
      const std::uint32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
      next.insert(next.end(), {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca});
    }
    tris = std::move(next);
  }
  const auto base = static_cast<std::uint32_t>(positions.size());
  for (const Vec3d& d : dirs) positions.push_back(Vec3f(centre + d * radius));
  for (std::uint32_t i : tris) indices.push_back(base + i);
}

namespace {

// world_T_scan: z along the view, the scanner 3 radii before the centre.
math::Frame<double> ScanFrame(const SphereScanSpec& spec) {
  const Vec3d z = spec.viewDirection.GetNormalized();
  const Vec3d helper = std::fabs(z[0]) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 1, 0};
  Vec3d x = (helper ^ z).GetNormalized();
  Vec3d y = z ^ x;
  const double c = std::cos(spec.twist), s = std::sin(spec.twist);
  const Vec3d xt = x * c + y * s, yt = y * c - x * s;
  const Vec3d p = spec.centre - z * (3.0 * spec.radius);
  math::Frame<double> f;
  f.SetN({xt[0], xt[1], xt[2], 0.0});
  f.SetO({yt[0], yt[1], yt[2], 0.0});
  f.SetA({z[0], z[1], z[2], 0.0});
  f.SetP({p[0], p[1], p[2], 1.0});
  return f;
}

}  // namespace

SyntheticTexturedScan ScanSphere(const SphereScanSpec& spec, const SurfaceColour& colour) {
  SyntheticTexturedScan scan;
  scan.worldTscan = ScanFrame(spec);
  const Vec3d c = scan.worldTscan.GetInverse().MultP(spec.centre);  // centre, scan coordinates
  const double r = spec.radius;
  const double keep = r * std::sin(spec.maxAngle);
  // The visible point over (x, y); rim point outside the disc.
  const auto surface = [&](double x, double y) {
    double dx = x - c[0], dy = y - c[1];
    const double rho = std::hypot(dx, dy);
    if (rho > r) {
      dx *= r / rho;
      dy *= r / rho;
    }
    return Vec3d{c[0] + dx, c[1] + dy, c[2] - std::sqrt(std::max(0.0, r * r - dx * dx - dy * dy))};
  };
  const int n = spec.grid;
  std::vector<std::int32_t> index(static_cast<std::size_t>(n) * n, -1);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const double u = static_cast<double>(i) / (n - 1), v = static_cast<double>(j) / (n - 1);
      const double x = c[0] - r + 2.0 * r * u, y = c[1] - r + 2.0 * r * v;
      if (std::hypot(x - c[0], y - c[1]) > keep) continue;
      index[static_cast<std::size_t>(j) * n + i] = static_cast<std::int32_t>(scan.positions.size());
      scan.positions.push_back(Vec3f(surface(x, y)));
      scan.texCoords.push_back({static_cast<float>(u), static_cast<float>(v)});
    }
  }
  // With x right and y down seen along +z, (i,j) → (i,j+1) → (i+1,j) turns
  // towards the viewer: outward on the visible side.
  for (int j = 0; j + 1 < n; ++j) {
    for (int i = 0; i + 1 < n; ++i) {
      const auto at = [&](int di, int dj) { return index[static_cast<std::size_t>(j + dj) * n + i + di]; };
      const std::int32_t a = at(0, 0), b = at(1, 0), d = at(0, 1), e = at(1, 1);
      if (a < 0 || b < 0 || d < 0 || e < 0) continue;
      for (std::int32_t k : {a, d, b, b, d, e}) scan.indices.push_back(static_cast<std::uint32_t>(k));
    }
  }
  scan.texture = img::RGBImage(spec.textureWidth, spec.textureHeight);
  for (std::uint32_t py = 0; py < spec.textureHeight; ++py) {
    for (std::uint32_t px = 0; px < spec.textureWidth; ++px) {
      const double x = c[0] - r + 2.0 * r * (px + 0.5) / spec.textureWidth;
      const double y = c[1] - r + 2.0 * r * (py + 0.5) / spec.textureHeight;
      const Vec3d bgr = colour(scan.worldTscan.MultP(surface(x, y)));
      const auto q = [](double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); };
      scan.texture(px, py) = {q(bgr[0]), q(bgr[1]), q(bgr[2])};
    }
  }
  return scan;
}

}  // namespace surf::testing
