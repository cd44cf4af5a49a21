#include "v3d/SurfaceClosure.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

namespace v3d {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The bits of a coordinate with −0 taken as +0, so that equal values hash
// alike.
std::uint32_t Bits(float value) { return std::bit_cast<std::uint32_t>(value + 0.0f); }

std::uint64_t Hash(const math::Vec3f& p) {
  std::uint64_t h = Bits(p[0]) * 0x9E3779B97F4A7C15ull;
  h = (h ^ (h >> 29) ^ Bits(p[1])) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 31) ^ Bits(p[2])) * 0x94D049BB133111EBull;
  return h ^ (h >> 32);
}

// For each vertex the first vertex at an equal position (open addressing).
std::vector<std::uint32_t> Weld(const std::vector<math::Vec3f>& positions) {
  const std::size_t n = positions.size();
  std::size_t capacity = 16;
  while (capacity < 2 * n) capacity *= 2;
  const std::size_t mask = capacity - 1;
  std::vector<std::uint32_t> table(capacity, kNone), welded(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::size_t slot = Hash(positions[i]) & mask;
    while (table[slot] != kNone && !(positions[table[slot]] == positions[i]))
      slot = (slot + 1) & mask;
    if (table[slot] == kNone) table[slot] = i;
    welded[i] = table[slot];
  }
  return welded;
}

std::uint32_t Root(std::vector<std::uint32_t>& parent, std::uint32_t v) {
  while (parent[v] != v) {
    parent[v] = parent[parent[v]];
    v = parent[v];
  }
  return v;
}

}  // namespace

Closure FindClosure(const std::vector<math::Vec3f>& positions,
                    const std::vector<std::uint32_t>& triangles) {
  const std::size_t n = positions.size();
  if (n == 0 || n >= kNone || triangles.size() < 3) return Closure::kOpen;
  for (const math::Vec3f& p : positions) {
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return Closure::kOpen;
  }
  for (std::uint32_t index : triangles) {
    if (index >= n) return Closure::kOpen;
  }
  const std::vector<std::uint32_t> welded = Weld(positions);
  const std::size_t numTriangles = triangles.size() / 3;
  auto corners = [&](std::size_t t, std::uint32_t c[3]) {
    for (int k = 0; k < 3; ++k) c[k] = welded[triangles[3 * t + k]];
    return c[0] != c[1] && c[1] != c[2] && c[2] != c[0];
  };

  // The edges leaving each vertex, grouped by vertex (counting sort).
  std::vector<std::uint32_t> first(n + 1, 0);
  std::uint32_t c[3];
  for (std::size_t t = 0; t < numTriangles; ++t) {
    if (!corners(t, c)) continue;
    for (int k = 0; k < 3; ++k) ++first[c[k] + 1];
  }
  std::partial_sum(first.begin(), first.end(), first.begin());
  if (first[n] == 0) return Closure::kOpen;
  std::vector<std::uint32_t> fill(first.begin(), first.end() - 1), targets(first[n]);
  for (std::size_t t = 0; t < numTriangles; ++t) {
    if (!corners(t, c)) continue;
    for (int k = 0; k < 3; ++k) targets[fill[c[k]]++] = c[(k + 1) % 3];
  }
  // Each edge a → b once, and b → a once.
  auto count = [&](std::uint32_t from, std::uint32_t to) {
    return std::count(targets.begin() + first[from], targets.begin() + first[from + 1], to);
  };
  for (std::uint32_t a = 0; a < n; ++a) {
    for (std::uint32_t e = first[a]; e < first[a + 1]; ++e) {
      const std::uint32_t b = targets[e];
      if (count(a, b) != 1 || count(b, a) != 1) return Closure::kOpen;
    }
  }

  // The signed volume of each connected part, about the box centre.
  std::vector<std::uint32_t> parent(n);
  std::iota(parent.begin(), parent.end(), 0u);
  math::Vec3f low = positions[0], high = positions[0];
  for (const math::Vec3f& p : positions) {
    for (int k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], p[k]);
      high[k] = std::max(high[k], p[k]);
    }
  }
  const double centre[3] = {0.5 * (double(low[0]) + high[0]), 0.5 * (double(low[1]) + high[1]),
                            0.5 * (double(low[2]) + high[2])};
  std::vector<double> volume(n, 0.0);
  for (std::size_t t = 0; t < numTriangles; ++t) {
    if (!corners(t, c)) continue;
    for (int k = 1; k < 3; ++k) {
      const std::uint32_t ra = Root(parent, c[0]), rb = Root(parent, c[k]);
      if (ra != rb) parent[rb] = ra;
    }
  }
  for (std::size_t t = 0; t < numTriangles; ++t) {
    if (!corners(t, c)) continue;
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
      for (int d = 0; d < 3; ++d) p[k][d] = double(positions[c[k]][d]) - centre[d];
    }
    const double det = p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) -
                       p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0]) +
                       p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
    volume[Root(parent, c[0])] += det / 6.0;
  }
  // A part thinner than rounding cannot tell which way it faces.
  double diagonal = 0.0;
  for (int k = 0; k < 3; ++k) diagonal = std::max(diagonal, double(high[k]) - low[k]);
  const double tiny = 1e-12 * diagonal * diagonal * diagonal;
  int sign = 0;
  for (std::uint32_t v = 0; v < n; ++v) {
    if (parent[v] != v || first[v] == first[v + 1]) continue;  // not a root, or no triangle
    const int s = volume[v] > tiny ? 1 : volume[v] < -tiny ? -1 : 0;
    if (s == 0 || (sign != 0 && s != sign)) return Closure::kOpen;
    sign = s;
  }
  return sign > 0 ? Closure::kCounterClockwise : sign < 0 ? Closure::kClockwise : Closure::kOpen;
}

}  // namespace v3d
