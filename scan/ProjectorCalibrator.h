#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cam/CameraModelTsai.h"
#include "foundation/img/UniImage.h"
#include "scan/HardwareSetup.h"

namespace scan {

// What one calibrated camera decoded of the panels: per pixel the
// projector coordinates (column / width, row / height, negative = none)
// and the quality (0 … 1, 0 = invalid), at the model's resolution.
struct ProjectorView {
  std::shared_ptr<const cam::CameraModel> camera;
  img::UniImagePtr<float> x, y, quality;
};

struct ProjectorCalibrationOptions {
  std::uint32_t projectorWidth = 1920;  // display pixels
  std::uint32_t projectorHeight = 1080;
  float minQuality = 0.2f;  // pixels of lower quality are not used
  int pixelStep = 3;        // every n-th pixel in x and y
  // Points whose residual exceeds this many robust σ are removed.
  double outlierSigmaFactor = 4.0;
  // Rounds of judging the points against the refined model (1: against the
  // start model only).
  int outlierPasses = 5;
};

// Calibrates the projector as an inverse camera. The result is a Tsai model
// in normalised projector coordinates (the unit square: resolution 1 × 1,
// the centre at (0.5, 0.5)); RMS values are in projector pixels.
class ProjectorCalibrator {
 public:
  // From decoded scans of the corner panels by calibrated cameras: each
  // used pixel's ray is intersected with the background plane of the panel
  // it falls on, giving 3D points with their projector coordinates; Tsai's
  // calibration runs with the principal point starting at x = 0.5 and
  // y = −0.5 … 1.5 (a projector's principal point usually lies far outside
  // its image centre), the best run is kept, outliers are removed and the
  // calibration refined. On success the projector model is replaced (its
  // resolution set to 1 × 1); on failure it stays and "Projector
  // calibration failed!" is printed.
  bool CalibProjector(cam::CameraModelTsai& projector, const HardwareSetup& setup,
                      const std::vector<ProjectorView>& views,
                      const ProjectorCalibrationOptions& options);

  // Refines a calibrated projector with the surface two calibrated cameras
  // see, independent of the panels' descriptions: the two views are matched
  // by their projector coordinates and triangulated (stereo), and the
  // projector model is optimised on the first camera's pixels' world points.
  bool StereoRecalibration(cam::CameraModelTsai& projector, const ProjectorView& first,
                           const ProjectorView& second, const ProjectorCalibrationOptions& options);

  // Results of the last calibration.
  double GetRMS() const { return m_rms; }  // projector pixels
  std::size_t GetNumPoints() const { return m_numPoints; }
  std::size_t GetNumOutliers() const { return m_numOutliers; }

 private:
  // Refines the model on the kept points when asked, records its error and
  // stores it normalised (resolution 1 × 1) in projector.
  bool Store(cam::CameraModelTsai model, std::vector<math::Vec3d>& points3d,
             std::vector<math::Vec2d>& points2d, std::size_t outliers, bool refine,
             cam::CameraModelTsai& projector);
  // Tsai calibration of the points (projector pixels) from the start
  // values; the best over the principal-point starts, then the outlier pass.
  bool Calibrate(cam::CameraModelTsai& projector, std::vector<math::Vec3d> points3d,
                 std::vector<math::Vec2d> points2d, const ProjectorCalibrationOptions& options);

  double m_rms = 0.0;
  std::size_t m_numPoints = 0;
  std::size_t m_numOutliers = 0;
};

}  // namespace scan
