#pragma once

#include <cstdint>

#include "foundation/math/Frame.h"

namespace CamCalib {

// One grid target as the detector maps it: a table of countX × countY nodes
// with the marker cell at node (originX, originY) (its inverted marks on the
// nodes (originX, originY), (originX + 1, originY) and (originX, originY + 1),
// the normal fourth on (originX + 1, originY + 1)).
//
// Plate coordinates (mm): node (x, y) lies at (x·spacingX, y·spacingY, 0);
// x to the right and y down as the printed side is seen, z into the plate.
// world_T_plate maps them into the world. The marker cell is expected near
// (markerX·width, markerY·height) in the image; when an image shows several
// marker cells, the one nearest to it is taken.
struct CalibGrid {
  math::Frame<double> world_T_plate;
  std::int32_t originX = 0;
  std::int32_t originY = 0;
  std::int32_t countX = 0;
  std::int32_t countY = 0;
  double spacingX = 0.0;
  double spacingY = 0.0;
  double markerX = 0.5;
  double markerY = 0.5;
};

}  // namespace CamCalib
