#include "shell/FelvarProduct.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "devices/felvar/DeviceLibrary.h"
#include "devices/felvar/FelvarStructuredLightScanner.h"
#include "shell/VirtualRigScanner.h"
#include "sim/VirtualFelvarUnit.h"
#include "sim/VirtualRig.h"
#include "vid/MediaType.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace shell {
namespace {

using felvar::FelvarStructuredLightScanner;
constexpr std::uint32_t kRigMode = felvar::CameraModelFelvar::kQuarterWidth;

// The unit's sensor as the rig renders it: every ray of a pixel's footprint
// takes the phase shift of that pixel (the one whose centre is nearest, as
// centres lie at integer coordinates), so that the pixel as a whole is
// shifted; at the pixel centres it is the unit's model.
class RenderedSensorModel : public felvar::CameraModelFelvar {
 public:
  bool PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const override {
    const math::Vec2d centre{std::round(pixel[0]), std::round(pixel[1])};
    return cam::CameraModelTsai::PixelToCameraRay(ray, pixel + PhaseOffset(centre, GetResX()));
  }
  std::unique_ptr<cam::CameraModel> CloneModel() const override {
    return std::make_unique<RenderedSensorModel>(*this);
  }
};

// What the rig's unit keeps alive: the scanner goes before the back-end.
struct RigUnit {
  std::shared_ptr<sim::VirtualRig> rig;
  std::shared_ptr<sim::VirtualFelvarUnit> unit;
  std::shared_ptr<vid::testing::ReplayV4l2Bus> bus;
  std::shared_ptr<scan::StructuredLightScanner> scanner;
  const felvar::DeviceLibrary::Calls* library = nullptr;
  ~RigUnit() {
    scanner.reset();
    if (library) library->setBackend(nullptr);
  }
};

// The setup of the unit: its one camera and its projector.
scan::HardwareSetupIO UnitSetup(const scan::HardwareSetupIO& setup) {
  scan::HardwareSetupIO unit = setup;
  unit.cameras.resize(1);
  unit.cameras[0] = {};
  unit.cameras[0].name = FelvarStructuredLightScanner::kCameraName;
  unit.projector.extendedDisplay.name = FelvarStructuredLightScanner::kProjectorName;
  unit.projector.extendedDisplay.resX = 1920;
  unit.projector.extendedDisplay.resY = 1080;
  return unit;
}

// The rig camera's frame at the mode's size: grey as it is, RGB24 for the
// texture mode as every grey pixel repeated over a block.
void RenderRigFrame(sim::VirtualCamera& camera, const sim::VirtualProjector& projector,
                    std::uint32_t fourcc, std::uint32_t width, std::uint32_t height,
                    std::uint32_t bytesPerLine, std::vector<std::uint8_t>& bytes) {
  const std::vector<std::uint8_t> frame = camera.RenderFrame(projector.Now(), true);
  const std::uint32_t cw = camera.GetModel().GetResX(), ch = camera.GetModel().GetResY();
  const std::size_t channels = frame.size() / (std::size_t(cw) * ch);
  if (channels == 0) return;
  const auto grey = [&](std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = &frame[(std::size_t(y) * cw + x) * channels];
    return channels == 1 ? p[0] : std::uint8_t((p[0] + p[1] + p[2]) / 3);
  };
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* row = &bytes[std::size_t(y) * bytesPerLine];
    const std::uint32_t sy = std::min(ch - 1, std::uint32_t(std::uint64_t(y) * ch / height));
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint8_t g =
          grey(std::min(cw - 1, std::uint32_t(std::uint64_t(x) * cw / width)), sy);
      if (fourcc == vid::fourcc::GREY)
        row[x] = g;
      else
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = g;
    }
  }
}

