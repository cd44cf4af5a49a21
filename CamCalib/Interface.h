#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "CamCalib/CurveExtractor.h"
#include "CamCalib/EllipseFitting.h"
#include "CamCalib/GridMapEllipses.h"
#include "CamCalib/Messages.h"
#include "CamCalib/Parameters.h"

namespace CamCalib {

// Finds the grid targets of a grey image and returns their 2D–3D
// correspondences: the detector the calibrations are built on.
//
//   CamCalib::Interface detector;
//   detector.Init(CamCalib::Parameters::ForCameraCalibration(w, h));
//   if (detector.ExtractEllipses(image)) {
//     for (const CalibGrid& grid : grids)          // e.g. both corner panels
//       if (detector.MapEllipses(grid))
//         use(detector.GetImagePoints(), detector.GetWorldPoints());
//   }
//
// ExtractEllipses finds curves and ellipses once per image; MapEllipses maps
// them onto one grid description and may be called for several grids of the
// same image. Results are in the order of the grid's node table (row-major);
// image points have pixel centres at integer coordinates, in the centre mode
// of the parameters (2 by default: the images of the true circle centres).
//
// Every failure prints its message with its context label (e.g.
// "__CamCalib::Interface::MapEllipses__ Could not map ellipses to grid for
// CalibGrid") and returns false; GetMessages keeps them since the last
// Init or ExtractEllipses. After a failure the interface takes another image
// or grid. Not thread-safe; one instance per thread.
class Interface {
 public:
  Interface();
  Interface(const Interface&) = delete;
  Interface& operator=(const Interface&) = delete;

  // Resets and takes the parameters (state 1 afterwards, 0 on failure).
  bool Init(const Parameters& parameters);
  // Curves, ellipses, then the ellipses to the grid mapper. Fails (with the
  // ellipses found still available) when there are too few of either kind.
  bool ExtractEllipses(const img::UniImage<std::uint8_t>& image);
  // Maps the ellipses of the last image onto the grid and computes the
  // correspondences; the results of an earlier grid are replaced.
  bool MapEllipses(const CalibGrid& grid);

  int GetState() const { return m_state; }
  const Parameters& GetParameters() const { return m_parameters; }

  // The correspondences of the last successful MapEllipses.
  const std::vector<math::Vec2d>& GetImagePoints() const { return m_imagePoints; }
  const std::vector<math::Vec2i>& GetGridNodes() const { return m_nodes; }
  const std::vector<math::Vec3d>& GetPlatePoints() const { return m_platePoints; }
  const std::vector<math::Vec3d>& GetWorldPoints() const { return m_worldPoints; }
  // The ellipse index of every correspondence.
  const std::vector<int>& GetNodeEllipses() const { return m_nodeEllipses; }
  // The marker cell's ellipse indices (nodes (x, y), (x+1, y), (x+1, y+1),
  // (x, y+1)) of the last MapEllipses; −1 when none was found.
  const std::array<int, 4>& GetMarkerCell() const { return m_mapper.GetMarkerCell(); }

  // The ellipses of the last image that passed the fit and the score
  // thresholds (normal ones first), with polarity (set = normal) and score.
  const std::vector<img::Ellipse>& GetEllipses() const { return m_fitting.GetEllipses(); }
  const std::vector<bool>& GetPolarities() const { return m_fitting.GetPolarities(); }
  const std::vector<double>& GetScores() const { return m_fitting.GetScores(); }
  std::vector<math::Vec2d> GetEllipseCentres() const;

  const std::vector<std::string>& GetMessages() const { return m_messages.GetLines(); }
  // Whether messages also go to the error stream (default true).
  void SetPrintMessages(bool print) { m_messages.SetPrint(print); }

 private:
  void ClearResults();

  Messages m_messages;
  Parameters m_parameters;
  int m_state = 0;
  bool m_haveEllipses = false;
  CurveExtractor m_curves;
  EllipseFitting m_fitting;
  GridMapEllipses m_mapper;
  std::vector<math::Vec2d> m_imagePoints;
  std::vector<math::Vec2i> m_nodes;
  std::vector<math::Vec3d> m_platePoints, m_worldPoints;
  std::vector<int> m_nodeEllipses;
};

}  // namespace CamCalib
