#pragma once

#include <limits>

namespace CamCalib {

// What the detector is told about an image and its targets. The defaults
// suit a clean target image; ForCameraCalibration gives the values the
// camera calibration uses.
struct Parameters {
  // Image size in pixels; images up to this size are accepted.
  int width = 0;
  int height = 0;

  // Centres: 0 = fitted ellipse centres, 1 = corrected with the local
  // homography of each node's neighbourhood, 2 = corrected through the
  // plate's homography (the image of the true circle centre).
  int centreMode = 2;

  // Grid mapping: the distance (in grid cells) within which a point counts
  // as a predicted corner, and the largest ratio of side lengths in a
  // triple of negative marks.
  double cornerTolerance = 0.25;
  double tripleRatio = 10.0;

  // Curves. presmoothSigma: a Gaussian blur (pixels, 0 = none) before the
  // binomial smoothing passes, for noisy high-resolution photos.
  double presmoothSigma = 0.0;
  int smoothingPasses = 2;
  double edgeThreshold = 0.9;  // gradient of the smoothed image, grey levels per pixel
  int minCurveLength = 10;     // points

  // Ellipses.
  double maxAxisRatio = 5.0;
  double minSemiAxis = 2.0;    // pixels
  double maxSemiAxis = 100.0;  // pixels
  int minCurvePoints = 10;
  double minScore = 0.6;  // edge support, |score| in 0…1
  int maxNormalEllipses = 1000;
  int maxNegativeEllipses = 10;
  int minNormalEllipses = 10;
  int minNegativeEllipses = 3;
  double areaMinX = -std::numeric_limits<double>::infinity();
  double areaMinY = -std::numeric_limits<double>::infinity();
  double areaMaxX = std::numeric_limits<double>::infinity();
  double areaMaxY = std::numeric_limits<double>::infinity();
  bool dropNestedEllipses = false;

  // The camera calibration's values for an image of this size: edge
  // threshold 3.0, semi-axes from max(2, width/500) to min(width/10, 100).
  static Parameters ForCameraCalibration(int width, int height);
};

}  // namespace CamCalib
