#include "sim/testing/RigAlignment.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <fstream>
#include <numbers>

#include "surf/mesh/GeoItem.h"
#include "surf/files/MeshFormats.h"
#include "surf/mesh/VertexClustering.h"
#include "surf/testing/SyntheticScans.h"

namespace sim::testing {
namespace {

using math::Frame4d;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

RingError ErrorOf(const std::vector<const RigScan*>& views, const std::vector<std::unique_ptr<v3d::Geo>>& geos) {
  RingError error;
  double sum = 0.0;
  std::size_t count = 0;
  const Frame4d e0 = geos[0]->GetFrame();
  for (std::size_t k = 1; k < views.size(); ++k) {
    const Frame4d estimate = e0.GetInverse() * geos[k]->GetFrame();
    const Frame4d truth = TrueRelativePose(*views[k], *views[0]);
    const double rms = surf::testing::RmsDisplacement(*geos[k], estimate, truth);
    const std::size_t n = geos[k]->GetMesh(0)->GetNumVertices();
    sum += rms * rms * double(n);
    count += n;
    error.worstRms = std::max(error.worstRms, rms);
    error.worstAngle = std::max(error.worstAngle, surf::testing::AngleDegrees(estimate, truth));
  }
  error.rms = count ? std::sqrt(sum / double(count)) : 0.0;
  return error;
}

Frame4d FrameFromRows(const nlohmann::json& rows) {
  Frame4d f;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) f(r, c) = rows.at(std::size_t(r)).at(std::size_t(c)).get<double>();
  return f;
}

std::unique_ptr<v3d::Geo> Decimated(const v3d::Geo& geo, double cellSize) {
  surf::GeoItem item;
  item.geo = std::make_shared<v3d::Geo>(geo);
  item.geo->SetFrame(Frame4d());
  auto decimated = std::make_unique<v3d::Geo>(*surf::MakeGeoItem(surf::ClusterVertices(FlattenGeoItem(item), cellSize)).geo);
  decimated->SetFrame(geo.GetFrame());
  return decimated;
}

}  // namespace

bool LoadScanFolder(const std::filesystem::path& folder, std::vector<RigScan>& scans, std::string& error) {
  const auto posesPath = folder / "poses.json";
  try {
    std::ifstream file(posesPath);
    if (!file) throw std::runtime_error("cannot open");
    const nlohmann::json poses = nlohmann::json::parse(file);
    std::vector<RigScan> loaded;
    for (const auto& entry : poses.at("scans")) {
      RigScan scan;
      const auto meshPath = folder / entry.at("file").get<std::string>();
      surf::GeoItem item;
      if (!surf::LoadMesh(meshPath, item)) {
        error = meshPath.string() + ": cannot read the mesh";
        return false;
      }
      scan.mesh = surf::FlattenGeoItem(item);
      scan.turntableAngle = entry.at("turntable_deg").get<double>() * std::numbers::pi / 180.0;
      scan.world_T_object = FrameFromRows(entry.at("world_T_object"));
      scan.status = RigScanStatus::kSuccess;
      loaded.push_back(std::move(scan));
    }
    scans = std::move(loaded);
    return true;
  } catch (const std::exception& e) {
    error = posesPath.string() + ": " + e.what();
    return false;
  }
}

std::unique_ptr<v3d::Geo> GeoOf(const RigScan& scan) {
  surf::MeshArrays mesh = scan.mesh;
  mesh.texture = img::RGBImage();
  mesh.texCoords.clear();
  return std::make_unique<v3d::Geo>(*surf::MakeGeoItem(mesh).geo);
}

