#include "apps/tarvelin/ScanCommand.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/FloatMap.h"
#include "apps/tarvelin/ScanSettings.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/Timer.h"
#include "scan/SinglePhaseToDepthConverter.h"
#include "scan/StereoPhaseToDepthConverter.h"
#include "scan/StructuredLightScanner.h"
#include "sim/VirtualRig.h"
#include "surf/DepthMapFilter.h"
#include "surf/GeoItem.h"
#include "surf/MeshArrays.h"
#include "surf/MeshFormats.h"
#include "surf/MeshTools.h"
#include "surf/PlyFile.h"

#ifndef TARVELIN_SHARE_DIR
#define TARVELIN_SHARE_DIR "share"
#endif

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

// Depth filtering: quality bytes at or below this are dropped; neighbours
// further apart than kMaxDepthJump (mm) are not joined into fragments or
// triangles; fragments below kMinFragmentRatio of the largest are dropped.
constexpr std::uint8_t kQualityThreshold = 2;
constexpr float kMaxDepthJump = 1.5f;
constexpr double kMinFragmentRatio = 0.01;
// Surfaces seen more obliquely than this (degrees between the viewing
// direction and the surface normal) are dropped: their pixels span a large
// depth range and mix surface points.
constexpr double kMaxViewingAngleDeg = 80.0;
// Fewer lit object pixels than this over all cameras: the object is out of view.
constexpr std::size_t kMinVisiblePixels = 100;

bool Decoded(const scan::SLScanEvaluationResult& result, std::size_t i) {
  const auto quality = result.Quality();
  auto inside = [&](const img::UniImagePtr<float>& c) { return !c || (c->data[i] >= 0.0f && c->data[i] < 1.0f); };
  return quality && quality->data[i] > 0.0f && inside(result.CorrespondencesX()) && inside(result.CorrespondencesY());
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  const auto k = std::size_t(std::min(double(values.size() - 1), std::ceil(p * double(values.size())) - 1.0));
  std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
  return values[k];
}

// Decoding figures of one camera against what it sees.
nlohmann::json ScoreDecoding(const scan::SLScanEvaluationResult& result, const sim::VirtualCamera& camera) {
  const auto& views = camera.GetPixelViews();
  std::size_t decoded = 0, lit = 0, litDecoded = 0;
  for (std::int32_t i = 0; i < views.size; ++i) {
    const bool d = Decoded(result, std::size_t(i));
    const bool l = views.data[i] == std::uint8_t(sim::PixelView::kLit);
    decoded += d;
    lit += l;
    litDecoded += d && l;
  }
  const double n = double(std::max<std::int32_t>(views.size, 1));
  return {{"name", camera.GetName()},
          {"width", views.width},
          {"height", views.height},
          {"decoded_fraction", double(decoded) / n},
          {"visible_pixels", lit},
          {"decoded_fraction_of_visible", lit ? double(litDecoded) / double(lit) : 0.0},
          {"undecoded_visible_fraction", lit ? double(lit - litDecoded) / double(lit) : 0.0}};
}

// Depth error of a camera's depth map against the ground truth at the pixel centres.
nlohmann::json ScoreDepth(const surf::DepthMap& depth, const sim::VirtualCamera& camera) {
  const auto& truth = camera.GetGroundTruth().depth;
  std::vector<double> errors;
  std::size_t withoutSurface = 0;
  double sum = 0.0, sumSquares = 0.0, maximum = 0.0;
  const auto& d = depth.GetDepthImage();
  for (std::int32_t i = 0; i < d.size; ++i) {
    if (!(d.data[i] > 0.0f)) continue;
    if (!(truth.data[i] > 0.0f)) {
      ++withoutSurface;
      continue;
    }
    const double e = double(d.data[i]) - double(truth.data[i]);
    errors.push_back(std::abs(e));
    sum += e;
    sumSquares += e * e;
    maximum = std::max(maximum, std::abs(e));
  }
  const double n = double(std::max<std::size_t>(errors.size(), 1));
  return {{"valid_pixels", errors.size()},
          {"points_without_surface", withoutSurface},
          {"depth_error_mm",
           {{"rms", std::sqrt(sumSquares / n)}, {"mean", sum / n}, {"p99", Percentile(errors, 0.99)}, {"max", maximum}}}};
}