ScannerBundle CreateRigUnit(const ScannerContext& context,
                            const felvar::DeviceLibrary::Calls& library) {
  if (context.commandLine.rigImageScale != 1.0)
    throw std::runtime_error(
        "the Felvar unit on the virtual rig runs at the full rig scale (its sensor modes are "
        "fixed)");
  auto holder = std::make_shared<RigUnit>();
  // The rig's first camera as the unit's: a Felvar model in the quarter mode.
  holder->rig = LoadVirtualRig(context, 1, [](scan::HardwareSetupIO& setup) {
    auto* tsai = dynamic_cast<const cam::CameraModelTsai*>(setup.cameras[0].cameraModel.get());
    if (!tsai)
      throw std::runtime_error(
          "the Felvar unit on the virtual rig needs a Tsai model of the rig's camera");
    auto model = std::make_shared<RenderedSensorModel>();
    static_cast<cam::CameraModelTsai&>(*model) = *tsai;
    model->ScaleToResolution(kRigMode, kRigMode * 3 / 4);
    setup.cameras.resize(1);
    setup.cameras[0].name = FelvarStructuredLightScanner::kCameraName;
    setup.cameras[0].cameraModel = model;
  });
  sim::VirtualRig& rig = *holder->rig;
  const auto camera = rig.GetCamera(0);

  // The factory calibration: the camera in the half mode, the projector.
  felvar::CameraModelFelvar half(
      dynamic_cast<const felvar::CameraModelFelvar&>(*rig.GetCameraModel(0)));
  half.ScaleToResolution(felvar::CameraModelFelvar::kHalfWidth,
                         felvar::CameraModelFelvar::kHalfWidth * 3 / 4);
  std::string cameraText, projectorText;
  half.WriteToXML(cameraText);
  rig.GetProjectorModel()->WriteToXML(projectorText);
  holder->unit = std::make_shared<sim::VirtualFelvarUnit>(cameraText, projectorText, camera);
  if (library.setBackend(&holder->unit->GetBackend()) != VEMKO_OK)
    throw std::runtime_error("the unit's device library refused the virtual rig's unit");
  holder->library = &library;

  vid::testing::ReplayDescriptor bridge;
  bridge.card = FelvarStructuredLightScanner::kCameraName;
  const std::uint32_t rate = std::max(1u, std::uint32_t(camera->GetOptions().frameRateHz + 0.5));
  bridge.formats = {{vid::fourcc::GREY, "GREY", false, {{kRigMode, kRigMode * 3 / 4, {{1, rate}}}}},
                    {vid::fourcc::RGB24, "RGB3", false, {{4416, 3312, {{1, 7}}}}}};
  bridge.render = [camera, projector = rig.GetProjector()](
                      std::uint32_t fourcc, std::uint32_t w, std::uint32_t h, std::uint32_t stride,
                      std::uint64_t, std::vector<std::uint8_t>& bytes) {
    RenderRigFrame(*camera, *projector, fourcc, w, h, stride, bytes);
  };
  holder->bus = std::make_shared<vid::testing::ReplayV4l2Bus>();
  holder->bus->Plug("/dev/video0", bridge);

  FelvarStructuredLightScanner::Options options;
  options.v4l2 = holder->bus;
  options.slsWidth = kRigMode;
  options.programData = context.root.GetFolder().string();
  // The rig camera's own exposure and gain (tenths of a millisecond, sixteenths).
  options.exposure = std::uint16_t(camera->GetProperty("exposure").value * 10.0 + 0.5);
  auto scanner = std::make_shared<FelvarStructuredLightScanner>(context.initParams, options);
  if (!scanner->HasFactoryCalibration())
    throw std::runtime_error("the virtual rig's Felvar unit gave no factory calibration");
  const std::size_t index = scanner->AddCamera(FelvarStructuredLightScanner::kCameraName, false);
  if (!scanner->CreateImageCapture(index))
    throw std::runtime_error(
        "the virtual rig's Felvar camera could not be opened in its structured-light mode");

  ScannerBundle bundle;
  bundle.patternWindow = MakeRigPatternWindow(context, rig);
  scanner->SetProjector(FelvarStructuredLightScanner::kProjectorName,
                        bundle.patternWindow->GetPatternDisplay());
  bundle.scanner = scanner;
  holder->scanner = scanner;
  bundle.device = std::shared_ptr<void>(holder, holder->rig.get());  // the rig, kept by the holder
  bundle.deviceKind = kVirtualRigDevice;
  context.log("Felvar unit of the virtual rig: " + context.setupFile.parent_path().string() +
              ", camera " + std::to_string(kRigMode) + " x " + std::to_string(kRigMode * 3 / 4) +
              ", projector 1920 x 1080");
  return bundle;
}

}  // namespace

ScannerBundle CreateFelvarScanner(const ScannerContext& context) {
  std::string error;
  const felvar::DeviceLibrary::Calls* library = felvar::DeviceLibrary::Get(error);
  if (!library) throw std::runtime_error("Felvar: " + error);
  if (IsRigFolderSetup(context)) return CreateRigUnit(context, *library);

  FelvarStructuredLightScanner::Options options;
  options.programData = context.root.GetFolder().string();
  auto scanner = std::make_shared<FelvarStructuredLightScanner>(context.initParams, options);
  const scan::HardwareSetupIO unitSetup = UnitSetup(context.setup);
  ScannerContext unitContext{
      context.root,        unitSetup,   context.setupFile,       context.initParams,
      context.commandLine, context.log, context.projectorWindow, context.settings};
  ScannerBundle bundle = SetUpScanner(scanner, unitContext, true);
  if (auto projector = scanner->GetFactoryProjectorModel()) scanner->SetProjectorModel(projector);
  return bundle;
}

}  // namespace shell
