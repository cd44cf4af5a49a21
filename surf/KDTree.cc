#include "surf/KDTree.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace surf {

void KDTree::Clear() {
  m_points.clear();
  m_normals.clear();
  m_nodes.clear();
  m_root = -1;
  m_stats = {};
}

void KDTree::Build(std::vector<math::Vec3f> points, std::vector<math::Vec3f> normals) {
  if (!normals.empty() && normals.size() != points.size()) {
    throw std::invalid_argument("KDTree::Build - The normals do not match the points.");
  }
  if (points.size() > 0x3FFFFFFFu) {
    throw std::invalid_argument("KDTree::Build - Too many points.");
  }
  Clear();
  m_points = std::move(points);
  m_normals = std::move(normals);
  if (m_points.empty()) return;
  m_nodes.reserve(2 * m_points.size());
  std::vector<std::uint32_t> order(m_points.size());
  std::iota(order.begin(), order.end(), 0u);
  m_root = BuildNode(order.data(), order.data() + order.size(), 1);
  m_stats.nodes = m_nodes.size();
}

std::int32_t KDTree::BuildNode(std::uint32_t* begin, std::uint32_t* end, std::size_t depth) {
  m_stats.maxDepth = std::max(m_stats.maxDepth, depth);
  const auto self = static_cast<std::int32_t>(m_nodes.size());
  m_nodes.emplace_back();
  const std::size_t n = static_cast<std::size_t>(end - begin);
  if (n == 1) {
    m_nodes[self].point = static_cast<std::int32_t>(*begin);
    ++m_stats.leaves;
    return self;
  }
  math::Vec3f lo = m_points[*begin], hi = lo;
  for (const std::uint32_t* i = begin + 1; i != end; ++i) {
    const math::Vec3f& p = m_points[*i];
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], p[k]);
      hi[k] = std::max(hi[k], p[k]);
    }
  }
  const math::Vec3f extent = hi - lo;
  int axis = extent[1] > extent[0] ? 1 : 0;
  if (extent[2] > extent[0] && extent[2] > extent[1]) axis = 2;
  const auto less = [&](std::uint32_t a, std::uint32_t b) { return m_points[a][axis] < m_points[b][axis]; };

  // The lower half holds the n/2 smallest coordinates, then every upper
  // element equal to the split value joins it.
  std::uint32_t* mid = begin + n / 2;
  std::nth_element(begin, mid, end, less);
  const float upperFirst = m_points[*mid][axis];
  const float lowerLast = m_points[*std::max_element(begin, mid, less)][axis];
  const float split = 0.5f * (lowerLast + upperFirst);
  std::uint32_t* cut = std::partition(mid, end, [&](std::uint32_t i) { return m_points[i][axis] <= split; });
  // All coordinates equal along the axis (duplicate points): halve by count.
  if (cut == end) cut = mid;

  const std::int32_t lower = BuildNode(begin, cut, depth + 1);
  const std::int32_t upper = BuildNode(cut, end, depth + 1);
  Node& node = m_nodes[self];
  node.lower = lower;
  node.upper = upper;
  node.axis = axis;
  node.split = split;
  node.min = lo[axis];
  node.max = hi[axis];
  return self;
}

void KDTree::Search(std::int32_t index, const math::Vec3f& q, float& radiusSquared,
                    std::int32_t& best) const {
  const Node& node = m_nodes[index];
  if (node.lower < 0) {
    const float d = (m_points[node.point] - q).LengthSquared();
    if (d < radiusSquared) {
      radiusSquared = d;
      best = node.point;
    }
    return;
  }
  const float x = q[node.axis];
  const float below = node.min - x, above = x - node.max;
  if ((below > 0.f && below * below >= radiusSquared) || (above > 0.f && above * above >= radiusSquared)) {
    return;
  }
  const float diff = x - node.split;
  const bool lowerFirst = diff <= 0.f;
  Search(lowerFirst ? node.lower : node.upper, q, radiusSquared, best);
  if (diff * diff < radiusSquared) Search(lowerFirst ? node.upper : node.lower, q, radiusSquared, best);
}

std::int32_t KDTree::FindNearest(const math::Vec3f& q, float radius, float* distance) const {
  if (m_root < 0 || !(radius > 0.f)) return kNone;
  float radiusSquared = radius * radius;
  std::int32_t best = kNone;
  Search(m_root, q, radiusSquared, best);
  if (best != kNone && distance) *distance = std::sqrt(radiusSquared);
  return best;
}

KDTree::InlierResult KDTree::TestInlier(const math::Vec3f& q, const math::Vec3f& nq, float tolerance) const {
  if (m_root < 0) return InlierResult::kOutside;
  const Node* node = &m_nodes[m_root];
  while (node->lower >= 0) {
    const float x = q[node->axis];
    if (x <= node->split) {
      if (x < node->min - tolerance) return InlierResult::kOutside;
      node = &m_nodes[node->lower];
    } else {
      if (x > node->max + tolerance) return InlierResult::kOutside;
      node = &m_nodes[node->upper];
    }
  }
  const float d = (m_points[node->point] - q).LengthSquared();
  if (!(d <= tolerance * tolerance)) return InlierResult::kOutlier;
  if (!m_normals.empty() && !(math::Dot(m_normals[node->point], nq) > 0.f)) return InlierResult::kOutlier;
  return InlierResult::kInlier;
}

}  // namespace surf
