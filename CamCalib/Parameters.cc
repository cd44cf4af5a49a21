#include "CamCalib/Parameters.h"

#include <algorithm>

namespace CamCalib {

Parameters Parameters::ForCameraCalibration(int width, int height) {
  Parameters p;
  p.width = width;
  p.height = height;
  p.edgeThreshold = 3.0;
  p.minSemiAxis = std::max(2.0, width / 500.0);
  p.maxSemiAxis = std::min(width / 10.0, 100.0);
  return p;
}

}  // namespace CamCalib
