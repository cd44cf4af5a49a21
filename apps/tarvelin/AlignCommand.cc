#include "apps/tarvelin/AlignCommand.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>
#include <numbers>
#include <optional>
#include <sstream>

#include "apps/tarvelin/Console.h"
#include "foundation/utils/Timer.h"
#include "surf/files/MeshFormats.h"
#include "surf/align/Registration.h"
#include "v3d/GeoTools.h"

namespace tarvelin {
namespace {

constexpr double kDegrees = std::numbers::pi / 180.0;

// "x,y,z" as a vector; nothing for any other text.
std::optional<math::Vec3d> ParseVector(const std::string& text) {
  std::istringstream in(text);
  math::Vec3d v;
  char comma1 = 0, comma2 = 0;
  if (!(in >> v[0] >> comma1 >> v[1] >> comma2 >> v[2]) || comma1 != ',' || comma2 != ',') return std::nullopt;
  in >> std::ws;
  if (!in.eof()) return std::nullopt;
  return v;
}

bool LoadWithNormals(const std::filesystem::path& path, surf::GeoItem& item) {
  if (!surf::LoadMesh(path, item)) {
    std::cerr << "Error: could not read " << path.string() << "\n";
    return false;
  }
  for (std::size_t i = 0; i < item.geo->GetNumMeshes(); ++i) {
    v3d::Mesh* mesh = item.geo->GetMesh(static_cast<std::int64_t>(i));
    if (mesh && !mesh->HasVertexNormals()) v3d::CalcVertexNormals(*mesh);
  }
  return true;
}

nlohmann::json FrameRows(const math::Frame4d& f) {
  nlohmann::json rows = nlohmann::json::array();
  for (int r = 0; r < 4; ++r) rows.push_back({f(r, 0), f(r, 1), f(r, 2), f(r, 3)});
  return rows;
}

}  // namespace

CLI::App* AlignCommand::Register(CLI::App& app) {
  CLI::App* command = app.add_subcommand("align", "Align mesh A onto mesh B (coarse search, then ICP)");
  command->add_option("a", a, "The mesh to move")->required();
  command->add_option("b", b, "The reference mesh")->required();
  command->add_option("--out", out, "The moved A; its extension chooses the format")->required();
  command->add_option("--axis", axis, "Known rotation axis between the scans, x,y,z (A's coordinates)");
  command->add_option("--axis-point", axisPoint, "A point on the known axis, x,y,z (mm)");
  command->add_option("--angle", angleDegrees, "Known rotation angle about the axis (degrees)");
  command->add_option("--angle-tolerance", angleToleranceDegrees, "Tolerance of the known angle (degrees)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--effort", effort, "Search effort (1 = default)")->check(CLI::PositiveNumber);
  command->add_flag("--fine-only", fineOnly, "Skip the coarse search: refine the poses as they are");
  command->add_option("--seed", seed, "Seed of the random search (0 = time)");
  command->add_option("--threads", threads, "Threads of the coarse search (0 = all)")->check(CLI::NonNegativeNumber);
  return command;
}

int AlignCommand::Run() const {
  surf::CoarseRegistrationParams params;
  params.effort = effort;
  params.numThreads = threads;
  if (!axis.empty()) {
    params.axis = ParseVector(axis);
    if (!params.axis || params.axis->LengthSquared() == 0.0) {
      std::cerr << "Error: --axis must be three numbers x,y,z, not all zero: " << axis << "\n";
      return kExitUsage;
    }
  }
  if (!axisPoint.empty()) {
    params.axisPoint = ParseVector(axisPoint);
    if (!params.axisPoint || !params.axis) {
      std::cerr << "Error: --axis-point needs --axis and three numbers x,y,z: " << axisPoint << "\n";
      return kExitUsage;
    }
  }
  if (angleDegrees != 0.0) params.angle = angleDegrees * kDegrees;
  params.angleTolerance = angleToleranceDegrees * kDegrees;
  if (!surf::CanSave(surf::MeshFormatOf(out))) {
    std::cerr << "Error: cannot write " << out.string() << ": writable formats are " << surf::SavableExtensions()
              << "\n";
    return kExitUsage;
  }

  utils::Timer total;
  surf::GeoItem itemA, itemB;
  if (!LoadWithNormals(a, itemA) || !LoadWithNormals(b, itemB)) return kExitFailure;
  const double loadSeconds = total.ElapsedSeconds();

  surf::Fragment fragmentA, fragmentB;
  surf::AlignScan scanA{itemA.geo.get(), &fragmentA, {}};
  surf::AlignScan scanB{itemB.geo.get(), &fragmentB, {}};
  scanA.prepare.shuffleSeed = seed;
  scanB.prepare.shuffleSeed = seed == 0 ? 0 : seed + 100;
  scanA.prepare.normalSmoothingPasses = scanB.prepare.normalSmoothingPasses =
      surf::Fragment::kAlignmentNormalSmoothingPasses;
  surf::PairRegistration registration(seed);

  utils::Timer stage;
  double score = 0.0;
  if (!registration.Prepare(scanA, scanB)) {
    std::cerr << "Error: the scans cannot be aligned (empty, or without usable vertices)\n";
    return kExitFailure;
  }
  const double prepareSeconds = stage.ElapsedSeconds();
  stage.Restart();
  if (!fineOnly) {
    ProgressBar bar("coarse alignment");
    score = registration.CoarseRegistration(scanA, scanB, true, params, [&bar](double f) { return bar(f); });
    bar.Finish();
    if (InterruptRequested()) return kExitCancelled;
    if (score <= 0.0) {
      std::cerr << "Error: no alignment found between " << a.string() << " and " << b.string() << "\n";
      return kExitFailure;
    }
  }
  const double coarseSeconds = stage.ElapsedSeconds();
  stage.Restart();
  surf::IcpParams icp = surf::PairwiseIcpParams();
  icp.seed = seed;
  const surf::PairAlignmentInfo info = registration.FineRegistration(scanA, scanB, true, icp);
  const double fineSeconds = stage.ElapsedSeconds();
  if (!info.valid) {
    std::cerr << "Error: the fine alignment failed (no overlap between the scans)\n";
    return kExitFailure;
  }
  if (!surf::SaveMesh(out, itemA)) return kExitFailure;

  nlohmann::ordered_json report;
  report["a"] = a.string();
  report["b"] = b.string();
  report["out"] = out.string();
  report["transform"] = FrameRows(itemA.geo->GetFrame());
  report["coarse_score"] = score;
  report["inlier_fraction"] = info.inlierFraction;
  report["rms_point_to_plane_mm"] = info.rmsDistance;
  report["mean_point_to_plane_mm"] = info.meanDistance;
  report["icp_iterations"] = info.iterations;
  report["seconds"] = {{"load", loadSeconds},
                       {"prepare", prepareSeconds},
                       {"coarse", coarseSeconds},
                       {"fine", fineSeconds},
                       {"total", total.ElapsedSeconds()}};
  const std::filesystem::path reportPath = out.parent_path() / "report.json";
  std::ofstream(reportPath) << report.dump(2) << "\n";
  std::cout << report.dump(2) << "\n";
  return kExitSuccess;
}

}  // namespace tarvelin
