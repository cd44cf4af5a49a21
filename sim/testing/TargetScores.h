#pragma once

#include <cmath>
#include <map>
#include <vector>

#include "sim/TargetShot.h"

// Detections of rig target images scored against the rig's truth, for the
// target tests and accuracy programs.
namespace sim::testing {

struct TargetScore {
  int visible = 0;  // marks of the target wholly visible in the image
  int mapped = 0;   // nodes the detector mapped
  int right = 0;    // mapped nodes within one pixel of their mark's true image
  int wrong = 0;    // mapped nodes farther from it (or of marks not in the image)
  int missing = 0;  // visible marks not mapped
  int partial = 0;  // mapped right, but the mark is not wholly visible (not in the errors)
  double rms = 0.0, max = 0.0;  // centre error over the visible marks mapped right, pixels
};

// nodes are grid-table indices (node 0, 0 = the target's grid origin), as
// the detector reports them, with their image points.
inline TargetScore ScoreDetection(const TargetShot& shot, int target,
                                  const std::vector<math::Vec2i>& nodes,
                                  const std::vector<math::Vec2d>& points) {
  const math::Vec2i origin = shot.targets[std::size_t(target)].target.GetGridOrigin();
  std::map<math::Vec2i, const MarkTruth*, math::LexicalLess<2, int>> truth;
  TargetScore s;
  for (const MarkTruth& m : shot.marks) {
    if (m.target != target) continue;
    truth[m.node] = &m;
    s.visible += m.visible;
  }
  double sum2 = 0.0;
  int scored = 0;
  std::map<math::Vec2i, bool, math::LexicalLess<2, int>> seen;
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    ++s.mapped;
    const auto it = truth.find(nodes[k] + origin);
    const double error = it == truth.end() ? 1e9 : (points[k] - it->second->image).Length();
    if (error > 1.0) {
      ++s.wrong;
      continue;
    }
    ++s.right;
    seen[nodes[k] + origin] = true;
    if (!it->second->visible) {
      ++s.partial;
      continue;
    }
    sum2 += error * error;
    s.max = std::max(s.max, error);
    ++scored;
  }
  for (const auto& [node, mark] : truth) s.missing += mark->visible && !seen.count(node);
  s.rms = scored ? std::sqrt(sum2 / scored) : 0.0;
  return s;
}

}  // namespace sim::testing
