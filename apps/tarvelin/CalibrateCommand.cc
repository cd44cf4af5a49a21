#include "apps/tarvelin/CalibrateCommand.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <numbers>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/FloatMap.h"
#include "cam/CalibrateTsai.h"
#include "foundation/img/ImageIO.h"
#include "foundation/math/Twist.h"
#include "foundation/utils/Timer.h"
#include "scan/FlatPlateCalibration.h"
#include "scan/HardwareSetup.h"
#include "scan/ProjectorCalibrator.h"
#include "sim/CalibrationRig.h"
#include "sim/RigSetup.h"
#include "sim/TargetShot.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
constexpr double kDeg = 180.0 / std::numbers::pi;

bool MakeFolder(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec)
    std::cerr << "Error: " << dir.string() << ": cannot create folder (" << ec.message() << ")\n";
  return !ec;
}

bool WriteJson(const fs::path& path, const nlohmann::ordered_json& json) {
  std::ofstream file(path);
  file << json.dump(1) << "\n";
  file.close();
  if (!file) std::cerr << "Error: " << path.string() << ": cannot write\n";
  return bool(file);
}

fs::path CornerImageName(std::size_t camera) {
  return "corner_camera" + std::to_string(camera) + ".png";
}
// The decoded scan of the panels by a camera: the files `tarvelin decode` writes.
fs::path ScanFolderName(std::size_t camera) { return "scan_camera" + std::to_string(camera); }

bool SaveScan(const scan::SLScanEvaluationResult& r, const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  return SaveFloatMap(*r.CorrespondencesX(), dir / "correspondences_x.pfm") &&
         SaveFloatMap(*r.CorrespondencesY(), dir / "correspondences_y.pfm") &&
         SaveFloatMap(*r.Quality(), dir / "quality.pfm");
}

// A decoded scan from a folder; false with the reason.
bool LoadScan(const fs::path& dir, scan::ProjectorView& view, std::string& error) {
  const char* names[3] = {"correspondences_x.pfm", "correspondences_y.pfm", "quality.pfm"};
  img::UniImagePtr<float>* images[3] = {&view.x, &view.y, &view.quality};
  for (int i = 0; i < 3; ++i) {
    auto image = std::make_shared<img::UniImage<float>>();
    if (!LoadFloatMap(dir / names[i], *image, error)) return false;
    *images[i] = image;
  }
  return true;
}

nlohmann::ordered_json ErrorJson(const sim::ModelError& e, bool projector,
                                 const cam::CameraModel& truth, double displayX, double displayY) {
  // A projector's principal point in projector pixels of its display.
  const double sx = projector ? displayX / std::max(1u, truth.GetResX()) : 1.0;
  const double sy = projector ? displayY / std::max(1u, truth.GetResY()) : 1.0;
  return {{"f_error_percent", 100.0 * e.focalRelative},
          {"cx_error_px", e.cx * sx},
          {"cy_error_px", e.cy * sy},
          {"principal_point_error_px", std::hypot(e.cx * sx, e.cy * sy)},
          {"position_error_mm", e.position},
          {"rotation_error_deg", e.rotation * kDeg}};
}

// What the calibration starts from and sees.
struct Inputs {
  bool onRig = false;
  scan::HardwareSetupIO truth;  // on the rig
  sim::SceneDescription description;
  scan::HardwareSetupIO start;
  std::vector<img::GreyImage> corner;  // per camera
};

fs::path PlateImageName(int view, std::size_t camera) {
  return "plate_view" + std::to_string(view) + "_camera" + std::to_string(camera) + ".png";
}

// Where the plate views of a run stand: facing camera 0 at 620 mm, or with
// two cameras facing a camera half way between them (the midpoint of the
// screw motion from one to the other) a little beyond where their viewing
// axes pass closest, so that both see most of the plate.
struct PlateStand {
  std::shared_ptr<cam::CameraModel> facing;
  double distance = 620.0;  // mm along the facing camera's axis
};