bool ResolveObject(const std::string& object, sim::SceneDescription& description, std::string& error) {
  static const std::map<std::string, sim::ObjectKind> kKinds = {{"vase", sim::ObjectKind::kVase},
                                                                {"sphere", sim::ObjectKind::kSphere},
                                                                {"torus", sim::ObjectKind::kTorus},
                                                                {"box", sim::ObjectKind::kBox},
                                                                {"blob", sim::ObjectKind::kBlob}};
  sim::ObjectDescription o;
  if (auto it = kKinds.find(object); it != kKinds.end()) {
    o.kind = it->second;
    o.name = object;
  } else {
    std::error_code ec;
    if (!fs::is_regular_file(object, ec)) {
      error = object + ": no such object file (objects: vase, sphere, torus, box, blob or a mesh file)";
      return false;
    }
    o.kind = sim::ObjectKind::kMesh;
    o.name = fs::path(object).stem().string();
    o.file = fs::absolute(object);
  }
  description.objects = {o};
  return true;
}

sim::TriMesh LoadObjectMesh(const fs::path& path) {
  surf::GeoItem item;
  if (!surf::LoadMesh(path, item) || !item.geo || item.geo->GetNumMeshes() == 0)
    throw std::runtime_error(path.string() + ": cannot read a triangle mesh");
  return sim::FromV3dMesh(*item.geo->GetMesh(0));
}

// Drops the pixels on the border of the valid region (mixed pixels at
// silhouettes and shadow edges) and those whose depth slope, from central
// differences, exceeds the viewing-angle limit.
void DropBorderAndGrazingPixels(surf::DepthMap& map) {
  const auto& depth = map.GetDepthImage();
  const std::uint32_t w = depth.width, h = depth.height;
  const double maxSlope = std::tan(kMaxViewingAngleDeg * M_PI / 180.0);
  std::vector<std::uint8_t> drop(std::size_t(w) * h, 0);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const float d = depth(x, y);
      if (!(d > 0.0f)) continue;
      if (x == 0 || y == 0 || x + 1 == w || y + 1 == h) {
        drop[std::size_t(y) * w + x] = 1;
        continue;
      }
      const float l = depth(x - 1, y), r = depth(x + 1, y), u = depth(x, y - 1), b = depth(x, y + 1);
      if (!(l > 0.0f && r > 0.0f && u > 0.0f && b > 0.0f)) {
        drop[std::size_t(y) * w + x] = 1;
        continue;
      }
      const math::Vec2d pixel = map.GetPixelSizeAtDepth(d);
      const double sx = std::abs(r - l) / (2.0 * pixel[0]), sy = std::abs(b - u) / (2.0 * pixel[1]);
      if (std::max(sx, sy) > maxSlope) drop[std::size_t(y) * w + x] = 1;
    }
  }
  for (std::size_t i = 0; i < drop.size(); ++i) {
    if (!drop[i]) continue;
    map.GetDepthImage().data[i] = 0.0f;
    map.GetQualityImage().data[i] = 0;
  }
  map.ResetMeanDepth();
}

// The mesh of a depth map with normals and, when given, colours from the texture.
surf::MeshArrays MeshOf(const surf::DepthMap& depth, const img::UniImagePtr<img::RGB8>& texture) {
  std::vector<float> vertices, tex, normals;
  std::vector<std::uint32_t> indices;
  depth.ComputeTriangleMesh(vertices, indices, tex, false, kMaxDepthJump);
  surf::CalcNormals(normals, vertices, indices);
  surf::MeshArrays mesh;
  const std::size_t n = vertices.size() / 3;
  for (std::size_t i = 0; i < n; ++i) {
    mesh.positions.push_back({vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]});
    mesh.normals.push_back({normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]});
    if (texture && !texture->IsEmpty()) {
      const auto x = std::min(texture->width - 1, std::uint32_t(std::max(0.0f, tex[2 * i] * texture->width)));
      const auto y = std::min(texture->height - 1, std::uint32_t(std::max(0.0f, tex[2 * i + 1] * texture->height)));
      const img::RGB8 c = (*texture)(x, y);
      mesh.colors.push_back(v3d::Color4ub{c.r, c.g, c.b, 255});
    }
  }
  mesh.indices = std::move(indices);
  return mesh;
}

}  // namespace

fs::path ShareDirectory() {
  if (const char* env = std::getenv("TARVELIN_SHARE"); env && *env) return env;
  return TARVELIN_SHARE_DIR;
}

CLI::App* ScanCommand::Register(CLI::App& app) {
  auto* sub = app.add_subcommand("scan", "Scan an object on a virtual rig and score the result against ground truth");
  sub->add_option("--rig", rig, "default, stereo or a rig folder (rig.tarvelinsetup + scene.json)")
      ->capture_default_str();
  sub->add_option("--object", object, "vase, sphere, torus, box, blob or a mesh file (default: the rig's scene)");
  sub->add_option("--turntable", turntableDeg, "Turntable angle in degrees")->capture_default_str();
  sub->add_option("--mode", mode, "Pattern mode")->check(CLI::IsMember({"coded", "psk"}))->capture_default_str();
  sub->add_flag("--texture", texture, "Capture a texture and colour the mesh");
  sub->add_option("--scale", scale, "Image scale of cameras and projector, for quick runs")
      ->check(CLI::Range(0.05, 1.0))
      ->capture_default_str();
  sub->add_option("--seed", seed, "Seed of the camera noise")->capture_default_str();
  sub->add_option("--out", out, "Output folder")->required();
  return sub;
}

