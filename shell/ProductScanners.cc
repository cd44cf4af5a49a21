#include "shell/ProductScanners.h"

#include "devices/galvern/ScannerHeads.h"
#include "devices/sls/GenericStructuredLightScanner.h"
#include "shell/FelvarProduct.h"
#include "shell/SettingPath.h"
#include "shell/VirtualRigScanner.h"

namespace shell {
namespace {

ScannerBundle Generic(const ScannerContext& context) {
  const std::string product =
      context.settings
          ? context.settings->GetSetting<std::string>(SettingPath("HardwareSetup/Product")).Value()
          : std::string("Custom");
  return SetUpScanner(
      std::make_shared<sls::GenericStructuredLightScanner>(product, context.initParams), context,
      true);
}

ScannerBundle Galvern(const ScannerContext& context) {
  return SetUpScanner(std::make_shared<galvern::GalvernStructuredLightScanner>(context.initParams),
                      context, true);
}

ScannerBundle Tirra(const ScannerContext& context) {
  auto head = std::make_shared<galvern::TirraStructuredLightScanner>(0, context.initParams);
  head->SetCalibrationFolder(context.root.GetFolder() / "calibration");
  ScannerBundle bundle = SetUpScanner(head, context, true);
  bundle.updateSystemCalibration = [head] { return head->UpdateSystemCalibration(); };
  return bundle;
}

ScannerBundle TirraForFelvar(const ScannerContext& context) {
  if (context.settings)
    context.settings->GetSetting<std::string>(SettingPath("Scan/ScanMode")).SetValue("background");
  return Tirra(context);
}

}  // namespace

void RegisterProducts(Application::Options& options) {
  RegisterVirtualRig(options);
  options.products["Galvern"] = Galvern;
  options.products[kFelvarProduct] = CreateFelvarScanner;
  options.products["TirraForFelvar"] = TirraForFelvar;
  options.products["ScannerModelF"] = Tirra;
  options.products["Custom"] = Generic;
  options.otherProducts = Generic;
}

}  // namespace shell
