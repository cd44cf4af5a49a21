#pragma once

#include <array>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "CamCalib/GridMapPoints.h"
#include "foundation/img/Ellipse.h"

namespace CamCalib {

// Grid mapping of ellipse centres with the marker cell found among the
// negative ellipses, the corrected centres and the correspondences.
//
// The marker cell: among the negative ellipses, each centre chooses the
// pair of others with the smallest sum of squared triangle sides whose
// squared sides stay within tripleRatio² of each other; a triple chosen by
// all three members is a candidate, and the candidate nearest to the
// grid's expected marker position is taken (none farther than 0.6 image
// diagonals from it: that marker cell belongs to another target). With the triple ordered so that
// (second − first) × (third − first) ≥ 0, each of its three cyclic orders
// puts one member at the cell's corner; the fourth corner is predicted by
// parallelogram completion and the nearest normal ellipse taken, and the
// choice under which the four ellipses, carried through the homography of
// the cell's square, look most like equal circles wins. The corner member
// becomes node (originX, originY), the second (originX + 1, originY), the
// third (originX, originY + 1), the normal one (originX + 1, originY + 1).
//
// A node whose centre lies more than 0.3 px (or five times the median of all
// nodes) from where the homography of its neighbours (up to two nodes away)
// puts it is unmapped again: a mark cut by a shadow, an occluder or the
// image border gives a biased ellipse.
//
// Centres (per mapped node, pixel centres at integer coordinates):
//   mode 0: the fitted ellipse centres;
//   mode 2: the image of the true circle centre: a least-squares homography
//     plate → image over all mapped nodes gives the image of the plate's
//     line at infinity, and the centre is its pole with respect to the
//     ellipse (twice, the homography refitted to the corrected centres);
//   mode 1: the same with a homography of each node's neighbourhood (the
//     mapped nodes up to two nodes away), which follows lens distortion.
class GridMapEllipses : public GridMapPoints {
 public:
  // image size for the expected marker position.
  bool Init(double cornerTolerance, double tripleRatio, int imageWidth, int imageHeight);
  using GridMapPoints::Init;

  // The ellipses (normal ones with their polarity bit set) become the
  // points; needs STATE_INIT.
  bool SetEllipses(const std::vector<img::Ellipse>& ellipses, const std::vector<bool>& polarities);
  // The grid of a description: SetGrid with its origin and counts; its
  // marker position is kept for Process.
  bool SetCalibGrid(const CalibGrid& grid);
  // Finds the marker cell and grows the grid from it.
  bool Process();
  using GridMapPoints::Process;

  // The centre of every mapped node in the given mode (0, 1 or 2), in the
  // order of the node table (row-major); false with a message when the
  // homography cannot be computed.
  bool ComputeCentres(int mode, std::vector<math::Vec2i>& nodes, std::vector<math::Vec2d>& centres);

  // Image points, grid nodes, plate points (node × spacing, z = 0) and
  // world points (world_T_plate × plate point) of the mapped nodes in the
  // given centre mode; needs STATE_PROCESSED.
  bool GetCorrespondences(const CalibGrid& grid, int mode, std::vector<math::Vec2d>& imagePoints,
                          std::vector<math::Vec2i>& nodes, std::vector<math::Vec3d>& platePoints,
                          std::vector<math::Vec3d>& worldPoints);

  // The ellipse indices of the marker cell's nodes (x, y), (x+1, y),
  // (x+1, y+1), (x, y+1) of the last Process; −1 before.
  const std::array<int, 4>& GetMarkerCell() const { return m_markerCell; }

  // The least-squares homography of at least five point pairs; false with
  // the messages for fewer pairs or lists of different lengths.
  bool ComputeHomography(const std::vector<math::Vec2d>& from, const std::vector<math::Vec2d>& to,
                         math::Mat33d& homography);

 private:
  bool FindTriples(std::vector<std::array<int, 3>>& triples) const;
  void RejectOutliers(std::vector<math::Vec2i>& nodes, std::vector<math::Vec2d>& centres);
  double RateCell(const int four[4]) const;

  int m_imageWidth = 0, m_imageHeight = 0;
  double m_markerX = 0.5, m_markerY = 0.5;
  std::vector<img::Ellipse> m_ellipses;
  std::vector<bool> m_polarities;
  std::array<int, 4> m_markerCell{-1, -1, -1, -1};
};

// The four-point homography that maps from[k] onto to[k] exactly (both
// arrays of four points); false with "Error in GetHomographyAlgebraic - An
// input parameter is a NULL pointer." for null input, false for a
// degenerate configuration.
bool GetHomographyAlgebraic(const math::Vec2d* from, const math::Vec2d* to,
                            math::Mat33d& homography, Messages* messages = nullptr);

}  // namespace CamCalib
