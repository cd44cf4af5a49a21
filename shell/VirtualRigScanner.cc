#include "shell/VirtualRigScanner.h"

#include <stdexcept>

#include "sim/VirtualRig.h"
#include "surf/files/MeshFormats.h"
#include "surf/mesh/GeoItem.h"

namespace shell {
namespace {

sim::TriMesh LoadObjectMesh(const std::filesystem::path& path) {
  surf::GeoItem item;
  if (!surf::LoadMesh(path, item) || !item.geo || item.geo->GetNumMeshes() == 0)
    throw std::runtime_error(path.string() + ": cannot read a triangle mesh");
  return sim::FromV3dMesh(*item.geo->GetMesh(0));
}

// The rig of the setup file's folder, with at least minCameras cameras.
ScannerBundle CreateRig(const ScannerContext& context, std::size_t minCameras) {
  auto rig = LoadVirtualRig(context, minCameras);
  const std::filesystem::path folder = context.setupFile.parent_path();
  ScannerBundle bundle;
  bundle.device = rig;
  bundle.deviceKind = kVirtualRigDevice;
  const auto& projector = rig->GetProjector();
  bundle.patternWindow = MakeRigPatternWindow(context, *rig);
  bundle.scanner = std::make_shared<scan::StructuredLightScanner>(context.initParams);
  auto& scanner = *bundle.scanner;
  for (std::size_t c = 0; c < rig->GetCameraCount(); ++c) {
    const std::size_t index = scanner.AddCamera(rig->GetCamera(c)->GetName(), false);
    scanner.SetImageCapture(rig->GetCamera(c), index);
    scanner.SetCameraModel(rig->GetCameraModel(c), index);
  }
  scanner.SetProjector("VirtualProjector", bundle.patternWindow->GetPatternDisplay());
  scanner.SetProjectorModel(rig->GetProjectorModel());
  context.log("Virtual rig: " + folder.string() + ", " + std::to_string(rig->GetCameraCount()) +
              " cameras, projector " + std::to_string(projector->GetOptions().width) + " x " +
              std::to_string(projector->GetOptions().height));
  return bundle;
}

}  // namespace

std::shared_ptr<sim::VirtualRig> LoadVirtualRig(
    const ScannerContext& context, std::size_t minCameras,
    const std::function<void(scan::HardwareSetupIO&)>& adjust) {
  if (context.setupFile.empty())
    throw std::runtime_error("the virtual rig needs a rig folder as hardware setup");
  const std::filesystem::path folder = context.setupFile.parent_path();
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  std::string error;
  if (!sim::LoadRigFolder(folder, setup, description, error)) throw std::runtime_error(error);
  if (setup.cameras.empty())
    throw std::runtime_error("the rig folder's hardware setup " + context.setupFile.string() +
                             " has no camera");
  if (setup.cameras.size() < minCameras)
    throw std::runtime_error(
        "the stereo rig needs a hardware setup with two cameras; " + context.setupFile.string() +
        " has " + std::to_string(setup.cameras.size()) + " (choose the profile VirtualStereo)");
  if (adjust) adjust(setup);
  sim::Scene scene =
      sim::BuildScene(description, LoadObjectMesh, (folder / sim::kRigSceneFile).string());
  sim::VirtualRig::Options options;
  options.imageScale = context.commandLine.rigImageScale;
  options.seed = context.commandLine.rigSeed;
  return std::make_shared<sim::VirtualRig>(setup, description, std::move(scene), options);
}

bool IsRigFolderSetup(const ScannerContext& context) {
  return !context.setupFile.empty() && context.setupFile.filename() == sim::kRigSetupFile;
}

std::shared_ptr<PatternWindow> MakeRigPatternWindow(const ScannerContext& context,
                                                    const sim::VirtualRig& rig) {
  const auto& projector = rig.GetProjector();
  scan::SLPatternDisplayPtr display = projector;
  if (context.projectorWindow)
    display = std::make_shared<TeePatternDisplay>(projector, context.projectorWindow);
  return std::make_shared<MaskedPatternWindow>(std::move(display), projector->GetOptions().width,
                                               projector->GetOptions().height);
}

ScannerBundle CreateVirtualRigScanner(const ScannerContext& context) {
  return CreateRig(context, 1);
}

ScannerBundle CreateVirtualStereoRigScanner(const ScannerContext& context) {
  return CreateRig(context, 2);
}

void RegisterVirtualRig(Application::Options& options) {
  options.products[kVirtualProduct] = CreateVirtualRigScanner;
  options.products[kVirtualStereoProduct] = CreateVirtualStereoRigScanner;
}

sim::VirtualRig* GetVirtualRig(const ScannerBundle& bundle) {
  if (bundle.deviceKind != kVirtualRigDevice) return nullptr;
  return static_cast<sim::VirtualRig*>(bundle.device.get());
}

}  // namespace shell
