#pragma once

#include <vector>

#include "CamCalib/Messages.h"
#include "foundation/math/Homography.h"
#include "foundation/math/Vec.h"

namespace CamCalib {

// Maps image points onto the nodes of a grid, growing cell by cell from a
// known origin cell.
//
// Each mapped cell carries a homography from grid coordinates (node x, y)
// to the image. A neighbouring cell's corners are predicted through it: a
// free point is a candidate for a corner when, mapped back into grid
// coordinates, it lies within the corner tolerance (in cells) of the node;
// among candidates the smallest squared distance divided by (weight + 1)
// wins. A cell is valid when all four corners were found and are four
// different points; it is then mapped, its own homography fitted (least
// squares over the mapped nodes up to one node around it) and queued, so
// the grid grows outward until no cell can be added.
//
// Lifecycle (the state after each call):
//   Init → STATE_INIT, SetPoints (needs STATE_INIT) → STATE_PRIMS_SET,
//   SetGrid (needs STATE_PRIMS_SET) → STATE_GRID_SET,
//   Process (needs STATE_GRID_SET) → STATE_PROCESSED, Reset → STATE_NONE.
// A second SetGrid after Process maps the same points onto another grid.
// Failures print their message with the operation's context label and
// return false; nothing throws.
class GridMapPoints {
 public:
  enum State {
    STATE_NONE = 0,
    STATE_INIT = 1,
    STATE_GRID_SET = 2,
    STATE_PRIMS_SET = 3,
    STATE_PROCESSED = 4
  };

  GridMapPoints() = default;
  virtual ~GridMapPoints() = default;
  GridMapPoints(const GridMapPoints&) = delete;
  GridMapPoints& operator=(const GridMapPoints&) = delete;

  void SetMessages(Messages* messages) { m_messages = messages; }

  // cornerTolerance in grid cells (0, 0.5]; tripleRatio > 1.
  virtual bool Init(double cornerTolerance, double tripleRatio);
  virtual void Reset();
  // Grows the grid from the origin cell whose corners (x, y), (x+1, y),
  // (x+1, y+1), (x, y+1) are the points with these indices.
  virtual bool Process(const int indices[4]);

  // Image points (pixels) with optional weights (default 0).
  bool SetPoints(const std::vector<math::Vec2d>& points, const std::vector<double>& weights = {});
  // The node table of width × height nodes with the origin cell at
  // (xNodeOrigin, yNodeOrigin); every node unmapped.
  bool SetGrid(int xNodeOrigin, int yNodeOrigin, int width, int height);

  int GetState() const { return m_state; }
  int GetGridWidth() const { return m_width; }
  int GetGridHeight() const { return m_height; }
  // The point index of node (x, y), −1 where unmapped; GetNodeTable is
  // row-major (y·width + x).
  int GetNode(int x, int y) const { return m_nodes[std::size_t(y) * m_width + x]; }
  const std::vector<int>& GetNodeTable() const { return m_nodes; }
  const std::vector<math::Vec2d>& GetPoints() const { return m_points; }
  int GetMappedCount() const;

 protected:
  // A cell by its top-left node, with its grid-to-image homography.
  struct Cell {
    int x = 0, y = 0;
    math::Mat33d homography;
  };

  virtual bool IsValidCell(const int corners[4]) const;
  // The corners of cell (x, y) predicted through `from`'s homography: the
  // node's point where mapped, else the best free candidate (−1 if none).
  virtual bool FindCellCorners(const Cell& from, int x, int y, int corners[4]) const;
  // Maps a valid cell's corners and fits its homography.
  virtual bool GrowCell(int x, int y, const int corners[4], Cell& cell);

  Messages* m_messages = nullptr;
  int m_state = STATE_NONE;
  double m_cornerTolerance = 0.25;
  double m_tripleRatio = 10.0;
  int m_xOrigin = 0, m_yOrigin = 0, m_width = 0, m_height = 0;
  std::vector<math::Vec2d> m_points;
  std::vector<double> m_weights;
  std::vector<char> m_used;
  std::vector<int> m_nodes;

 private:
  int FindCandidate(const math::Mat33d& imageToGrid, const math::Vec2d& node,
                    const math::Vec2d& predicted, double radius) const;
  void BuildBuckets();

  // Points bucketed by image position for the corner search.
  double m_bucketSize = 16.0;
  int m_bucketsX = 0, m_bucketsY = 0;
  math::Vec2d m_bucketOrigin;
  std::vector<std::vector<int>> m_buckets;
};

}  // namespace CamCalib