PlateStand MakePlateStand(const scan::HardwareSetupIO& truth) {
  PlateStand stand;
  stand.facing = truth.cameras[0].cameraModel->CloneModel();
  if (truth.cameras.size() < 2) return stand;
  const math::Frame4d c0 = truth.cameras[0].cameraModel->GetFrame_wTc();
  const math::Frame4d c1 = truth.cameras[1].cameraModel->GetFrame_wTc();
  const math::Twist motion = math::Twist::Log(c0.GetInverse() * c1);
  const math::Frame4d middle = c0 * math::Twist(motion.GetTrans() * 0.5, motion.GetRot() * 0.5).Exp();
  stand.facing->SetFrame_wTc(middle);
  // The closest points p0 + t0·a0 and p1 + t1·a1 of the two viewing axes.
  const math::Vec3d p0 = c0.GetTrans(), p1 = c1.GetTrans();
  const math::Vec3d a0 = c0.MultV(math::Vec3d{0.0, 0.0, 1.0}), a1 = c1.MultV(math::Vec3d{0.0, 0.0, 1.0});
  const math::Vec3d w = p0 - p1;
  const double b = Dot(a0, a1), d = Dot(a0, w), e = Dot(a1, w), denominator = 1.0 - b * b;
  if (denominator < 1e-6) return stand;  // parallel axes: the single camera's distance
  const double t0 = (b * e - d) / denominator, t1 = (e - b * d) / denominator;
  const math::Vec3d meet = (p0 + a0 * t0 + p1 + a1 * t1) * 0.5;
  stand.distance = (meet - middle.GetTrans()).Length() + 120.0;
  return stand;
}

sim::TargetRenderOptions PlateRenderOptions(std::uint32_t seed) {
  sim::TargetRenderOptions o;
  o.seed = seed;
  return o;
}

}  // namespace

