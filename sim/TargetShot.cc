#include "sim/TargetShot.h"

#include "sim/VirtualRig.h"

namespace sim {

double CornerScale(const scan::HardwareSetupIO& setup) {
  return setup.calibration.scale > 0.0 ? setup.calibration.scale : 40.0;
}

bool ShootTargets(const scan::HardwareSetupIO& setup, const SceneDescription& description,
                  std::size_t camera, const std::vector<PlacedTarget>& targets,
                  const TargetRenderOptions& options, TargetShot& shot, std::string& error) {
  if (camera >= setup.cameras.size()) {
    error = "the rig has no camera " + std::to_string(camera);
    return false;
  }
  try {
    scan::HardwareSetupIO single = setup;
    single.cameras = {setup.cameras[camera]};
    if (options.gain > 0.0)
      single.cameras[0].cameraProperties["gain"] = vid::Property(options.gain);
    SceneDescription settings = description;
    if (options.noiseSigma >= 0.0) settings.settings.noiseSigma = options.noiseSigma;
    VirtualRig::Options o;
    o.supersampling = options.supersampling;
    o.seed = options.seed;
    o.cameraGamma = options.cameraGamma;
    o.cameraDefocus = options.cameraDefocus;
    Scene scene = MakeTargetScene(targets, options.print);
    if (options.editScene) options.editScene(scene);
    VirtualRig rig(single, settings, std::move(scene), o);
    shot.image = RenderLitImage(rig, 0, true);
    shot.targets = targets;
    shot.camera = rig.GetCameraModel(0);
    const RayCaster caster(rig.GetScene());
    shot.marks = ComputeMarkTruth(targets, *shot.camera, caster);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace sim
