#include "surf/mesh/KDTree.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace surf {

void KDTree::Clear() {
  m_points.clear();
  m_normals.clear();
  m_nodes.clear();
  m_leafOrder.clear();
  m_stats = {};
}

void KDTree::Build(std::vector<math::Vec3f> points, std::vector<math::Vec3f> normals) {
  if (!normals.empty() && normals.size() != points.size()) {
    throw std::invalid_argument("KDTree::Build - The normals do not match the points.");
  }
  // Node indices must fit the 30 bits of a link.
  if (points.size() > (std::size_t(1) << 29)) {
    throw std::invalid_argument("KDTree::Build - Too many points.");
  }
  Clear();
  m_points = std::move(points);
  m_normals = std::move(normals);
  if (m_points.empty()) return;
  m_nodes.reserve(2 * m_points.size() - 1);
  m_leafOrder.resize(m_points.size());
  std::iota(m_leafOrder.begin(), m_leafOrder.end(), 0u);
  // The build partitions the order in place, leaving it in leaf order.
  BuildNode(m_leafOrder.data(), m_leafOrder.data() + m_leafOrder.size(), 1);
  m_stats.nodes = m_nodes.size();
}

std::uint32_t KDTree::BuildNode(std::uint32_t* begin, std::uint32_t* end, std::size_t depth) {
  m_stats.maxDepth = std::max(m_stats.maxDepth, depth);
  const auto self = static_cast<std::uint32_t>(m_nodes.size());
  m_nodes.emplace_back();
  const std::size_t n = static_cast<std::size_t>(end - begin);
  if (n == 1) {
    const math::Vec3f& p = m_points[*begin];
    m_nodes[self] = {p[0], p[1], p[2], *begin << 2 | kLeaf};
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

  BuildNode(begin, cut, depth + 1);  // lands at self + 1
  const std::uint32_t upper = BuildNode(cut, end, depth + 1);
  m_nodes[self] = {split, lo[axis], hi[axis], upper << 2 | static_cast<std::uint32_t>(axis)};
  return self;
}

void KDTree::Search(std::uint32_t index, const math::Vec3f& q, float& radiusSquared, std::int32_t& best) const {
  const Node& node = m_nodes[index];
  if (node.IsLeaf()) {
    const float d = (node.LeafPoint() - q).LengthSquared();
    if (d < radiusSquared) {
      radiusSquared = d;
      best = static_cast<std::int32_t>(node.Point());
    }
    return;
  }
  const float x = q[node.Axis()];
  const float below = node.min - x, above = x - node.max;
  if ((below > 0.f && below * below >= radiusSquared) || (above > 0.f && above * above >= radiusSquared)) {
    return;
  }
  const float diff = x - node.split;
  const bool lowerFirst = diff <= 0.f;
  Search(lowerFirst ? index + 1 : node.Upper(), q, radiusSquared, best);
  if (diff * diff < radiusSquared) Search(lowerFirst ? node.Upper() : index + 1, q, radiusSquared, best);
}

std::int32_t KDTree::FindNearest(const math::Vec3f& q, float radius, float* distance) const {
  if (m_nodes.empty() || !(radius > 0.f)) return kNone;
  float radiusSquared = radius * radius;
  std::int32_t best = kNone;
  Search(0, q, radiusSquared, best);
  if (best != kNone && distance) *distance = std::sqrt(radiusSquared);
  return best;
}

KDTree::InlierResult KDTree::TestLeaf(const Node& leaf, const math::Vec3f& q, const math::Vec3f& nq,
                                      float tolerance) const {
  const float d = (leaf.LeafPoint() - q).LengthSquared();
  if (!(d <= tolerance * tolerance)) return InlierResult::kOutlier;
  if (!m_normals.empty() && !(math::Dot(m_normals[leaf.Point()], nq) > 0.f)) return InlierResult::kOutlier;
  return InlierResult::kInlier;
}

KDTree::InlierResult KDTree::TestInlier(const math::Vec3f& q, const math::Vec3f& nq, float tolerance) const {
  if (m_nodes.empty()) return InlierResult::kOutside;
  std::uint32_t index = 0;
  while (!m_nodes[index].IsLeaf()) {
    const Node& node = m_nodes[index];
    const float x = q[node.Axis()];
    if (x <= node.split) {
      if (x < node.min - tolerance) return InlierResult::kOutside;
      ++index;
    } else {
      if (x > node.max + tolerance) return InlierResult::kOutside;
      index = node.Upper();
    }
  }
  return TestLeaf(m_nodes[index], q, nq, tolerance);
}

void KDTree::TestInliers(const math::Vec3f* q, const math::Vec3f* nq, std::size_t count, float tolerance,
                         InlierResult* results) const {
  if (m_nodes.empty()) {
    std::fill(results, results + count, InlierResult::kOutside);
    return;
  }
  // Each lane holds the node its query visits next, or, with the top bit
  // set, the point whose normal it tests next.
  constexpr std::size_t kLanes = 64;
  constexpr std::uint32_t kNormalStep = 0x80000000u;
  const float toleranceSquared = tolerance * tolerance;
  std::uint32_t next[kLanes];
  std::uint8_t active[kLanes];
  for (std::size_t first = 0; first < count; first += kLanes) {
    const std::size_t lanes = std::min(kLanes, count - first);
    for (std::size_t k = 0; k < lanes; ++k) {
      next[k] = 0;
      active[k] = static_cast<std::uint8_t>(k);
    }
    std::size_t remaining = lanes;
    while (remaining > 0) {
      std::size_t kept = 0;
      for (std::size_t a = 0; a < remaining; ++a) {
        const std::size_t k = active[a];
        const std::size_t i = first + k;
        InlierResult& result = results[i];
        if (next[k] & kNormalStep) {
          const bool agrees = math::Dot(m_normals[next[k] & ~kNormalStep], nq[i]) > 0.f;
          result = agrees ? InlierResult::kInlier : InlierResult::kOutlier;
          continue;
        }
        const Node& node = m_nodes[next[k]];
        if (node.IsLeaf()) {
          const float d = (node.LeafPoint() - q[i]).LengthSquared();
          if (!(d <= toleranceSquared)) {
            result = InlierResult::kOutlier;
          } else if (m_normals.empty()) {
            result = InlierResult::kInlier;
          } else {
            __builtin_prefetch(&m_normals[node.Point()]);
            next[k] = node.Point() | kNormalStep;
            active[kept++] = static_cast<std::uint8_t>(k);
          }
          continue;
        }
        // The side taken is a coin toss for the branch predictor: select
        // without branching.
        const float x = q[i][node.Axis()];
        const bool lower = x <= node.split;
        const bool outside = (lower & (x < node.min - tolerance)) | (!lower & (x > node.max + tolerance));
        const std::uint32_t child = lower ? next[k] + 1 : node.Upper();
        __builtin_prefetch(&m_nodes[child]);
        next[k] = child;
        active[kept] = static_cast<std::uint8_t>(k);
        kept += !outside;
        if (outside) result = InlierResult::kOutside;
      }
      remaining = kept;
    }
  }
}

}  // namespace surf
