// Where the flat-plate calibration's principal-point error comes from: the
// default rig's camera sees the shipped plate in the poses of `tarvelin
// calibrate --target plate` (σ = the rig's noise); per run the plate is
// calibrated three times on the same views:
//   detected  the detector's centres (what the product uses),
//   truth     the true images of the circle centres (the rig's projection),
//   noisy     the true images plus Gaussian noise of the detected centres'
//             RMS error (isotropic, a new draw per point),
// and the detected centres are compared with the truth (RMS, mean vector,
// the mean per view). If "detected" is no worse than "noisy", the centres
// carry no bias that reaches the principal point: the error is the noise
// of the views; "truth" shows what the model and optimiser leave.
//
//   build/release/bench/PlateCalibrationAccuracy [--views N] [--runs R] [--seed S] [--shift K]
// Run r uses noise seeds S + 100·r + 7·v (the command's seed + 7·v for r = 0)
// and the poses of views K·r … K·r + N − 1 (K = --shift, default 0: every
// run the same poses, only the noise differs; 24 poses repeat).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "scan/FlatPlateCalibration.h"
#include "sim/CalibrationRig.h"
#include "sim/RigSetup.h"
#include "sim/TargetShot.h"
#include "sim/VirtualRig.h"

namespace {

struct Errors {
  double f = 0.0, cx = 0.0, cy = 0.0, rms = 0.0;
  bool ok = false;
};

Errors Calibrate(const cam::FlatPlateCalibrationTarget& plate,
                 const std::vector<scan::FlatPlateCalibration::MultiView>& views,
                 const cam::CameraModel& truth) {
  scan::FlatPlateCalibration calibration(plate);
  for (const auto& v : views) calibration.AddMultiView(v);
  auto model = std::make_shared<cam::CameraModelOCV>();
  model->SetResolution(truth.GetResX(), truth.GetResY());
  Errors e;
  if (!calibration.CalibrateCameraModels({model})) return e;
  sim::ModelError m;
  if (!sim::CompareModels(*model, truth, m)) return e;
  e = {100.0 * m.focalRelative, m.cx, m.cy, calibration.GetErrorRMS(), true};
  return e;
}

struct Sum {
  double f2 = 0.0, pp2 = 0.0, cx = 0.0, cy = 0.0;
  int n = 0;
  void Add(const Errors& e) {
    if (!e.ok) return;
    f2 += e.f * e.f, pp2 += e.cx * e.cx + e.cy * e.cy, cx += e.cx, cy += e.cy, ++n;
  }
  void Print(const char* name) const {
    if (n == 0) return;
    std::printf(
        "%-9s RMS over %d runs: f %.4f %%, principal point %.4f px (mean cx %+.4f, cy %+.4f)\n",
        name, n, std::sqrt(f2 / n), std::sqrt(pp2 / n), cx / n, cy / n);
  }
};

}  // namespace

