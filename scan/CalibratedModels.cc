#include "scan/CalibratedModels.h"

namespace scan {

bool UseSetupModels(StructuredLightScanner& scanner, const HardwareSetupIO& setup,
                    std::string& error) {
  if (setup.cameras.size() != scanner.GetCameraCount()) {
    error = "the setup has " + std::to_string(setup.cameras.size()) + " camera(s), the scanner " +
            std::to_string(scanner.GetCameraCount());
    return false;
  }
  if (!setup.projector.projectorModel) {
    error = "the setup has no projector model";
    return false;
  }
  std::vector<std::shared_ptr<cam::CameraModel>> models;
  for (std::size_t c = 0; c < setup.cameras.size(); ++c) {
    if (!setup.cameras[c].cameraModel) {
      error = "camera " + std::to_string(c) + " of the setup has no model";
      return false;
    }
    std::shared_ptr<cam::CameraModel> model = setup.cameras[c].cameraModel->CloneModel();
    if (const auto current = scanner.GetCameraModel(c))
      model->ScaleToResolution(current->GetResX(), current->GetResY());
    models.push_back(std::move(model));
  }
  for (std::size_t c = 0; c < models.size(); ++c) scanner.SetCameraModel(models[c], c);
  scanner.SetProjectorModel(setup.projector.projectorModel->CloneModel());
  return true;
}

bool UseSetupFile(StructuredLightScanner& scanner, const std::string& path, std::string& error) {
  HardwareSetupIO setup;
  if (!LoadHardwareSetup(setup, path)) {
    error = "the file cannot be read as a hardware setup";
    return false;
  }
  return UseSetupModels(scanner, setup, error);
}

}  // namespace scan
