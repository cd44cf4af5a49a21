#include "sim/CalibrationRig.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "scan/SLCodedLightScan.h"
#include "scan/StructuredLightScanner.h"
#include "sim/VirtualRig.h"

namespace sim {
namespace {

struct Perturber {
  const SetupPerturbation& p;
  std::mt19937 random;

  double Sign() { return std::uniform_int_distribution<int>(0, 1)(random) ? 1.0 : -1.0; }
  math::Vec3d Direction() {
    std::normal_distribution<double> n(0.0, 1.0);
    math::Vec3d d{n(random), n(random), n(random)};
    return d.Length() > 0.0 ? d.GetNormalized() : math::Vec3d{1.0, 0.0, 0.0};
  }

  // pixelsX, pixelsY: the model's units per (display) pixel.
  std::shared_ptr<cam::CameraModel> Perturb(const cam::CameraModel& truth, double pixelX,
                                            double pixelY) {
    std::shared_ptr<cam::CameraModel> model = truth.CloneModel();
    const double df = 1.0 + Sign() * p.focal;
    const double dx = Sign() * p.principalPoint * pixelX, dy = Sign() * p.principalPoint * pixelY;
    if (auto* tsai = dynamic_cast<cam::CameraModelTsai*>(model.get())) {
      auto i = tsai->GetIntrinsics();
      i.f *= df, i.cx += dx, i.cy += dy;
      tsai->SetIntrinsics(i);
    } else if (auto* ocv = dynamic_cast<cam::CameraModelOCV*>(model.get())) {
      auto i = ocv->GetIntrinsics();
      i.f *= df, i.cx += dx, i.cy += dy;
      ocv->SetIntrinsics(i, ocv->GetResX(), ocv->GetResY());
    }
    const math::Frame<double>& wTc = truth.GetFrame_wTc();
    const math::Vec3d centre = wTc.GetTrans();
    // Turned about the projection centre, then moved.
    model->SetFrame_wTc(math::FTrans(centre + Direction() * p.positionMm) *
                        math::FRotAxis(Direction(), p.rotationRad) * math::FTrans(centre * -1.0) *
                        wTc);
    return model;
  }
};

void Intrinsics(const cam::CameraModel& m, double& f, double& cx, double& cy, bool& ok) {
  ok = true;
  if (const auto* t = dynamic_cast<const cam::CameraModelTsai*>(&m)) {
    f = t->GetIntrinsics().f, cx = t->GetIntrinsics().cx, cy = t->GetIntrinsics().cy;
  } else if (const auto* o = dynamic_cast<const cam::CameraModelOCV*>(&m)) {
    f = o->GetIntrinsics().f, cx = o->GetIntrinsics().cx, cy = o->GetIntrinsics().cy;
  } else {
    ok = false;
  }
}

}  // namespace

scan::HardwareSetupIO PerturbSetup(const scan::HardwareSetupIO& truth,
                                   const SetupPerturbation& perturbation, std::uint32_t seed) {
  Perturber perturber{perturbation, std::mt19937(seed)};
  scan::HardwareSetupIO setup = truth;
  for (auto& camera : setup.cameras) {
    if (camera.cameraModel) camera.cameraModel = perturber.Perturb(*camera.cameraModel, 1.0, 1.0);
  }
  if (const auto& model = setup.projector.projectorModel) {
    const auto& display = setup.projector.extendedDisplay;
    const double px = display.resX > 0 ? double(model->GetResX()) / display.resX : 1.0;
    const double py = display.resY > 0 ? double(model->GetResY()) / display.resY : 1.0;
    setup.projector.projectorModel = perturber.Perturb(*model, px, py);
  }
  return setup;
}

bool CompareModels(const cam::CameraModel& estimate, const cam::CameraModel& truth,
                   ModelError& error) {
  double f0 = 0, cx0 = 0, cy0 = 0, f1 = 0, cx1 = 0, cy1 = 0;
  bool ok0 = false, ok1 = false;
  Intrinsics(estimate, f0, cx0, cy0, ok0);
  Intrinsics(truth, f1, cx1, cy1, ok1);
  if (!ok0 || !ok1 || f1 == 0.0) return false;
  error.focalRelative = std::abs(f0 - f1) / std::abs(f1);
  error.cx = cx0 - cx1;
  error.cy = cy0 - cy1;
  error.position = (estimate.GetFrame_wTc().GetTrans() - truth.GetFrame_wTc().GetTrans()).Length();
  // The rotation between the poses: its angle from the trace.
  const math::Frame<double> d = truth.GetFrame_cTw() * estimate.GetFrame_wTc();
  const double trace = d(0, 0) + d(1, 1) + d(2, 2);
  error.rotation = std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0));
  return true;
}

std::vector<scan::SLScanEvaluationResultPtr> ScanTargets(const scan::HardwareSetupIO& setup,
                                                         const SceneDescription& description,
                                                         const std::vector<PlacedTarget>& targets,
                                                         const utils::ProgressCallback& progress,
                                                         std::string& error) {
  error.clear();
  try {
    VirtualRig::Options o;
    VirtualRig rig(setup, description, MakeTargetScene(targets), o);
    const auto& projector = rig.GetProjector()->GetOptions();
    auto coded =
        std::make_shared<scan::SLCodedLightScan>(projector.width, projector.height, 4, 16, 0, 5.0f);
    coded->PrepareScanForOrientation(1);
    coded->PrepareScanForOrientation(0);
    for (const auto& pattern : coded->AllPatterns()) {
      pattern->SetBrightness(255);
      pattern->SetProjectorGamma(projector.displayGamma);
    }
    scan::StructuredLightScanner scanner(scan::StructuredLightScanner::InitParams{});
    for (std::size_t c = 0; c < rig.GetCameraCount(); ++c) {
      const std::size_t index = scanner.AddCamera(rig.GetCamera(c)->GetName(), false);
      scanner.SetImageCapture(rig.GetCamera(c), index);
      scanner.SetCameraModel(rig.GetCameraModel(c), index);
    }
    scanner.SetProjector("VirtualProjector", rig.GetProjector());
    scanner.SetProjectorModel(rig.GetProjectorModel());
    scanner.SetSLScan(coded);
    bool cancelled = false;
    const utils::SubProgress capture(progress, 0.0, 0.8), evaluate(progress, 0.8, 1.0);
    scanner.CapturePatternSequence([&](double f) { return cancelled = cancelled || capture(f); });
    if (cancelled || scanner.GetCompletedPatternCount() < coded->PatternCount()) return {};
    if (!scanner.EvaluatePatternSequence(
            [&](double f) { return cancelled = cancelled || evaluate(f); }) ||
        cancelled)
      return {};
    std::vector<scan::SLScanEvaluationResultPtr> results;
    for (std::size_t c = 0; c < rig.GetCameraCount(); ++c) {
      auto r = scanner.GetEvaluationResult(c);
      if (!r || !r->CorrespondencesX() || !r->CorrespondencesY() || !r->Quality()) {
        error = "camera " + rig.GetCamera(c)->GetName() + " decoded nothing of the panels";
        return {};
      }
      results.push_back(std::move(r));
    }
    return results;
  } catch (const std::exception& e) {
    error = e.what();
    return {};
  }
}

}  // namespace sim