int ScanCommand::Run() {
  utils::Timer totalTimer;
  nlohmann::json report, seconds;

  // The rig and its scene.
  utils::Timer setupTimer;
  const fs::path rigDir = (rig == "default" || rig == "stereo") ? ShareDirectory() / "rigs" / rig : fs::path(rig);
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  std::string error;
  if (!sim::LoadRigFolder(rigDir, setup, description, error) ||
      (!object.empty() && !ResolveObject(object, description, error))) {
    std::cerr << "Error: " << error << '\n';
    return kExitFailure;
  }
  if (!std::isfinite(turntableDeg)) {
    std::cerr << "Error: --turntable must be a finite angle\n";
    return kExitUsage;
  }
  description.turntableAngleDeg = turntableDeg;
  std::unique_ptr<sim::VirtualRig> virtualRig;
  try {
    sim::Scene scene = sim::BuildScene(description, LoadObjectMesh, (rigDir / sim::kRigSceneFile).string());
    sim::VirtualRig::Options options;
    options.imageScale = scale;
    options.seed = seed;
    virtualRig = std::make_unique<sim::VirtualRig>(setup, description, std::move(scene), options);
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return kExitFailure;
  }
  std::size_t visible = 0;
  for (std::size_t c = 0; c < virtualRig->GetCameraCount(); ++c) {
    const auto& views = virtualRig->GetCamera(c)->GetPixelViews();
    visible += std::size_t(std::count(views.data, views.data + views.size, std::uint8_t(sim::PixelView::kLit)));
  }
  if (visible < kMinVisiblePixels) {
    std::cerr << "Error: the object is outside every camera's view or the projector's light (" << visible
              << " lit pixels)\n";
    return kExitFailure;
  }
  seconds["setup"] = setupTimer.ElapsedSeconds();

  // The scanner with the rig's cameras and projector.
  ScanSettings settings;
  settings.projectorWidth = virtualRig->GetProjector()->GetOptions().width;
  settings.projectorHeight = virtualRig->GetProjector()->GetOptions().height;
  settings.mode = mode;
  settings.texture = texture ? "grey" : "none";
  settings.gamma = virtualRig->GetProjector()->GetOptions().displayGamma;
  if (const std::string problem = settings.Validate(); !problem.empty()) {
    std::cerr << "Error: " << problem << '\n';
    return kExitUsage;
  }
  const scan::SLScanPtr slScan = BuildScan(settings);
  scan::StructuredLightScanner scanner(scan::StructuredLightScanner::InitParams{});
  for (std::size_t c = 0; c < virtualRig->GetCameraCount(); ++c) {
    const std::size_t index = scanner.AddCamera(virtualRig->GetCamera(c)->GetName(), false);
    scanner.SetImageCapture(virtualRig->GetCamera(c), index);
    scanner.SetCameraModel(virtualRig->GetCameraModel(c), index);
  }
  scanner.SetProjector("VirtualProjector", virtualRig->GetProjector());
  scanner.SetProjectorModel(virtualRig->GetProjectorModel());
  scanner.SetSLScan(slScan);

  utils::Timer captureTimer;
  {
    ProgressBar bar("capturing");
    scanner.CapturePatternSequence([&](double f) { return bar(f); });
  }
  if (InterruptRequested() || scanner.GetCompletedPatternCount() < slScan->PatternCount()) return kExitCancelled;
  seconds["capture"] = captureTimer.ElapsedSeconds();

  utils::Timer evaluateTimer;
  {
    ProgressBar bar("decoding");
    if (!scanner.EvaluatePatternSequence([&](double f) { return bar(f); }) || InterruptRequested())
      return kExitCancelled;
  }
  seconds["evaluate"] = evaluateTimer.ElapsedSeconds();

  // Depth of the first camera: against the projector, or against the second camera.
  utils::Timer depthTimer;
  nlohmann::json cameras = nlohmann::json::array();
  for (std::size_t c = 0; c < virtualRig->GetCameraCount(); ++c) {
    const auto result = scanner.GetEvaluationResult(c);
    if (!result || !result->Quality()) {
      std::cerr << "Error: camera " << virtualRig->GetCamera(c)->GetName() << " decoded nothing\n";
      return kExitFailure;
    }
    cameras.push_back(ScoreDecoding(*result, *virtualRig->GetCamera(c)));
  }
  const auto first = scanner.GetEvaluationResult(0);
  const auto& projectorModel = *virtualRig->GetProjectorModel();
  std::unique_ptr<surf::DepthMap> depth;
  const auto& quality = *first->Quality();
  img::UniImage<float> none(quality.width, quality.height);
  none = -1.0f;
  const auto px = first->CorrespondencesX(), py = first->CorrespondencesY();
  bool converted = false;
  if (virtualRig->GetCameraCount() >= 2 && px) {
    const auto second = scanner.GetEvaluationResult(1);
    converted = second->CorrespondencesX() &&
                scan::StereoPhaseToDepthConverter().Convert(
                    depth, *virtualRig->GetCameraModel(0), *px, quality, *virtualRig->GetCameraModel(1),
                    *second->CorrespondencesX(), *second->Quality(), &projectorModel);
    report["triangulation"] = "stereo";
  } else {
    converted = scan::SinglePhaseToDepthConverter().Convert(depth, px ? *px : none, py ? *py : none, quality,
                                                             *virtualRig->GetCameraModel(0), projectorModel,
                                                             {true, bool(px), bool(py)});
    report["triangulation"] = "camera-projector";
  }
  if (!converted || !depth) {
    std::cerr << "Error: the decoded correspondences could not be triangulated\n";
    return kExitFailure;
  }
  depth = surf::CreateFilteredDepthMap(std::move(depth), nullptr, 0, 0, kQualityThreshold, 0.0, kMinFragmentRatio,
                                       kMaxDepthJump);
  DropBorderAndGrazingPixels(*depth);
  cameras[0].update(ScoreDepth(*depth, *virtualRig->GetCamera(0)));
  seconds["depth"] = depthTimer.ElapsedSeconds();

  utils::Timer writeTimer;
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) {
    std::cerr << "Error: " << out.string() << ": cannot create folder (" << ec.message() << ")\n";
    return kExitFailure;
  }
  const surf::MeshArrays mesh = MeshOf(*depth, texture ? first->Texture() : nullptr);
  if (!surf::SavePly(out / "scan.ply", mesh, surf::PlyEncoding::kBinary)) return kExitFailure;
  float lo = 0.0f, hi = 0.0f;
  bool any = false;
  const auto& d = depth->GetDepthImage();
  for (std::int32_t i = 0; i < d.size; ++i) {
    if (!(d.data[i] > 0.0f)) continue;
    lo = any ? std::min(lo, d.data[i]) : d.data[i];
    hi = any ? std::max(hi, d.data[i]) : d.data[i];
    any = true;
  }
  if (!SaveFloatMap(d, out / "depth.pfm") ||
      !SaveFloatMap(virtualRig->GetCamera(0)->GetGroundTruth().depth, out / "true_depth.pfm") ||
      !img::SavePNG(FalseColour(d, lo, hi > lo ? hi : lo + 1.0f), out / "depth_preview.png") ||
      !img::SavePNG(GreyPreview(quality), out / "quality_preview.png")) {
    std::cerr << "Error: " << out.string() << ": cannot write the previews\n";
    return kExitFailure;
  }
  seconds["write"] = writeTimer.ElapsedSeconds();
  seconds["total"] = totalTimer.ElapsedSeconds();

  report["rig"] = rigDir.string();
  report["object"] = object.empty() ? std::string("scene") : object;
  report["mode"] = mode;
  report["turntable_deg"] = turntableDeg;
  report["pattern_count"] = slScan->PatternCount();
  report["noise_sigma"] = description.settings.noiseSigma;
  report["cameras"] = cameras;
  report["mesh"] = {{"vertices", mesh.positions.size()}, {"triangles", mesh.NumTriangles()}};
  report["seconds"] = seconds;
  std::ofstream json(out / "report.json");
  json << report.dump(2) << '\n';
  if (!json) {
    std::cerr << "Error: " << (out / "report.json").string() << ": cannot write\n";
    return kExitFailure;
  }
  const auto& c0 = cameras[0];
  std::cout << "Scan written to " << out.string() << ": " << c0["decoded_fraction_of_visible"].get<double>() * 100.0
            << "% of the visible pixels decoded; depth error RMS "
            << c0["depth_error_mm"]["rms"].get<double>() << " mm, p99 " << c0["depth_error_mm"]["p99"].get<double>()
            << " mm, max " << c0["depth_error_mm"]["max"].get<double>() << " mm over "
            << c0["valid_pixels"].get<std::size_t>() << " pixels; " << seconds["total"].get<double>() << " s\n";
  return kExitSuccess;
}

}  // namespace tarvelin