int main(int argc, char** argv) {
  int views = 8, runs = 5, shift = 0;
  std::uint32_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--views") && i + 1 < argc)
      views = std::max(3, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
      seed = std::uint32_t(std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--shift") && i + 1 < argc)
      shift = std::max(0, std::atoi(argv[++i]));
    else {
      std::fprintf(
          stderr,
          "usage: PlateCalibrationAccuracy [--views N] [--runs R] [--seed S] [--shift K]\n");
      return 2;
    }
  }
  scan::HardwareSetupIO truth;
  sim::SceneDescription description;
  std::string error;
  if (!sim::LoadRigFolder(sim::ResolveRigFolder("default"), truth, description, error)) {
    std::fprintf(stderr, "Error: %s\n", error.c_str());
    return 1;
  }
  const cam::CameraModel& camera = *truth.cameras[0].cameraModel;
  const cam::FlatPlateCalibrationTarget plate(sim::ShareDirectory() / "targets" / "plate.xml");
  std::printf("default rig camera %u x %u, noise %.1f grey levels, %d views per run, %d runs\n",
              camera.GetResX(), camera.GetResY(), description.settings.noiseSigma, views, runs);
  std::printf("%4s %9s  %-28s %-28s %-28s\n", "run", "centre", "detected: f %, cx, cy px", "truth",
              "noisy");
  Sum detectedSum, truthSum, noisySum;
  double centre2 = 0.0, viewMean2 = 0.0;
  std::size_t centres = 0, viewCount = 0;
  for (int r = 0; r < runs; ++r) {
    std::vector<scan::FlatPlateCalibration::MultiView> detected, exact, noisy;
    std::vector<std::pair<math::Vec2d, math::Vec2d>> pairs;  // detected, true
    std::mt19937 random(seed + 1000u * std::uint32_t(r));
    for (int v = 0; v < views; ++v) {
      const int pose = shift * r + v;
      const std::vector<sim::PlacedTarget> targets{
          {"plate", plate, sim::PlateCalibrationPose(camera, plate, 620.0, pose)}};
      sim::TargetRenderOptions options;
      options.seed = seed + 100u * std::uint32_t(r) + std::uint32_t(v * 7);
      sim::TargetShot shot;
      if (!sim::ShootTargets(truth, description, 0, targets, options, shot, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
      }
      scan::FlatPlateCalibration detector(plate);
      if (!detector.AddMultiView({shot.image})) continue;
      std::map<math::Vec2i, math::Vec2d, math::LexicalLess<2, int>> marks;
      for (const auto& m : shot.marks)
        if (m.visible) marks[m.node] = m.image;
      scan::FlatPlateCalibration::MultiView d = detector.GetMultiViews()[0], t = d, n = d;
      auto& dm = d.cameraViews[0].markers;
      std::vector<scan::FlatPlateCalibration::Marker> keptD, keptT;
      math::Vec2d mean{0.0, 0.0};
      for (const auto& m : dm) {
        const auto it = marks.find(m.gridIndex);
        if (it == marks.end()) continue;
        keptD.push_back(m);
        keptT.push_back(m);
        keptT.back().image = it->second;
        pairs.push_back({m.image, it->second});
        mean = mean + (m.image - it->second);
      }
      if (keptD.size() < 4) continue;
      mean = mean * (1.0 / double(keptD.size()));
      viewMean2 += mean.LengthSquared(), ++viewCount;
      d.cameraViews[0].markers = keptD;
      t.cameraViews[0].markers = keptT;
      n.cameraViews[0].markers = keptT;
      detected.push_back(d), exact.push_back(t), noisy.push_back(n);
    }
    double sum2 = 0.0;
    for (const auto& [a, b] : pairs) sum2 += (a - b).LengthSquared();
    const double rms = pairs.empty() ? 0.0 : std::sqrt(sum2 / double(pairs.size()));
    centre2 += sum2, centres += pairs.size();
    std::normal_distribution<double> gauss(0.0, rms / std::sqrt(2.0));
    for (auto& v : noisy)
      for (auto& m : v.cameraViews[0].markers)
        m.image = m.image + math::Vec2d{gauss(random), gauss(random)};
    const Errors ed = Calibrate(plate, detected, camera), et = Calibrate(plate, exact, camera),
                 en = Calibrate(plate, noisy, camera);
    detectedSum.Add(ed), truthSum.Add(et), noisySum.Add(en);
    auto cell = [](const Errors& e) {
      static char text[4][64];
      static int k = 0;
      k = (k + 1) % 4;
      if (!e.ok)
        std::snprintf(text[k], sizeof text[k], "failed");
      else
        std::snprintf(text[k], sizeof text[k], "%.4f %+.4f %+.4f", e.f, e.cx, e.cy);
      return text[k];
    };
    std::printf("%4d %9.4f  %-28s %-28s %-28s\n", r, rms, cell(ed), cell(et), cell(en));
    std::fflush(stdout);
  }
  std::printf(
      "centres: RMS error %.4f px over %zu marks; mean error of a view (RMS over %zu views) %.4f "
      "px\n",
      centres ? std::sqrt(centre2 / double(centres)) : 0.0, centres, viewCount,
      viewCount ? std::sqrt(viewMean2 / double(viewCount)) : 0.0);
  detectedSum.Print("detected");
  truthSum.Print("truth");
  noisySum.Print("noisy");
  return 0;
}
