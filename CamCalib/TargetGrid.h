#pragma once

#include <string>

#include "CamCalib/CalibGrid.h"
#include "cam/FlatPlateCalibrationTarget.h"

namespace CamCalib {

// The grid description of a flat target: its node counts and spacing, the
// marker cell of its three inverted marks (which must lie at the cell's
// nodes (x, y), (x+1, y), (x, y+1)), the marker expected anywhere (0.5,
// 0.5), and a pose that maps plate points onto the target file's marker
// centres (a translation to the centre of the grid origin's marker, or of
// the origin node as the spacing places it when that node has no marker).
// False with the reason in error otherwise.
bool MakeCalibGrid(const cam::FlatPlateCalibrationTarget& target, CalibGrid& grid,
                   std::string& error);

}  // namespace CamCalib
