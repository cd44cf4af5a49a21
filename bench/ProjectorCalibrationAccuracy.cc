// Where the projector calibration's error comes from: the default rig scans
// the calibration corner with coded light (the product's decoding), and the
// projector is calibrated with the cameras' true models and the true panels
// three times on the same pixels:
//   decoded  the decoded projector coordinates (what the product uses),
//   1 pass   the same, the outliers judged against the start model only,
//   exact    the true projector coordinates of each pixel's panel point
//            (the camera's ray met with the panel, projected through the
//            rig's projector model),
//   noisy    exact plus Gaussian noise of the decoded coordinates' RMS error
//            (over the pixels decoded within 1 projector pixel).
// Printed: the decoded coordinates against the exact ones (mean, RMS, and
// their scale: the slope of the error over the projector's width and
// height, per panel), and per calibration the signed f error, the principal
// point error and the projection centre's error along the projector's axis.
//
//   build/release/bench/ProjectorCalibrationAccuracy [--seed S]   (S: the noisy run's draw)

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/MuteStdout.h"
#include "scan/HardwareSetup.h"
#include "scan/ProjectorCalibrator.h"
#include "scan/testing/ProjectorViews.h"
#include "sim/CalibrationRig.h"
#include "sim/RigSetup.h"
#include "sim/TargetShot.h"
#include "sim/VirtualRig.h"