int CalibrateCommand::RunPlate() {
  utils::Timer total, stage;
  nlohmann::ordered_json seconds;
  scan::HardwareSetupIO truth, start;
  sim::SceneDescription description;
  std::string error;
  const bool onRig = images.empty();
  if (!onRig && setup.empty()) {
    std::cerr << "Error: --images needs --setup FILE (the setup to start from)\n";
    return kExitUsage;
  }
  if (onRig) {
    if (!sim::LoadRigFolder(sim::ResolveRigFolder(rig), truth, description, error)) {
      std::cerr << "Error: " << error << '\n';
      return kExitFailure;
    }
    start = truth;  // the plate calibration needs no start values; the projector is kept
  } else if (!scan::LoadHardwareSetup(start, setup.string())) {
    std::cerr << "Error: " << setup.string() << ": cannot read the setup to start from\n";
    return kExitFailure;
  }
  const std::size_t cameras = start.cameras.size();
  if (cameras == 0 || cameras > 2) {
    std::cerr << "Error: the flat-plate calibration takes one or two cameras; the setup has "
              << cameras << '\n';
    return kExitFailure;
  }
  if (!MakeFolder(out / "images") || !MakeFolder(out / "calibration")) return kExitFailure;
  if (!scan::SaveCalibrationCopy(start, out / "calibration", false)) return kExitFailure;
  std::unique_ptr<scan::FlatPlateCalibration> calibration;
  cam::FlatPlateCalibrationTarget plate;
  try {
    const fs::path file =
        onRig ? sim::ShareDirectory() / "targets" / "plate.xml" : images / "plate.xml";
    plate = cam::FlatPlateCalibrationTarget(file);
    calibration = std::make_unique<scan::FlatPlateCalibration>(plate);
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return kExitFailure;
  }
  if (onRig && !plate.Save(out / "images" / "plate.xml")) return kExitFailure;

  PlateStand stand;
  if (onRig) stand = MakePlateStand(truth);
  ProgressBar bar("calibrate");
  int added = 0;
  for (int v = 0; v < views; ++v) {
    if (bar(0.8 * v / views)) return kExitCancelled;
    std::vector<img::GreyImage> shots(cameras);
    for (std::size_t c = 0; c < cameras; ++c) {
      const fs::path name = PlateImageName(v, c);
      if (onRig) {
        const std::vector<sim::PlacedTarget> targets{
            {"plate", plate, sim::PlateCalibrationPose(*stand.facing, plate, stand.distance, v)}};
        sim::TargetShot shot;
        if (!sim::ShootTargets(truth, description, c, targets,
                               PlateRenderOptions(seed + std::uint32_t(v * 7 + c)), shot, error)) {
          std::cerr << "Error: " << error << '\n';
          return kExitFailure;
        }
        shots[c] = std::move(shot.image);
        if (!img::SavePNG(shots[c], out / "images" / name)) {
          std::cerr << "Error: " << (out / "images" / name).string() << ": cannot write\n";
          return kExitFailure;
        }
        if (plainCopies) {
          // The same pose printed without marker cell, for detectors of plain grids.
          std::vector<sim::PlacedTarget> plain = targets;
          for (auto& [node, m] : plain[0].target.markers) {
            if (m.innerDiameter > 0.0) m.outerDiameter = m.innerDiameter, m.innerDiameter = 0.0;
          }
          sim::TargetShot plainShot;
          if (!MakeFolder(out / "images" / "plain") ||
              !sim::ShootTargets(truth, description, c, plain,
                                 PlateRenderOptions(seed + std::uint32_t(v * 7 + c)), plainShot,
                                 error) ||
              !img::SavePNG(plainShot.image, out / "images" / "plain" / name)) {
            std::cerr << "Error: the plain copy of view " << v << " could not be made " << error
                      << '\n';
            return kExitFailure;
          }
        }
      } else if (fs::exists(images / name) && !img::LoadUniImage(shots[c], images / name)) {
        std::cerr << "Error: " << (images / name).string() << ": cannot read\n";
        return kExitFailure;
      }
    }
    added += calibration->AddMultiView(shots) ? 1 : 0;
  }
  seconds["views"] = stage.ElapsedSeconds();
  stage.Restart();
  std::vector<std::shared_ptr<cam::CameraModelOCV>> models;
  for (std::size_t c = 0; c < cameras; ++c) {
    auto model = std::make_shared<cam::CameraModelOCV>();
    const auto& m = *start.cameras[c].cameraModel;
    model->SetResolution(m.GetResX(), m.GetResY());
    models.push_back(model);
  }
  if (added < 3 || !calibration->CalibrateCameraModels(models)) {
    bar.Finish();
    std::cerr
        << "Error: the flat-plate calibration failed: " << added << " of " << views
        << " views showed the plate to the first camera (at least 3 are needed, with the plate at "
           "different tilts); no setup file was written\n";
    return kExitFailure;
  }
  seconds["calibrate"] = stage.ElapsedSeconds();
  // Camera 0 is the plate calibration's world; the setup's world is kept by
  // placing the cameras relative to where the start setup has camera 0.
  scan::HardwareSetupIO result = start;
  const math::Frame<double> world_T_camera0 = start.cameras[0].cameraModel->GetFrame_wTc();
  for (std::size_t c = 0; c < cameras; ++c) {
    models[c]->SetFrame_wTc(world_T_camera0 * models[c]->GetFrame_wTc());
    result.cameras[c].cameraModel = models[c];
  }
  if (!calibration->DumpToFile(out / "calibration" / "FlatPlateCalibration.xml") ||
      !scan::SaveHardwareSetup(result, (out / "setup.tarvelinsetup").string()) ||
      !scan::SaveCalibrationCopy(result, out / "calibration", true))
    return kExitFailure;
  bar(1.0);
  bar.Finish();

  nlohmann::ordered_json report;
  report["rig"] = onRig ? nlohmann::ordered_json(rig) : nlohmann::ordered_json(nullptr);
  report["images"] =
      onRig ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(images.string());
  report["target"] = "plate";
  report["views"] = views;
  report["views_used"] = added;
  report["rms_px"] = calibration->GetErrorRMS();
  report["active_params"] = calibration->GetActiveParams();
  if (cameras == 2)
    report["stereo"] = {{"baseline_mm", calibration->GetStereoBaseline()},
                        {"angle_deg", calibration->GetStereoAngle()}};
  nlohmann::ordered_json cams = nlohmann::ordered_json::array();
  for (std::size_t c = 0; c < cameras; ++c) {
    nlohmann::ordered_json j;
    j["name"] = result.cameras[c].name;
    const auto& i = models[c]->GetIntrinsics();
    j["model"] = {{"f", i.f},   {"cx", i.cx}, {"cy", i.cy}, {"k1", i.k1},
                  {"k2", i.k2}, {"k3", i.k3}, {"p1", i.p1}, {"p2", i.p2}};
    sim::ModelError e;
    if (onRig && sim::CompareModels(*models[c], *truth.cameras[c].cameraModel, e))
      j["error"] = ErrorJson(e, false, *models[c], 0, 0);
    cams.push_back(j);
  }
  report["cameras"] = cams;
  seconds["total"] = total.ElapsedSeconds();
  report["seconds"] = seconds;
  if (!WriteJson(out / "report.json", report)) return kExitFailure;
  std::printf("plate: %d views, RMS %.4f px\n", added, calibration->GetErrorRMS());
  for (std::size_t c = 0; c < cameras; ++c) {
    if (cams[c].contains("error"))
      std::printf("camera %zu: f %+.4f %%, principal point %.3f px\n", c,
                  cams[c]["error"]["f_error_percent"].get<double>(),
                  cams[c]["error"]["principal_point_error_px"].get<double>());
  }
  std::printf("Wrote %s in %.1f s\n", (out / "setup.tarvelinsetup").string().c_str(),
              total.ElapsedSeconds());
  return kExitSuccess;
}

