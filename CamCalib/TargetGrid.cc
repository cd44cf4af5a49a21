#include "CamCalib/TargetGrid.h"

namespace CamCalib {

bool MakeCalibGrid(const cam::FlatPlateCalibrationTarget& target, CalibGrid& grid,
                   std::string& error) {
  img::GridMarkerCell cell;
  if (!target.GetMarkerCell(cell)) {
    error = "the target has no marker cell (three inverted marks of one cell with a normal fourth)";
    return false;
  }
  if (cell.first - cell.corner != math::Vec2i{1, 0} ||
      cell.second - cell.corner != math::Vec2i{0, 1}) {
    error =
        "the target's marker cell is turned: its inverted marks must lie at nodes (x, y), (x+1, "
        "y), (x, y+1)";
    return false;
  }
  const math::Vec2i origin = target.GetGridOrigin();
  // The centre of node (0, 0) of the table: from a marker whose centre the
  // file gives, stepped back along the grid by the spacing.
  const auto& [node, marker] = *target.markers.begin();
  const math::Vec3d zero = marker.center - math::Vec3d{(node[0] - origin[0]) * target.spacing,
                                                       (node[1] - origin[1]) * target.spacing, 0.0};
  grid = CalibGrid{};
  grid.world_T_plate = math::FTrans(zero[0], zero[1], zero[2]);
  grid.originX = cell.corner[0];
  grid.originY = cell.corner[1];
  grid.countX = target.countX;
  grid.countY = target.countY;
  grid.spacingX = grid.spacingY = target.spacing;
  grid.markerX = grid.markerY = 0.5;
  return true;
}

}  // namespace CamCalib