PairResult AlignPair(const v3d::Geo& a, const v3d::Geo& b, const Frame4d& truth, const PairOptions& options) {
  v3d::Geo geoA(a), geoB(b);
  geoA.SetFrame(Frame4d());
  geoB.SetFrame(Frame4d());
  surf::Fragment fa, fb;
  surf::AlignScan sa{&geoA, &fa, {}}, sb{&geoB, &fb, {}};
  sa.prepare.shuffleSeed = options.seed;
  sb.prepare.shuffleSeed = options.seed + 1000;
  sa.prepare.useSurfaceFeatures = sb.prepare.useSurfaceFeatures = options.surfaceFeatures;
  sa.prepare.normalSmoothingPasses = sb.prepare.normalSmoothingPasses = options.normalSmoothingPasses;
  const auto start = std::chrono::steady_clock::now();
  surf::PairRegistration registration(options.seed);
  PairResult result;
  if (options.startAtTruth) {
    geoA.SetFrame(truth);
  } else if (options.coarseCellSize > 0.0) {
    const auto coarseA = Decimated(geoA, options.coarseCellSize), coarseB = Decimated(geoB, options.coarseCellSize);
    surf::Fragment ca, cb;
    surf::AlignScan csa{coarseA.get(), &ca, sa.prepare}, csb{coarseB.get(), &cb, sb.prepare};
    result.score = registration.CoarseRegistration(csa, csb, false, options.params);
    geoA.SetFrame(coarseA->GetFrame());
    result.coarseSeconds = SecondsSince(start);
  } else {
    registration.Prepare(sa, sb);
    result.prepareSeconds = SecondsSince(start);
    result.score = registration.CoarseRegistration(sa, sb, true, options.params);
    result.coarseSeconds = SecondsSince(start) - result.prepareSeconds;
  }
  result.coarseRms = surf::testing::RmsDisplacement(geoA, geoA.GetFrame(), truth);
  result.coarseAngle = surf::testing::AngleDegrees(geoA.GetFrame(), truth);
  surf::IcpParams fine = options.icp;
  fine.seed = options.seed;
  const bool prepared = !options.startAtTruth && options.coarseCellSize <= 0.0;
  const surf::PairAlignmentInfo info = registration.FineRegistration(sa, sb, prepared, fine);
  result.seconds = SecondsSince(start);
  result.fineSeconds = result.seconds - result.prepareSeconds - result.coarseSeconds;
  result.pose = geoA.GetFrame();
  result.rms = surf::testing::RmsDisplacement(geoA, geoA.GetFrame(), truth);
  result.angle = surf::testing::AngleDegrees(geoA.GetFrame(), truth);
  result.inliers = info.inlierFraction;
  result.rmsDistance = info.rmsDistance;
  return result;
}

RingResult AlignRing(const std::vector<const RigScan*>& views, const surf::CoarseRegistrationParams& params,
                     const surf::GlobalFineParams& global, std::uint64_t seed) {
  RingResult result;
  if (views.size() < 2) return result;
  std::vector<std::unique_ptr<v3d::Geo>> geos;
  std::vector<surf::Fragment> fragments(views.size());
  std::vector<surf::AlignScan> scans;
  for (std::size_t k = 0; k < views.size(); ++k) {
    geos.push_back(GeoOf(*views[k]));
    scans.push_back({geos.back().get(), &fragments[k], {}});
    scans.back().prepare.shuffleSeed = seed + 17 * k;
    scans.back().prepare.normalSmoothingPasses = surf::Fragment::kAlignmentNormalSmoothingPasses;
  }
  for (std::size_t k = 1; k < views.size(); ++k) {
    // View k starts on view k − 1's frame, as the turntable run places it.
    geos[k]->SetFrame(geos[k - 1]->GetFrame());
    surf::PairRegistration registration(seed + k);
    if (registration.CoarseRegistration(scans[k], scans[k - 1], false, params) <= 0.0) return result;
    surf::IcpParams icp = surf::PairwiseIcpParams();
    icp.seed = seed + k;
    if (!registration.FineRegistration(scans[k], scans[k - 1], true, icp).valid) return result;
  }
  result.chained = ErrorOf(views, geos);
  const auto start = std::chrono::steady_clock::now();
  const surf::GlobalFineResult fine = surf::GlobalFineRegistration(scans, global);
  result.seconds = SecondsSince(start);
  result.global = ErrorOf(views, geos);
  result.ok = fine.ok;
  return result;
}

}  // namespace sim::testing