CLI::App* CalibrateCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand(
      "calibrate", "Calibrate cameras and projector from images of the calibration corner");
  sub->add_option("--rig", rig, "default, stereo or a rig folder")->capture_default_str();
  sub->add_option("--target", target,
                  "corner (the two panels) or plate (the shipped plate in several views)")
      ->check(CLI::IsMember({"corner", "plate"}))
      ->capture_default_str();
  sub->add_option("--start-from", startFrom,
                  "nominal (the rig's models perturbed: f 5 %, principal point 20 px, pose 5 mm / "
                  "2 degrees) "
                  "or a setup file")
      ->capture_default_str();
  sub->add_option("--images", images,
                  "A folder of a user's own images instead of the rig: corner_cameraN.png and the "
                  "decoded scans "
                  "scan_cameraN/ (correspondences_x.pfm, correspondences_y.pfm, quality.pfm, as "
                  "tarvelin decode "
                  "writes them), or plate.xml and plate_viewK_cameraN.png");
  sub->add_flag(
      "--plain-copies", plainCopies,
      "Plate on the rig: also render each view printed without marker cell (images/plain/)");
  sub->add_option("--views", views, "Plate views")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  sub->add_option("--setup", setup, "With --images: the setup file to start from");
  sub->add_option("--max-rms", maxRMS, "Largest accepted reprojection RMS, pixels")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  sub->add_option("--seed", seed, "Seed of the nominal setup's perturbation and the noise")
      ->capture_default_str();
  sub->add_flag("--extrinsics-only", extrinsicsOnly,
                "Keep the intrinsics, calibrate the camera poses only");
  sub->add_flag("!--no-projector", projector,
                "Calibrate the cameras only; the projector model is kept");
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int CalibrateCommand::Run() {
  if (target == "plate") return RunPlate();
  utils::Timer total, stage;
  nlohmann::ordered_json seconds;
  Inputs in;
  in.onRig = images.empty();
  if (!in.onRig && setup.empty()) {
    std::cerr << "Error: --images needs --setup FILE (the setup to start from)\n";
    return kExitUsage;
  }
  std::string error;
  if (in.onRig) {
    if (!sim::LoadRigFolder(sim::ResolveRigFolder(rig), in.truth, in.description, error)) {
      std::cerr << "Error: " << error << '\n';
      return kExitFailure;
    }
    if (startFrom == "nominal") {
      in.start = sim::PerturbSetup(in.truth, {}, seed);
    } else if (!scan::LoadHardwareSetup(in.start, startFrom)) {
      std::cerr << "Error: " << startFrom << ": cannot read the setup to start from\n";
      return kExitFailure;
    }
  } else if (!scan::LoadHardwareSetup(in.start, setup.string())) {
    std::cerr << "Error: " << setup.string() << ": cannot read the setup to start from\n";
    return kExitFailure;
  }
  if (in.start.cameras.empty()) {
    std::cerr << "Error: the setup to start from has no camera\n";
    return kExitFailure;
  }
  if (in.onRig && in.start.cameras.size() != in.truth.cameras.size()) {
    std::cerr << "Error: the setup to start from has " << in.start.cameras.size()
              << " camera(s), the rig " << in.truth.cameras.size() << '\n';
    return kExitFailure;
  }
  for (std::size_t c = 0; c < in.start.cameras.size(); ++c) {
    if (!std::dynamic_pointer_cast<cam::CameraModelTsai>(in.start.cameras[c].cameraModel)) {
      std::cerr << "Error: camera " << c << " (" << in.start.cameras[c].name
                << ") has no Tsai camera model: the corner calibration calibrates Tsai models\n";
      return kExitFailure;
    }
  }
  if (!MakeFolder(out / "images") || !MakeFolder(out / "calibration")) return kExitFailure;
  if (!scan::SaveCalibrationCopy(in.start, out / "calibration", false)) return kExitFailure;
  const double scale = sim::CornerScale(in.onRig ? in.truth : in.start);

  // The corner as every camera sees it.
  ProgressBar bar("calibrate");
  const std::size_t cameras = in.start.cameras.size();
  for (std::size_t c = 0; c < cameras; ++c) {
    if (bar(0.4 * double(c) / cameras)) return kExitCancelled;
    img::GreyImage image;
    if (in.onRig) {
      sim::TargetRenderOptions options;
      options.seed = seed + std::uint32_t(c);
      sim::TargetShot shot;
      if (!sim::ShootTargets(in.truth, in.description, c, sim::MakeCornerTargets(scale), options,
                             shot, error)) {
        std::cerr << "Error: " << error << '\n';
        return kExitFailure;
      }
      image = std::move(shot.image);
      if (!img::SavePNG(image, out / "images" / CornerImageName(c))) {
        std::cerr << "Error: " << (out / "images" / CornerImageName(c)).string()
                  << ": cannot write\n";
        return kExitFailure;
      }
    } else {
      const fs::path path = images / CornerImageName(c);
      if (!img::LoadUniImage(image, path)) {
        std::cerr << "Error: " << path.string() << ": cannot read the corner image of camera " << c
                  << '\n';
        return kExitFailure;
      }
      std::error_code ec;
      fs::copy_file(path, out / "images" / CornerImageName(c), fs::copy_options::overwrite_existing,
                    ec);
    }
    in.corner.push_back(std::move(image));
  }
  seconds["render"] = stage.ElapsedSeconds();

  // The cameras, one by one, then together.
  stage.Restart();
  scan::HardwareSetup station;
  station.SetDefaultZentoCalibGrids(scale);
  scan::CameraCalibrationOptions options;
  options.calibrateExtrinsicsOnly = extrinsicsOnly;
  options.maxRMS = maxRMS;
  std::vector<std::shared_ptr<cam::CameraModelTsai>> models;
  std::vector<double> rms;
  for (std::size_t c = 0; c < cameras; ++c) {
    if (bar(0.4 + 0.2 * double(c) / cameras)) return kExitCancelled;
    auto model = std::make_shared<cam::CameraModelTsai>(
        *std::dynamic_pointer_cast<cam::CameraModelTsai>(in.start.cameras[c].cameraModel));
    if (!station.CalibrateCamera(*model, in.corner[c], options)) {
      bar.Finish();
      std::cerr << "Error: camera " << c << " (" << in.start.cameras[c].name
                << "): the corner calibration failed (see above); no setup file was written\n";
      return kExitFailure;
    }
    models.push_back(model);
    rms.push_back(station.GetLastRMS());
  }
  seconds["cameras"] = stage.ElapsedSeconds();
  stage.Restart();
  if (cameras > 1 && !station.OptimizeCameras(models, options)) {
    bar.Finish();
    std::cerr << "Error: the joint optimisation of the cameras failed; no setup file was written\n";
    return kExitFailure;
  }
  seconds["optimize"] = stage.ElapsedSeconds();

  scan::HardwareSetupIO result = in.start;
  for (std::size_t c = 0; c < cameras; ++c) result.cameras[c].cameraModel = models[c];
  result.calibration.scale = scale;

  // The projector from coded-light scans of the panels.
  nlohmann::ordered_json projectorJson;
  const auto& display = result.projector.extendedDisplay;
  auto startProjector =
      std::dynamic_pointer_cast<cam::CameraModelTsai>(in.start.projector.projectorModel);
  if (projector && startProjector && display.resX > 0 && display.resY > 0) {
    stage.Restart();
    std::vector<scan::ProjectorView> views(cameras);
    if (in.onRig) {
      const auto results = sim::ScanTargets(
          in.truth, in.description, sim::MakeCornerTargets(scale),
          [&](double f) { return bar(0.6 + 0.3 * f); }, error);
      if (results.empty()) {
        bar.Finish();
        if (error.empty()) return kExitCancelled;
        std::cerr << "Error: the scan of the panels failed: " << error << '\n';
        return kExitFailure;
      }
      for (std::size_t c = 0; c < cameras; ++c) {
        views[c].x = results[c]->CorrespondencesX();
        views[c].y = results[c]->CorrespondencesY();
        views[c].quality = results[c]->Quality();
        if (!SaveScan(*results[c], out / "images" / ScanFolderName(c))) {
          std::cerr << "Error: " << (out / "images" / ScanFolderName(c)).string()
                    << ": cannot write\n";
          return kExitFailure;
        }
      }
    } else {
      for (std::size_t c = 0; c < cameras; ++c) {
        if (!LoadScan(images / ScanFolderName(c), views[c], error)) {
          std::cerr << "Error: " << (images / ScanFolderName(c)).string()
                    << ": no decoded scan of the panels for the projector (" << error << ")\n";
          return kExitFailure;
        }
      }
    }
    seconds["projector_scan"] = stage.ElapsedSeconds();
    stage.Restart();
    for (std::size_t c = 0; c < cameras; ++c) views[c].camera = models[c];
    scan::ProjectorCalibrationOptions po;
    po.projectorWidth = std::uint32_t(display.resX);
    po.projectorHeight = std::uint32_t(display.resY);
    scan::ProjectorCalibrator calibrator;
    auto model = std::make_shared<cam::CameraModelTsai>(*startProjector);
    if (!calibrator.CalibProjector(*model, station, views, po)) {
      bar.Finish();
      std::cerr
          << "Error: the projector calibration failed (see above); no setup file was written\n";
      return kExitFailure;
    }
    projectorJson["rms_px"] = calibrator.GetRMS();
    projectorJson["points"] = calibrator.GetNumPoints();
    projectorJson["outliers"] = calibrator.GetNumOutliers();
    seconds["projector"] = stage.ElapsedSeconds();
    if (cameras > 1) {
      stage.Restart();
      if (calibrator.StereoRecalibration(*model, views[0], views[1], po)) {
        projectorJson["stereo_recalibration_rms_px"] = calibrator.GetRMS();
      } else {
        std::cerr << "Warning: the stereo recalibration of the projector failed; the panel "
                     "calibration is kept\n";
      }
      seconds["stereo_recalibration"] = stage.ElapsedSeconds();
    }
    result.projector.projectorModel = model;
    result.projector.modelType = "CameraModelTsai";
  } else if (projector) {
    std::cerr << "Warning: the setup has no Tsai projector model or no display size; the projector "
                 "is not "
                 "calibrated\n";
  }
  stage.Restart();
  if (!scan::SaveHardwareSetup(result, (out / "setup.tarvelinsetup").string()) ||
      !scan::SaveCalibrationCopy(result, out / "calibration", true))
    return kExitFailure;
  seconds["write"] = stage.ElapsedSeconds();
  bar(1.0);
  bar.Finish();

  nlohmann::ordered_json report;
  report["rig"] = in.onRig ? nlohmann::ordered_json(rig) : nlohmann::ordered_json(nullptr);
  report["images"] =
      in.onRig ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(images.string());
  report["target"] = target;
  report["start_from"] = in.onRig ? startFrom : setup.string();
  report["max_rms_px"] = maxRMS;
  nlohmann::ordered_json cams = nlohmann::ordered_json::array();
  for (std::size_t c = 0; c < cameras; ++c) {
    nlohmann::ordered_json j;
    j["name"] = result.cameras[c].name;
    const auto& i = models[c]->GetIntrinsics();
    j["model"] = {{"f", i.f}, {"cx", i.cx}, {"cy", i.cy}, {"sx", i.sx}, {"kappa1", i.kappa1}};
    j["rms_px"] = rms[c];
    double rmsAll = 0.0;
    // After the joint optimisation: the RMS over both panels with the final panel poses.
    if (cameras > 1) {
      const auto& corner = station.GetCornerCorrespondences()[c];
      std::vector<math::Vec3d> world;
      std::vector<math::Vec2d> image = corner.leftImage;
      for (const auto& q : corner.leftPlate)
        world.push_back(station.GetCalibGrids()[0].world_T_plate * q);
      for (const auto& q : corner.rightPlate)
        world.push_back(station.GetCalibGrids()[1].world_T_plate * q);
      image.insert(image.end(), corner.rightImage.begin(), corner.rightImage.end());
      std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
      if (cam::GetCalibrationError(*models[c], world, image, residuals, rmsAll))
        j["rms_joint_px"] = rmsAll;
    }
    j["points"] = station.GetCornerCorrespondences()[c].leftImage.size() +
                  station.GetCornerCorrespondences()[c].rightImage.size();
    sim::ModelError e;
    if (in.onRig && in.truth.cameras[c].cameraModel &&
        sim::CompareModels(*models[c], *in.truth.cameras[c].cameraModel, e)) {
      j["error"] = ErrorJson(e, false, *models[c], 0, 0);
      if (sim::CompareModels(*in.start.cameras[c].cameraModel, *in.truth.cameras[c].cameraModel, e))
        j["start_error"] = ErrorJson(e, false, *models[c], 0, 0);
    }
    if (result.projector.projectorModel) {
      double totalAngle = 0, horizontal = 0, vertical = 0;
      scan::HardwareSetup::GetTriangulationAngles(*models[c], *result.projector.projectorModel,
                                                  totalAngle, horizontal, vertical);
      j["triangulation_angles_deg"] = {{"total", totalAngle * kDeg},
                                       {"horizontal", horizontal * kDeg},
                                       {"vertical", vertical * kDeg}};
    }
    cams.push_back(j);
  }
  report["cameras"] = cams;
  if (!projectorJson.is_null()) {
    const auto& model = *result.projector.projectorModel;
    const auto& i = dynamic_cast<const cam::CameraModelTsai&>(model).GetIntrinsics();
    projectorJson["model"] = {
        {"f", i.f}, {"cx", i.cx}, {"cy", i.cy}, {"sx", i.sx}, {"kappa1", i.kappa1}};
    sim::ModelError e;
    if (in.onRig && in.truth.projector.projectorModel &&
        sim::CompareModels(model, *in.truth.projector.projectorModel, e)) {
      projectorJson["error"] = ErrorJson(e, true, model, display.resX, display.resY);
      if (sim::CompareModels(*in.start.projector.projectorModel, *in.truth.projector.projectorModel,
                             e))
        projectorJson["start_error"] = ErrorJson(e, true, model, display.resX, display.resY);
    }
    report["projector"] = projectorJson;
  }
  seconds["total"] = total.ElapsedSeconds();
  report["seconds"] = seconds;
  if (!WriteJson(out / "report.json", report)) return kExitFailure;
  for (std::size_t c = 0; c < cameras; ++c) {
    std::printf("camera %zu: RMS %.4f px", c, rms[c]);
    if (cams[c].contains("error"))
      std::printf(", f %+.4f %%, principal point %.3f px, position %.3f mm",
                  cams[c]["error"]["f_error_percent"].get<double>(),
                  cams[c]["error"]["principal_point_error_px"].get<double>(),
                  cams[c]["error"]["position_error_mm"].get<double>());
    std::printf("\n");
  }
  if (report.contains("projector") && report["projector"].contains("error"))
    std::printf("projector: RMS %.4f px, f %+.4f %%, principal point %.3f px\n",
                report["projector"]["rms_px"].get<double>(),
                report["projector"]["error"]["f_error_percent"].get<double>(),
                report["projector"]["error"]["principal_point_error_px"].get<double>());
  std::printf("Wrote %s in %.1f s\n", (out / "setup.tarvelinsetup").string().c_str(),
              total.ElapsedSeconds());
  return kExitSuccess;
}

}  // namespace tarvelin
