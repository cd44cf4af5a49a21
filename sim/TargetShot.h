#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/HardwareSetupIO.h"
#include "sim/SceneFile.h"
#include "sim/TargetScene.h"

namespace sim {

// How a rig camera's picture of printed targets is made.
struct TargetRenderOptions {
  int supersampling = 2;  // n × n rays per pixel, each integrating the print over its footprint
  double cameraDefocus = 0.7;  // Gaussian σ, pixels
  double cameraGamma = 2.2;
  double noiseSigma = -1.0;  // grey levels; negative: the rig scene's noise
  double gain = 0.0;         // 0: the setup's camera gain
  std::uint32_t seed = 1;
  PrintOptions print;
  // Changes the targets' scene before it is rendered (occluders, …).
  std::function<void(Scene&)> editScene;
};

// A rig camera's picture of targets and the truth about it.
struct TargetShot {
  img::GreyImage image;
  std::vector<PlacedTarget> targets;
  std::vector<MarkTruth> marks;
  std::shared_ptr<const cam::CameraModel> camera;  // the true model
};

// The panel scale of a setup (its calibration scale; 40 when it has none).
double CornerScale(const scan::HardwareSetupIO& setup);

// What camera `camera` of the rig (its setup and scene settings: noise,
// ambient light, latency) sees of the targets alone while the projector
// shows full white: the real camera path (the camera model's optics, the
// footprint-integrated print, defocus, gamma, noise). False with a one-line
// reason when the rig cannot be built.
bool ShootTargets(const scan::HardwareSetupIO& setup, const SceneDescription& description,
                  std::size_t camera, const std::vector<PlacedTarget>& targets,
                  const TargetRenderOptions& options, TargetShot& shot, std::string& error);

}  // namespace sim
