#include "sim/VirtualRig.h"

#include <cmath>
#include <stdexcept>

#include "cam/CameraModelTsai.h"
#include "sim/GroundTruth.h"

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::shared_ptr<cam::CameraModelTsai> Tsai(std::uint32_t w, std::uint32_t h, double f, double kappa1,
                                           const math::Vec3d& eye, const math::Vec3d& target) {
  auto model = std::make_shared<cam::CameraModelTsai>();
  model->SetIntrinsics(w / 2.0, h / 2.0, f, 1.0, kappa1);
  model->SetResolution(w, h);
  model->SetFrame_wTc(LookAt(eye, target, {0.0, 0.0, 1.0}));
  return model;
}

// A point at `distance` from target, `azimuth` degrees about z from −y
// (positive to +x) and `elevation` degrees above the horizontal.
math::Vec3d Eye(const math::Vec3d& target, double distance, double azimuthDeg, double elevationDeg) {
  const double a = azimuthDeg * kPi / 180.0, e = elevationDeg * kPi / 180.0;
  return target + math::Vec3d{distance * std::cos(e) * std::sin(a), -distance * std::cos(e) * std::cos(a),
                              distance * std::sin(e)};
}

}  // namespace

scan::HardwareSetupIO MakeShippedRigSetup(bool stereo) {
  const math::Vec3d target{0.0, 0.0, 0.0};
  constexpr double kDistance = 400.0, kElevation = 15.0;
  scan::HardwareSetupIO setup;
  setup.product = stereo ? "Tarvelin virtual stereo rig" : "Tarvelin virtual rig";
  setup.calibration.scale = 40.0;  // calibration panels with 10 mm node spacing
  setup.calibration.orientation = "None";
  const std::vector<double> azimuths = stereo ? std::vector<double>{-20.0, 20.0} : std::vector<double>{-20.0};
  for (std::size_t i = 0; i < azimuths.size(); ++i) {
    scan::HardwareSetupIO::Camera camera;
    camera.name = "VirtualCamera" + std::to_string(i);
    camera.cameraModel = Tsai(1280, 960, 2200.0, -2e-9, Eye(target, kDistance, azimuths[i], kElevation), target);
    camera.whiteBalanceFactors = {1.0f, 1.0f, 1.0f};
    camera.cameraProperties["exposure"] = vid::Property(10.0);
    camera.cameraProperties["gain"] = vid::Property(1.0);
    setup.cameras.push_back(std::move(camera));
  }
  // The projector between or beside the cameras, in normalised coordinates.
  auto projector = Tsai(1920, 1080, 2400.0, 0.0, Eye(target, kDistance, 0.0, kElevation), target);
  projector->ScaleToResolution(1, 1);
  setup.projector.modelType = "CameraModelTsai";
  setup.projector.projectorModel = projector;
  setup.projector.extendedDisplay = {"VirtualProjector", 1, 0, 0, 1920, 1080, 60.0};
  return setup;
}

bool LoadRigFolder(const std::filesystem::path& folder, scan::HardwareSetupIO& setup, SceneDescription& scene,
                   std::string& error) {
  const auto setupPath = folder / kRigSetupFile;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    error = folder.string() + ": not a rig folder";
    return false;
  }
  if (!std::filesystem::is_regular_file(setupPath, ec) || !scan::LoadHardwareSetup(setup, setupPath.string())) {
    error = setupPath.string() + ": cannot read the hardware setup";
    return false;
  }
  if (setup.cameras.empty()) {
    error = setupPath.string() + ": no camera";
    return false;
  }
  for (const auto& camera : setup.cameras) {
    if (!camera.cameraModel || !camera.cameraModel->IsValid() || camera.cameraModel->GetResX() == 0) {
      error = setupPath.string() + ": camera \"" + camera.name + "\" has no valid model";
      return false;
    }
  }
  if (!setup.projector.projectorModel || !setup.projector.projectorModel->IsValid() ||
      setup.projector.extendedDisplay.resX <= 0 || setup.projector.extendedDisplay.resY <= 0) {
    error = setupPath.string() + ": no valid projector model or display size";
    return false;
  }
  try {
    scene = ReadSceneFile(folder / kRigSceneFile);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

VirtualRig::VirtualRig(const scan::HardwareSetupIO& setup, const SceneDescription& description, Scene scene,
                       const Options& options)
    : m_scene(std::move(scene)) {
  const std::string prefix = "sim::VirtualRig::VirtualRig - ";
  if (!(options.imageScale > 0.0 && options.imageScale <= 1.0))
    throw std::invalid_argument(prefix + "the image scale must lie in (0, 1].");
  if (setup.cameras.empty()) throw std::invalid_argument(prefix + "the setup has no camera.");
  if (!setup.projector.projectorModel || setup.projector.extendedDisplay.resX <= 0 ||
      setup.projector.extendedDisplay.resY <= 0)
    throw std::invalid_argument(prefix + "the setup has no projector model or display size.");
  auto scaled = [&](std::int32_t n) { return std::max<std::uint32_t>(8, std::uint32_t(std::lround(n * options.imageScale))); };

  VirtualProjector::Options projector;
  projector.width = scaled(setup.projector.extendedDisplay.resX);
  projector.height = scaled(setup.projector.extendedDisplay.resY);
  projector.defocusSigma = options.projectorDefocus;
  m_projector = std::make_shared<VirtualProjector>(projector);
  m_projectorModel = setup.projector.projectorModel->CloneModel();

  for (std::size_t i = 0; i < setup.cameras.size(); ++i) {
    const auto& camera = setup.cameras[i];
    if (!camera.cameraModel) throw std::invalid_argument(prefix + "camera \"" + camera.name + "\" has no model.");
    std::shared_ptr<cam::CameraModel> model = camera.cameraModel->CloneModel();
    model->ScaleToResolution(scaled(std::int32_t(model->GetResX())), scaled(std::int32_t(model->GetResY())));
    VirtualCamera::Options o;
    o.name = camera.name;
    o.color = options.colorCameras;
    o.frameRateHz = description.settings.frameRateHz;
    o.latencyMs = description.settings.latencyMs;
    o.noiseSigma = description.settings.noiseSigma;
    o.ambientLight = description.settings.ambientLight;
    o.seed = options.seed + std::uint32_t(i) * 7919u;
    o.supersampling = options.supersampling;
    o.cameraGamma = options.cameraGamma;
    o.defocusSigma = options.cameraDefocus;
    if (auto it = camera.cameraProperties.find("exposure"); it != camera.cameraProperties.end())
      o.exposureMs = it->second.value;
    if (auto it = camera.cameraProperties.find("gain"); it != camera.cameraProperties.end())
      o.gain = it->second.value;
    m_cameraModels.push_back(model);
    m_cameras.push_back(std::make_shared<VirtualCamera>(model, m_projectorModel, m_projector, o));
  }
  Cast();
}

void VirtualRig::SetTurntableAngle(double angle) {
  m_scene.SetTurntableAngle(angle);
  Cast();
}

void VirtualRig::Cast() {
  const RayCaster caster(m_scene);
  for (auto& camera : m_cameras) camera->SetScene(caster);
}

}  // namespace sim
