#pragma once

// The rig scenes the target benchmarks share: the default rig with a second,
// 1920 × 1200 camera (f = 2500 px, kappa1 = −3e-9) at the place of its own.

#include <memory>
#include <string>

#include "cam/CameraModelTsai.h"
#include "sim/RigSetup.h"

namespace bench {

inline bool LoadTargetRig(scan::HardwareSetupIO& setup, sim::SceneDescription& description,
                          std::string& error) {
  if (!sim::LoadRigFolder(sim::ResolveRigFolder("default"), setup, description, error))
    return false;
  auto wide = std::make_shared<cam::CameraModelTsai>();
  wide->SetIntrinsics(973.7, 571.2, 2500.0, 1.0, -3e-9);
  wide->SetResolution(1920, 1200);
  wide->SetFrame_wTc(setup.cameras[0].cameraModel->GetFrame_wTc());
  setup.cameras.push_back(setup.cameras[0]);
  setup.cameras[1].name = "Wide";
  setup.cameras[1].cameraModel = wide;
  return true;
}

}  // namespace bench
