#pragma once

#include <functional>
#include <string>

#include "shell/RigScanSession.h"
#include "sim/RigScanResult.h"
#include "sim/SceneFile.h"

// Turntable sets of one object on a rig, scanned by the shell's workflow on
// the rig product, for the rig tests and the accuracy programs.
namespace shell::testing {

struct RigTurntableRequest {
  std::string rig = "default";  // as sim::ResolveRigFolder takes it
  std::string object = "vase";  // as sim::SetSingleObject takes it
  double imageScale = 1.0;
  int views = 8;
  double startAngle = 0.0, stepAngle = 0.0;  // radians
  RigScanOptions scanOptions;
  // Changes the scene after the object is set and the cameras made fast.
  std::function<void(sim::SceneDescription&)> editScene;
};

// Scans the set on the rig's scene with fast cameras (sim::UseFastCameras).
// A rig or scene that cannot be built gives status kFailed and its reason.
sim::TurntableSet ScanRigTurntable(const RigTurntableRequest& request);

// The worst depth error RMS of the set's scans, mm.
double WorstDepthRms(const sim::TurntableSet& set);

}  // namespace shell::testing
