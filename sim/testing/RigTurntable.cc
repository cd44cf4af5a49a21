#include "sim/testing/RigTurntable.h"

#include <algorithm>

#include "sim/RigSetup.h"

namespace sim::testing {

TurntableSet ScanRigTurntable(const RigTurntableRequest& request) {
  TurntableSet failed;
  scan::HardwareSetupIO setup;
  SceneDescription description;
  const auto folder = ResolveRigFolder(request.rig);
  if (!LoadRigFolder(folder, setup, description, failed.error) ||
      !SetSingleObject(request.object, description, failed.error))
    return failed;
  UseFastCameras(description);
  if (request.editScene) request.editScene(description);
  VirtualRig::Options options;
  options.imageScale = request.imageScale;
  const auto rig = MakeVirtualRig(setup, description, folder, options, failed.error);
  if (!rig) return failed;
  return ScanTurntableSet(*rig, request.views, request.startAngle, request.stepAngle, request.scanOptions);
}

double WorstDepthRms(const TurntableSet& set) {
  double worst = 0.0;
  for (const auto& scan : set.scans) worst = std::max(worst, scan.depthScore.rms);
  return worst;
}

}  // namespace sim::testing
