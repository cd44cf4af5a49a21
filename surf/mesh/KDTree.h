#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Vec.h"

namespace surf {

// A kd-tree over a point set with normals (a scan's local positions, mm),
// with one point per leaf. It keeps its own copy of points and normals.
//
// Build: the split axis of a node is the axis of largest extent of its
// points, the split value the mean of the two middle coordinates; points at
// or below the split value go to the lower child. Each inner node keeps the
// minimum and maximum coordinate of its points along its split axis, which
// prune the searches.
//
// Layout: 16-byte nodes in depth-first order, so a node's lower child is the
// next node and only the upper child is stored; a leaf holds its point's
// coordinates, so a descent reads nothing but nodes until it tests a normal.
//
// Queries keep their working state on the caller's stack, so one tree may be
// queried from several threads at once (building must not overlap queries).
class KDTree {
 public:
  static constexpr std::int32_t kNone = -1;

  // Outcome of the approximate inlier test.
  enum class InlierResult { kOutside, kOutlier, kInlier };

  // Statistics of the last build.
  struct BuildStats {
    std::size_t nodes = 0;
    std::size_t leaves = 0;
    std::size_t maxDepth = 0;
  };

  KDTree() = default;
  virtual ~KDTree() = default;
  KDTree(const KDTree&) = delete;
  KDTree& operator=(const KDTree&) = delete;

  // Builds the tree over points; normals may be empty or have one element
  // per point (otherwise std::invalid_argument). Points must be finite.
  void Build(std::vector<math::Vec3f> points, std::vector<math::Vec3f> normals = {});
  void Clear();

  std::size_t GetNumPoints() const { return m_points.size(); }
  const std::vector<math::Vec3f>& GetPoints() const { return m_points; }
  const std::vector<math::Vec3f>& GetNormals() const { return m_normals; }
  const BuildStats& GetBuildStats() const { return m_stats; }

  // The nearest point strictly closer to q than radius: its index, and its
  // distance in *distance when given; kNone when no point is that close.
  std::int32_t FindNearest(const math::Vec3f& q, float radius, float* distance = nullptr) const;

  // The approximate test of a transformed point (q, with normal nq) against
  // the surface: one descent without backtracking; kOutside when q lies
  // farther than tolerance outside the range of the side it descends into,
  // at the leaf kOutlier when the leaf's point is farther than tolerance or
  // its normal faces away from nq (dot ≤ 0), else kInlier. Without normals
  // every close point counts as an inlier.
  InlierResult TestInlier(const math::Vec3f& q, const math::Vec3f& nq, float tolerance) const;

  // TestInlier for count queries at once, result k for query k; the same
  // answers, faster: the descents advance in turns and fetch their next
  // nodes ahead, so that the memory waits of the queries overlap. Best for
  // a few dozen queries per call.
  void TestInliers(const math::Vec3f* q, const math::Vec3f* nq, std::size_t count, float tolerance,
                   InlierResult* results) const;

  // The point indices in the order of the leaves: neighbouring entries lie
  // close together in space.
  const std::vector<std::uint32_t>& GetLeafOrder() const { return m_leafOrder; }

 private:
  // An inner node's lower child is the node after it; `link` holds the
  // upper child's index << 2 | split axis. A leaf has axis bits kLeaf, the
  // point index in the rest and the point's coordinates in split/min/max.
  // min/max of an inner node bound its points along its split axis.
  struct Node {
    float split = 0.f;
    float min = 0.f;
    float max = 0.f;
    std::uint32_t link = 0;

    bool IsLeaf() const { return (link & 3u) == kLeaf; }
    std::uint32_t Axis() const { return link & 3u; }
    std::uint32_t Upper() const { return link >> 2; }
    std::uint32_t Point() const { return link >> 2; }
    math::Vec3f LeafPoint() const { return math::Vec3f(split, min, max); }
  };
  static_assert(sizeof(Node) == 16);
  static constexpr std::uint32_t kLeaf = 3;

  std::uint32_t BuildNode(std::uint32_t* begin, std::uint32_t* end, std::size_t depth);
  void Search(std::uint32_t node, const math::Vec3f& q, float& radiusSquared, std::int32_t& best) const;
  InlierResult TestLeaf(const Node& leaf, const math::Vec3f& q, const math::Vec3f& nq, float tolerance) const;

  std::vector<math::Vec3f> m_points;
  std::vector<math::Vec3f> m_normals;
  std::vector<Node> m_nodes;  // the root is node 0
  std::vector<std::uint32_t> m_leafOrder;
  BuildStats m_stats;
};

}  // namespace surf
