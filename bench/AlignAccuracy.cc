// Accuracy of scan alignment on synthetic turntable scans with known truth
// (not a speed benchmark). Prints, per run, the error of the recovered pose
// of A on B as the RMS displacement over A's vertices (mm) and the rotation
// error (degrees), with the coarse score and the seconds taken:
//  - lumpy blob (radius 40 mm), two views 45° apart, free rotation;
//  - ribbed vase (symmetric about the turntable axis), two views 45° apart,
//    known axis and angle (with and without a point on the axis); the turn
//    about the symmetry axis, which no surface can tell, is not counted;
//  - an 8-view ring of the blob, each view placed with a perturbed pose,
//    refined by the global fine registration; error of each view relative
//    to view 0.
// A run succeeds within 0.05 mm and 0.05°.
//
//   build/release/bench/AlignAccuracy [runs=20] [uSteps=300] [noise mm=0.02]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>

#include "surf/align/Registration.h"
#include "surf/testing/SyntheticScans.h"

namespace {

using namespace surf;
using math::Frame4d;
using math::Vec3d;

constexpr double kDeg = std::numbers::pi / 180.0;
const Vec3d kAxis{0.0, 0.0, 1.0};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct PairRun {
  double score, rms, angle, seconds, inliers, rmsDistance;
};

// For a scan pair of a body symmetric about the z axis (through the origin
// of B's coordinates): the estimate with its turn about that axis removed,
// the one part of the pose that the surface cannot tell.
Frame4d WithoutTurnAboutZ(const Frame4d& estimate, const Frame4d& truth) {
  const Frame4d d = estimate * truth.GetInverse();
  const double phi = std::atan2(d(1, 0) - d(0, 1), d(0, 0) + d(1, 1));
  return math::FRotZ(-phi) * estimate;
}

PairRun AlignPair(v3d::Geo& a, v3d::Geo& b, const Frame4d& truthAB, const CoarseRegistrationParams& params,
                  std::uint64_t seed, bool symmetric) {
  Fragment fa, fb;
  AlignScan sa{&a, &fa, {}}, sb{&b, &fb, {}};
  sa.prepare.shuffleSeed = seed;
  sb.prepare.shuffleSeed = seed + 1000;
  a.SetFrame(Frame4d());
  b.SetFrame(Frame4d());
  const auto start = std::chrono::steady_clock::now();
  PairRegistration registration(seed);
  PairRun run{};
  run.score = registration.CoarseRegistration(sa, sb, false, params);
  IcpParams icp;
  icp.seed = seed;
  const PairAlignmentInfo info = registration.FineRegistration(sa, sb, true, icp);
  run.seconds = Seconds(start);
  const Frame4d estimate = symmetric ? WithoutTurnAboutZ(a.GetFrame(), truthAB) : a.GetFrame();
  run.rms = testing::RmsDisplacement(a, estimate, truthAB);
  run.angle = testing::AngleDegrees(estimate, truthAB);
  run.inliers = info.inlierFraction;
  run.rmsDistance = info.rmsDistance;
  return run;
}

int PairSeries(const char* title, const testing::AnalyticSurface& surface, const testing::ScanSpec& spec,
               const Vec3d& axisPoint, const CoarseRegistrationParams& params, int runs, bool symmetric = false) {
  std::printf("%s\n  run   score   rms(mm)  angle(deg)  inliers  rms p2p(mm)  seconds\n", title);
  int ok = 0;
  for (int r = 0; r < runs; ++r) {
    testing::ScanSpec s = spec;
    s.noiseSeed = 100 + 10 * r;
    auto views = testing::MakeTurntableScans(surface, s, 2, 45.0 * kDeg, kAxis, axisPoint);
    const Frame4d truth = views.truth[1] * views.truth[0].GetInverse();
    const PairRun run = AlignPair(*views.scans[0], *views.scans[1], truth, params, 1 + r, symmetric);
    const bool good = run.rms <= 0.05 && run.angle <= 0.05;
    ok += good;
    std::printf("  %3d  %6.3f  %8.4f  %9.4f  %7.3f  %10.4f  %7.2f %s\n", r, run.score, run.rms, run.angle,
                run.inliers, run.rmsDistance, run.seconds, good ? "" : " FAIL");
  }
  std::printf("  %d of %d within 0.05 mm and 0.05 deg\n\n", ok, runs);
  return ok;
}

void Ring(const testing::AnalyticSurface& surface, const testing::ScanSpec& spec, const Vec3d& axisPoint, int runs) {
  std::printf("8-view ring, global fine registration from perturbed poses (1 deg, 1 mm)\n"
              "  run  worst rms before(mm)  worst rms after(mm)  worst angle(deg)  seconds\n");
  for (int r = 0; r < runs; ++r) {
    testing::ScanSpec s = spec;
    s.noiseSeed = 500 + 10 * r;
    auto views = testing::MakeTurntableScans(surface, s, 8, 45.0 * kDeg, kAxis, axisPoint);
    std::mt19937 rng(static_cast<std::mt19937::result_type>(r + 1));
    std::normal_distribution<double> g(0.0, 1.0);
    std::vector<Fragment> fragments(8);
    std::vector<AlignScan> scans;
    for (int k = 0; k < 8; ++k) {
      // Node frame of view k: its local coordinates into view 0's (= world).
      const Frame4d truth = views.truth[0] * views.truth[k].GetInverse();
      const Frame4d error = testing::TurntablePose(Vec3d(g(rng), g(rng), g(rng)), Vec3d(), 1.0 * kDeg) *
                            math::FTrans(g(rng) * 0.6, g(rng) * 0.6, g(rng) * 0.6);
      views.scans[k]->SetFrame(k == 0 ? truth : error * truth);
      AlignScan scan{views.scans[k].get(), &fragments[k], {}};
      scan.prepare.shuffleSeed = 77 + k;
      scans.push_back(scan);
    }
    const auto worst = [&](double* angle) {
      double rms = 0.0, ang = 0.0;
      const Frame4d e0 = views.scans[0]->GetFrame();
      for (int k = 1; k < 8; ++k) {
        const Frame4d est = e0.GetInverse() * views.scans[k]->GetFrame();
        const Frame4d truth = views.truth[0] * views.truth[k].GetInverse();
        rms = std::max(rms, testing::RmsDisplacement(*views.scans[k], est, truth));
        ang = std::max(ang, testing::AngleDegrees(est, truth));
      }
      if (angle) *angle = ang;
      return rms;
    };
    const double before = worst(nullptr);
    GlobalFineParams params;
    params.icp.seed = 9 + r;
    const auto start = std::chrono::steady_clock::now();
    GlobalFineRegistration(scans, params);
    const double seconds = Seconds(start);
    double angle = 0.0;
    const double after = worst(&angle);
    std::printf("  %3d  %18.4f  %19.4f  %16.4f  %7.2f%s\n", r, before, after, angle, seconds,
                after <= 0.05 ? "" : " FAIL");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  const int uSteps = argc > 2 ? std::atoi(argv[2]) : 300;
  const double noise = argc > 3 ? std::atof(argv[3]) : 0.02;
  testing::ScanSpec spec;
  spec.samplesAround = uSteps;
  spec.noiseSigma = noise;

  const testing::LumpyBlob blob(40.0, 14, 7);
  const Vec3d blobAxisPoint(4.0, -3.0, 0.0);
  CoarseRegistrationParams free;
  PairSeries("Lumpy blob, 45 deg apart, free rotation", blob, spec, blobAxisPoint, free, runs);

  const testing::RibbedVase vase;
  const testing::ScanSpec& vaseSpec = spec;
  CoarseRegistrationParams known;
  known.axis = kAxis;
  known.angle = 45.0 * kDeg;
  known.angleTolerance = 1.0 * kDeg;
  const char* note = " (error without the turn about the symmetry axis)";
  PairSeries((std::string("Ribbed vase, 45 deg apart, known axis and angle") + note).c_str(), vase, vaseSpec, Vec3d(),
             known, runs, true);
  known.axisPoint = Vec3d();
  PairSeries((std::string("Ribbed vase, 45 deg apart, known axis with a point, and angle") + note).c_str(), vase,
             vaseSpec, Vec3d(), known, runs, true);

  Ring(blob, spec, blobAxisPoint, std::max(1, runs / 4));
  return 0;
}
