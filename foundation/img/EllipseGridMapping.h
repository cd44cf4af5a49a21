#pragma once

#include <string>
#include <vector>

#include "foundation/img/Ellipse.h"
#include "foundation/math/Vec.h"

namespace img {

// The marker cell of a grid target: three corner marks of one grid cell
// printed with inverted contrast (light on dark), the fourth normal. Given as
// grid nodes: `corner` is the inverted mark next to both others, `first` and
// `second` its two inverted neighbours, ordered so that (first − corner) ×
// (second − corner) > 0 with grid x to the right and grid y down as the
// printed side is seen. The normal mark is first + second − corner.
struct GridMarkerCell {
  math::Vec2i corner{0, 0};
  math::Vec2i first{1, 0};
  math::Vec2i second{0, 1};

  math::Vec2i Fourth() const { return first + second - corner; }
};

// Assigns ellipses found in an image to the nodes of a flat grid target
// with a marker cell. The marker cell is found among the negative ellipses
// (three that form an L whose completing corner holds a normal ellipse of
// the same size); from it the grid grows node by node: each free neighbour
// of a mapped node is predicted from the local affine image of its mapped
// neighbours (or by extrapolation along a row) and takes the nearest free
// ellipse within 0.3 grid cells of the prediction.
//
// On a grid whose marks are all visible this gives the same assignment as
// CamCalib::GridMapEllipses.
class EllipseGridMapping {
 public:
  // Throws std::invalid_argument ("EllipseGridMapping - gridWidth and
  // gridHeight must be >= 2") for a smaller grid.
  EllipseGridMapping(int gridWidth, int gridHeight);

  // normal[i] is true for ellipse i of normal contrast (a dark mark on a
  // light ground). False with GetError() set when the marker cell is not
  // found; throws std::invalid_argument for a marker cell outside the grid
  // or not of the shape described above, or lists of different sizes.
  bool Map(const std::vector<Ellipse>& ellipses, const std::vector<bool>& normal,
           const GridMarkerCell& cell = {});

  int GetGridWidth() const { return m_width; }
  int GetGridHeight() const { return m_height; }
  // The ellipse index of node (x, y), −1 where none was assigned; row-major
  // (index y·width + x) in GetNodeIndices.
  int GetIndex(int x, int y) const { return m_nodes[std::size_t(y) * m_width + x]; }
  const std::vector<int>& GetNodeIndices() const { return m_nodes; }
  int GetMappedCount() const;
  const std::string& GetError() const { return m_error; }

  struct LocalMap;

 private:
  bool FindMarkerCell(const std::vector<Ellipse>& ellipses, const std::vector<bool>& normal,
                      int indices[4]);
  void Grow(const std::vector<Ellipse>& ellipses);
  // The local grid-to-image map around a free node next to a mapped one.
  bool Predict(const math::Vec2i& node, const math::Vec2i& from, LocalMap& local) const;

  int m_width, m_height;
  std::vector<int> m_nodes;
  std::vector<math::Vec2d> m_points;  // image points of the mapped nodes
  std::string m_error;
};

}  // namespace img
