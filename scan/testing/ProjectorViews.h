#pragma once

#include <memory>

#include "cam/CameraModel.h"
#include "scan/HardwareSetup.h"
#include "scan/ProjectorCalibrator.h"

namespace scan::testing {

// The projector coordinates (normalised: column / width, row / height) of
// the panel point a camera pixel sees: its ray met with the corner's
// background planes within the panels' node areas, projected through the
// projector's model. False where the ray meets neither panel or both.
bool ExactProjectorCoordinates(const cam::CameraModel& camera, const cam::CameraModel& projector,
                               const HardwareSetup& corner, double x, double y, double& u,
                               double& v, int& panel);

// What the camera would decode of the corner without noise: every pixel's
// exact projector coordinates, quality 1 where it sees one panel, 0 (and
// coordinates −1) elsewhere.
ProjectorView MakeExactProjectorView(std::shared_ptr<const cam::CameraModel> camera,
                                     const cam::CameraModel& projector,
                                     const HardwareSetup& corner);

}  // namespace scan::testing
