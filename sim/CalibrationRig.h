#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cam/CameraModel.h"
#include "foundation/utils/Progress.h"
#include "scan/HardwareSetupIO.h"
#include "scan/SLScan.h"
#include "sim/SceneFile.h"
#include "sim/TargetScene.h"

namespace sim {

// How far a nominal setup's models stand from the truth: f by ±fraction,
// the principal point by ±pixels in x and y (random signs), the pose moved
// by `positionMm` in a random direction and turned by `rotationRad` about a
// random axis. The projector's principal point moves by the same number of
// projector pixels (its display size).
struct SetupPerturbation {
  double focal = 0.05;
  double principalPoint = 20.0;
  double positionMm = 5.0;
  double rotationRad = 2.0 * 3.14159265358979323846 / 180.0;
};

// A copy of the setup whose camera and projector models (Tsai or OCV) are
// perturbed, so that a calibration starting from it starts nowhere near the
// answer; the same seed gives the same copy.
scan::HardwareSetupIO PerturbSetup(const scan::HardwareSetupIO& truth,
                                   const SetupPerturbation& perturbation, std::uint32_t seed);

// A model against the true one: f relative (|Δf|/f), the principal point
// (pixels of the model's resolution; normalised units for a projector),
// the distance of the projection centres (mm) and the angle of the
// rotation between the two poses (radians).
struct ModelError {
  double focalRelative = 0.0;
  double cx = 0.0, cy = 0.0;  // signed, estimate − truth
  double position = 0.0;
  double rotation = 0.0;
};
// False when either model is neither Tsai nor OCV.
bool CompareModels(const cam::CameraModel& estimate, const cam::CameraModel& truth,
                   ModelError& error);

// A coded-light scan of the targets by every camera of the rig (the setup
// holds the true models the rig renders with): the rig's cameras capture
// the patterns through the scanner's frame acceptance and the scanner
// decodes them (Gray code and phase shift of period 16 projector pixels,
// both orientations). The evaluation results per camera, or an empty list
// with a one-line reason (error empty when cancelled).
std::vector<scan::SLScanEvaluationResultPtr> ScanTargets(const scan::HardwareSetupIO& setup,
                                                         const SceneDescription& description,
                                                         const std::vector<PlacedTarget>& targets,
                                                         const utils::ProgressCallback& progress,
                                                         std::string& error);

}  // namespace sim
