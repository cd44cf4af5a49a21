#include "shell/testing/RigTurntable.h"

#include <algorithm>

#include "sim/RigSetup.h"

namespace shell::testing {

sim::TurntableSet ScanRigTurntable(const RigTurntableRequest& request) {
  sim::TurntableSet failed;
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  RigScanSession::Options options;
  options.rigFolder = sim::ResolveRigFolder(request.rig);
  if (!sim::LoadRigFolder(options.rigFolder, setup, description, failed.error) ||
      !sim::SetSingleObject(request.object, description, failed.error))
    return failed;
  sim::UseFastCameras(description);
  if (request.editScene) request.editScene(description);
  options.scene = description;
  options.imageScale = request.imageScale;
  RigScanSession session(options);
  if (!session.Start(failed.error)) return failed;
  return session.ScanTurntable(request.views, request.startAngle, request.stepAngle,
                               request.scanOptions);
}

double WorstDepthRms(const sim::TurntableSet& set) {
  double worst = 0.0;
  for (const auto& scan : set.scans) worst = std::max(worst, scan.depthScore.rms);
  return worst;
}

}  // namespace shell::testing
