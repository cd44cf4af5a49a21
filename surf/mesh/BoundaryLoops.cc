#include "surf/mesh/BoundaryLoops.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <unordered_map>
#include <unordered_set>

namespace surf {

using math::Vec3d;
using math::Vec3f;

namespace {

std::uint64_t Key(std::uint32_t a, std::uint32_t b) { return (std::uint64_t(a) << 32) | b; }
std::uint64_t EdgeKey(std::uint32_t a, std::uint32_t b) { return Key(std::min(a, b), std::max(a, b)); }

struct Point2 {
  double x, y;
};

double Cross(const Point2& o, const Point2& a, const Point2& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool Inside(const Point2& p, const Point2& a, const Point2& b, const Point2& c) {
  return Cross(a, b, p) >= 0.0 && Cross(b, c, p) >= 0.0 && Cross(c, a, p) >= 0.0;
}

// Triangulates the polygon (counter-clockwise about its Newell normal).
// An ear whose new edge the mesh has already (edges holds them, undirected)
// is passed over: the edge would get a third and fourth triangle.
void Triangulate(const std::vector<std::uint32_t>& polygon, std::vector<Vec3f>& positions,
                 std::vector<std::uint32_t>& indices, std::unordered_set<std::uint64_t>& edges) {
  Vec3d normal(0.0, 0.0, 0.0), centroid(0.0, 0.0, 0.0);
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const Vec3d p(positions[polygon[i]]), q(positions[polygon[(i + 1) % polygon.size()]]);
    normal += p ^ q;
    centroid += p;
  }
  centroid /= double(polygon.size());
  normal.Normalize();
  Vec3d e1 = std::abs(normal[0]) < 0.9 ? Vec3d(1.0, 0.0, 0.0) : Vec3d(0.0, 1.0, 0.0);
  e1 = (e1 - normal * Dot(e1, normal)).GetNormalized();
  const Vec3d e2 = normal ^ e1;
  std::vector<Point2> points(polygon.size());
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const Vec3d d = Vec3d(positions[polygon[i]]) - centroid;
    points[i] = {Dot(d, e1), Dot(d, e2)};
  }
  std::list<std::size_t> left;
  for (std::size_t i = 0; i < polygon.size(); ++i) left.push_back(i);
  auto it = left.begin();
  std::size_t failures = 0;
  while (left.size() > 3 && failures < left.size()) {
    const auto prev = it == left.begin() ? std::prev(left.end()) : std::prev(it);
    const auto next = std::next(it) == left.end() ? left.begin() : std::next(it);
    const Point2 &a = points[*prev], &b = points[*it], &c = points[*next];
    bool ear = Cross(a, b, c) > 0.0 && !edges.count(EdgeKey(polygon[*prev], polygon[*next]));
    for (auto k = left.begin(); ear && k != left.end(); ++k) {
      if (k != prev && k != it && k != next && Inside(points[*k], a, b, c)) ear = false;
    }
    if (ear) {
      indices.insert(indices.end(), {polygon[*prev], polygon[*it], polygon[*next]});
      edges.insert(EdgeKey(polygon[*prev], polygon[*next]));
      left.erase(it);
      it = prev;
      failures = 0;
    } else {
      it = next;
      ++failures;
    }
  }
  if (left.size() == 3) {
    auto k = left.begin();
    const std::uint32_t a = polygon[*k++], b = polygon[*k++], c = polygon[*k];
    indices.insert(indices.end(), {a, b, c});
    return;
  }
  // No ear: a fan about the centroid of what is left.
  Vec3d rest(0.0, 0.0, 0.0);
  for (std::size_t i : left) rest += Vec3d(positions[polygon[i]]);
  const std::uint32_t centre = std::uint32_t(positions.size());
  positions.push_back(Vec3f(rest / double(left.size())));
  for (auto k = left.begin(); k != left.end(); ++k) {
    const auto next = std::next(k) == left.end() ? left.begin() : std::next(k);
    indices.insert(indices.end(), {polygon[*k], polygon[*next], centre});
  }
}

}  // namespace

std::size_t CloseBoundaryLoops(std::vector<Vec3f>& positions, std::vector<std::uint32_t>& indices) {
  std::vector<std::uint64_t> halfEdges;
  halfEdges.reserve(indices.size());
  for (std::size_t k = 0; k + 3 <= indices.size(); k += 3) {
    for (int e = 0; e < 3; ++e) halfEdges.push_back(Key(indices[k + e], indices[k + (e + 1) % 3]));
  }
  std::sort(halfEdges.begin(), halfEdges.end());
  // Border half-edges by their tail.
  std::unordered_multimap<std::uint32_t, std::uint32_t> border;
  for (std::uint64_t h : halfEdges) {
    const std::uint32_t a = std::uint32_t(h >> 32), b = std::uint32_t(h & 0xffffffffu);
    if (!std::binary_search(halfEdges.begin(), halfEdges.end(), Key(b, a))) border.emplace(a, b);
  }
  std::unordered_set<std::uint64_t> edges;
  edges.reserve(halfEdges.size());
  for (std::uint64_t h : halfEdges) edges.insert(EdgeKey(std::uint32_t(h >> 32), std::uint32_t(h & 0xffffffffu)));
  std::size_t loops = 0;
  while (!border.empty()) {
    auto start = border.begin();
    const std::uint32_t first = start->first;
    std::vector<std::uint32_t> loop{first};
    std::uint32_t at = start->second;
    border.erase(start);
    while (at != first) {
      loop.push_back(at);
      const auto next = border.find(at);
      if (next == border.end()) break;  // an open chain (inconsistent orientation): not closed
      at = next->second;
      border.erase(next);
    }
    if (at != first || loop.size() < 3) continue;
    // The new triangles run against the border's direction.
    std::reverse(loop.begin(), loop.end());
    Triangulate(loop, positions, indices, edges);
    ++loops;
  }
  return loops;
}

}  // namespace surf
