#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <ostream>
#include <vector>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "scan/SLScan.h"
#include "scan/StructuredLightScanner.h"

namespace galvern {

struct EpipolarOptions {
  float minQuality = 0.4f;  // both cameras' decoding quality (0 … 1) at a used pixel
  // A match is used when both sub-pixel fractions of its camera-1 position
  // lie within this of 0.5 (away from the quad borders, where the inverse
  // interpolation is least sure).
  double maxFractionOffset = 0.35;
};

// One camera-0 pixel and the camera-1 position seeing the same projector
// point (pixel coordinates, integer = pixel centre).
struct StereoMatch {
  math::Vec2d first, second;
  double error = 0.0;  // camera-1 pixels
};

struct EpipolarErrors {
  img::UniImage<float> image;  // camera 0's size: error in camera-1 pixels, 0 where not measured
  std::vector<StereoMatch> matches;
  double average = 0.0, maximum = 0.0;
};

// Matches the two cameras' decoded pixels by their projector coordinates
// (both orientations needed) and measures, per match, the distance in camera
// 1 from the matched position to the epipolar line of the camera-0 pixel.
// False (errors empty) when a result lacks an orientation or the quality,
// or no pixel matches.
bool MeasureEpipolarErrors(const scan::SLScanEvaluationResult& first,
                           const cam::CameraModel& model0,
                           const scan::SLScanEvaluationResult& second,
                           const cam::CameraModel& model1, const EpipolarOptions& options,
                           EpipolarErrors& errors);

// Camera 1's pose re-estimated from the matches: each camera-0 pixel's world
// point is triangulated with the projector (the projector fixes the scale the
// two cameras alone cannot), and camera 1's six pose parameters are fitted to
// the matched positions by cam::CameraModelOptimizer (Levenberg–Marquardt
// until its own convergence, one outlier pass at 5 σ). Intrinsics stay.
// Null when the projector has no valid model, the model types are other
// than Tsai or OCV, or fewer than minPoints world points are found.
std::shared_ptr<cam::CameraModel> ReestimateSecondCameraPose(
    const scan::SLScanEvaluationResult& first, const cam::CameraModel& model0,
    const cam::CameraModel& model1, const cam::CameraModel& projector,
    const std::vector<StereoMatch>& matches, std::size_t minPoints = 200);

// Refines the two-camera calibration of a scanner from its last scan:
// -1 without models for cameras 0 and 1; -2 when the scan gives no
// matches or the pose cannot be re-estimated; 1 when the re-estimated pose
// does not lower the average epipolar error or still leaves it above
// 1 pixel (the pose is kept unless it lowered the error); 0 when camera 1
// got the re-estimated pose. Writes the error image (min(255, error × 100)
// per pixel) to calibrationFolder / "EpipolarErrorImage.bmp" and the
// average / maximum error and the pose transform (camera 0 to camera 1) to
// out.
int UpdateSystemCalibration(scan::StructuredLightScanner& scanner,
                            const std::filesystem::path& calibrationFolder, std::ostream& out);

}  // namespace galvern