namespace {

using bench::MuteStdout;

// Least-squares line e = a + b·t.
struct Line {
  double n = 0, st = 0, se = 0, stt = 0, ste = 0, see = 0;
  void Add(double t, double e) {
    n += 1, st += t, se += e, stt += t * t, ste += t * e, see += e * e;
  }
  double Slope() const { return (n * ste - st * se) / (n * stt - st * st); }
  double Mean() const { return se / n; }
  double RMS() const { return std::sqrt(see / n); }
};

void Report(const char* name, const cam::CameraModelTsai& estimate, const cam::CameraModel& truth,
            double displayX, double displayY, const scan::ProjectorCalibrator& calibrator) {
  const auto& e = estimate.GetIntrinsics();
  const auto* t = dynamic_cast<const cam::CameraModelTsai*>(&truth);
  const auto& ti = t->GetIntrinsics();
  const math::Vec3d axis = truth.GetFrame_wTc().MultV(math::Vec3d{0.0, 0.0, 1.0});
  const math::Vec3d d = estimate.GetFrame_wTc().GetTrans() - truth.GetFrame_wTc().GetTrans();
  const double sx = displayX / truth.GetResX(), sy = displayY / truth.GetResY();
  std::printf(
      "  %-8s f %+.4f %%  principal point %+.3f %+.3f px  centre %+.4f mm along the axis, %.4f mm "
      "across  RMS %.4f px, %zu points, %zu outliers\n",
      name, 100.0 * (e.f - ti.f) / ti.f, (e.cx - ti.cx) * sx, (e.cy - ti.cy) * sy,
      math::Dot(d, axis), (d - axis * math::Dot(d, axis)).Length(), calibrator.GetRMS(),
      calibrator.GetNumPoints(), calibrator.GetNumOutliers());
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t seed = 1;
  for (int i = 1; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "--seed")) seed = std::uint32_t(std::atoi(argv[i + 1]));
  scan::HardwareSetupIO truth;
  sim::SceneDescription description;
  std::string error;
  if (!sim::LoadRigFolder(sim::ResolveRigFolder("default"), truth, description, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const double scale = sim::CornerScale(truth);
  scan::HardwareSetup station;
  station.SetDefaultZentoCalibGrids(scale);
  const auto results =
      sim::ScanTargets(truth, description, sim::MakeCornerTargets(scale), {}, error);
  if (results.empty()) {
    std::fprintf(stderr, "the scan failed: %s\n", error.c_str());
    return 1;
  }
  const auto& projectorTruth = *truth.projector.projectorModel;
  const double W = truth.projector.extendedDisplay.resX, H = truth.projector.extendedDisplay.resY;
  std::printf("projector display %.0f x %.0f, model resolution %u x %u\n", W, H,
              projectorTruth.GetResX(), projectorTruth.GetResY());

  scan::ProjectorCalibrationOptions options;
  options.projectorWidth = std::uint32_t(W);
  options.projectorHeight = std::uint32_t(H);
  std::vector<scan::ProjectorView> decoded, exact, noisy;
  std::mt19937 random(seed);
  for (std::size_t c = 0; c < results.size(); ++c) {
    const auto camera =
        std::shared_ptr<const cam::CameraModel>(truth.cameras[c].cameraModel->CloneModel());
    const auto& r = *results[c];
    scan::ProjectorView view{camera, r.CorrespondencesX(), r.CorrespondencesY(), r.Quality()};
    decoded.push_back(view);
    const auto w = view.quality->width, h = view.quality->height;
    auto ex = std::make_shared<img::UniImage<float>>(w, h),
         ey = std::make_shared<img::UniImage<float>>(w, h);
    auto eq = std::make_shared<img::UniImage<float>>(w, h);
    Line du[2], dv[2];
    double all[2] = {0, 0};
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::uint32_t x = 0; x < w; ++x) {
        double u = 0, v = 0;
        int panel = 0;
        (*ex)(x, y) = (*ey)(x, y) = -1.0f, (*eq)(x, y) = 0.0f;
        const float q = (*view.quality)(x, y), ud = (*view.x)(x, y), vd = (*view.y)(x, y);
        if (!(q >= options.minQuality) || !(ud >= 0.0f && ud <= 1.0f) ||
            !(vd >= 0.0f && vd <= 1.0f))
          continue;
        if (!scan::testing::ExactProjectorCoordinates(*camera, projectorTruth, station, x, y, u, v,
                                                      panel))
          continue;
        (*ex)(x, y) = float(u), (*ey)(x, y) = float(v), (*eq)(x, y) = q;
        const double eu = (ud - u) * W, ev = (vd - v) * H;
        ++all[panel];
        if (std::abs(eu) > 1.0 || std::abs(ev) > 1.0)
          continue;  // wrong codes: the outlier rule's business
        du[panel].Add(u - 0.5, eu);
        dv[panel].Add(v - 0.5, ev);
      }
    }
    double rms2 = 0, n = 0;
    for (int p = 0; p < 2; ++p) {
      if (du[p].n == 0) continue;
      std::printf(
          "camera %zu panel %d: %.0f pixels, %.2f %% off by more than 1 px; the rest, decoded − "
          "exact "
          "(projector px): u mean %+.4f RMS %.4f scale %+.4f %%; v mean %+.4f RMS %.4f scale %+.4f "
          "%%\n",
          c, p, all[p], 100.0 * (1.0 - du[p].n / all[p]), du[p].Mean(), du[p].RMS(),
          100.0 * du[p].Slope() / W, dv[p].Mean(), dv[p].RMS(), 100.0 * dv[p].Slope() / H);
      rms2 += du[p].see + dv[p].see, n += 2 * du[p].n;
    }
    const double sigma = std::sqrt(rms2 / n);
    exact.push_back({camera, ex, ey, eq});
    auto nx = std::make_shared<img::UniImage<float>>(*ex),
         ny = std::make_shared<img::UniImage<float>>(*ey);
    std::normal_distribution<double> noise(0.0, sigma);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x)
        if ((*eq)(x, y) > 0.0f)
          (*nx)(x, y) += float(noise(random) / W), (*ny)(x, y) += float(noise(random) / H);
    noisy.push_back({camera, nx, ny, eq});
  }

  const auto start =
      std::dynamic_pointer_cast<cam::CameraModelTsai>(truth.projector.projectorModel);
  struct Run {
    const char* name;
    const std::vector<scan::ProjectorView>* views;
    int outlierPasses;
  };
  const Run runs[] = {{"decoded", &decoded, options.outlierPasses},
                      {"1 pass", &decoded, 1},
                      {"exact", &exact, options.outlierPasses},
                      {"noisy", &noisy, options.outlierPasses}};
  std::printf("projector calibration with the true cameras and panels:\n");
  for (const auto& [name, views, passes] : runs) {
    cam::CameraModelTsai model = *start;
    scan::ProjectorCalibrator calibrator;
    scan::ProjectorCalibrationOptions o = options;
    o.outlierPasses = passes;
    bool ok = false;
    {
      MuteStdout mute;
      ok = calibrator.CalibProjector(model, station, *views, o);
    }
    if (!ok) {
      std::printf("  %-8s failed\n", name);
      continue;
    }
    Report(name, model, projectorTruth, W, H, calibrator);
  }
  return 0;
}
