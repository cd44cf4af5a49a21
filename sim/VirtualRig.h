#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cam/CameraModel.h"
#include "scan/HardwareSetupIO.h"
#include "sim/RayCaster.h"
#include "sim/Scene.h"
#include "sim/SceneFile.h"
#include "sim/VirtualCamera.h"
#include "sim/VirtualProjector.h"

namespace sim {

// A rig folder holds "rig.tarvelinsetup" (the hardware setup: the true
// camera models, the projector model as an inverse camera in normalised
// coordinates, and the projector's display size as its extended display)
// and "scene.json" (a scene file: objects, turntable, light, noise, latency,
// frame rate).
inline constexpr const char* kRigSetupFile = "rig.tarvelinsetup";
inline constexpr const char* kRigSceneFile = "scene.json";

// Reads both files of a rig folder; false with a one-line reason in error
// (naming the file) when either cannot be read or the setup lacks valid
// camera or projector models or a display size.
bool LoadRigFolder(const std::filesystem::path& folder, scan::HardwareSetupIO& setup, SceneDescription& scene,
                   std::string& error);

// The setups shipped in share/rigs: one 1280 × 960 camera ("default") or
// two either side of the projector ("stereo"), a 1920 × 1080 projector, all
// aimed at the turntable centre from about 400 mm with about 20° between
// camera and projector; Tsai models (the cameras with slight radial
// distortion). World: z up, the turntable centre at the origin.
scan::HardwareSetupIO MakeShippedRigSetup(bool stereo);

// The projector and cameras of a rig over a scene. With imageScale < 1 the
// cameras and the projector's display shrink (models rescaled), for quick
// runs. Cameras are named after the setup's cameras; their rig settings come
// from the scene description, "exposure" and "gain" from the setup's camera
// properties when present.
class VirtualRig {
 public:
  struct Options {
    double imageScale = 1.0;
    int supersampling = 2;
    std::uint32_t seed = 1;
    double projectorDefocus = 0.0;  // projector pixels
    bool colorCameras = false;
    double cameraGamma = 1.0;
    double cameraDefocus = 0.0;  // camera pixels (Gaussian σ)
  };

  // Throws std::invalid_argument for a setup without cameras, models or
  // display size, or an image scale outside (0, 1].
  VirtualRig(const scan::HardwareSetupIO& setup, const SceneDescription& description, Scene scene,
             const Options& options);

  // Turns the turntable (radians) and casts every camera's rays again.
  void SetTurntableAngle(double angle);

  const Scene& GetScene() const { return m_scene; }
  const std::shared_ptr<VirtualProjector>& GetProjector() const { return m_projector; }
  const std::shared_ptr<cam::CameraModel>& GetProjectorModel() const { return m_projectorModel; }
  std::size_t GetCameraCount() const { return m_cameras.size(); }
  const std::shared_ptr<VirtualCamera>& GetCamera(std::size_t i) const { return m_cameras.at(i); }
  const std::shared_ptr<cam::CameraModel>& GetCameraModel(std::size_t i) const { return m_cameraModels.at(i); }

 private:
  void Cast();

  Scene m_scene;
  std::shared_ptr<VirtualProjector> m_projector;
  std::shared_ptr<cam::CameraModel> m_projectorModel;
  std::vector<std::shared_ptr<cam::CameraModel>> m_cameraModels;
  std::vector<std::shared_ptr<VirtualCamera>> m_cameras;
};

}  // namespace sim
