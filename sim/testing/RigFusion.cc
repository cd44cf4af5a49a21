#include "sim/testing/RigFusion.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <numbers>

#include "surf/fusion/Fusion.h"
#include "surf/mesh/GeoItem.h"
#include "surf/fusion/ShapeFusion.h"

namespace sim::testing {
namespace {

using math::Vec3d;
using math::Vec3f;

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The wall point at (φ, z) and its outward normal.
void WallPoint(const VaseSpec& spec, double phi, double z, Vec3d& point, Vec3d& normal) {
  constexpr double h = 1e-5;
  const double rho = VaseRadius(spec, z, phi);
  const double dPhi = (VaseRadius(spec, z, phi + h) - VaseRadius(spec, z, phi - h)) / (2 * h);
  const double dZ = (VaseRadius(spec, z + h, phi) - VaseRadius(spec, z - h, phi)) / (2 * h);
  const double c = std::cos(phi), s = std::sin(phi);
  point = Vec3d(rho * c, rho * s, z);
  const Vec3d alongPhi(dPhi * c - rho * s, dPhi * s + rho * c, 0.0), alongZ(dZ * c, dZ * s, 1.0);
  normal = (alongPhi ^ alongZ).GetNormalized();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

double PeakMemoryMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

// Grey level (0…255) of the image at texture coordinates (u, v), v = 0 the
// top row, bilinear between pixel centres.
double GreyAt(const img::RGBImage& image, float u, float v) {
  const double x = std::clamp(double(u) * image.width - 0.5, 0.0, double(image.width - 1));
  const double y = std::clamp(double(v) * image.height - 0.5, 0.0, double(image.height - 1));
  const auto x0 = std::uint32_t(x), y0 = std::uint32_t(y);
  const std::uint32_t x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
  const double fx = x - x0, fy = y - y0;
  const auto grey = [&](std::uint32_t px, std::uint32_t py) {
    const img::RGB8& c = image(px, py);
    return (double(c.r) + c.g + c.b) / 3.0;
  };
  return (1 - fy) * ((1 - fx) * grey(x0, y0) + fx * grey(x1, y0)) + fy * ((1 - fx) * grey(x0, y1) + fx * grey(x1, y1));
}

ColourStats ScoreColour(const std::vector<double>& levels, const std::vector<float>& albedos, const VaseChecker& checker) {
  ColourStats s;
  s.count = levels.size();
  if (levels.empty()) return s;
  double la = 0.0, aa = 0.0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    la += levels[i] * albedos[i];
    aa += double(albedos[i]) * albedos[i];
  }
  s.gain = la / aa;
  double squares = 0.0, sumA = 0.0, sumB = 0.0;
  std::size_t countA = 0, countB = 0, wrong = 0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const double seen = levels[i] / s.gain, truth = albedos[i];
    squares += (seen - truth) * (seen - truth) / (truth * truth);
    const bool isA = albedos[i] == checker.a;
    (isA ? sumA : sumB) += seen;
    ++(isA ? countA : countB);
    const double other = isA ? checker.b : checker.a;
    wrong += std::abs(seen - other) < std::abs(seen - truth);
  }
  s.rmsRelative = std::sqrt(squares / double(levels.size()));
  s.meanA = countA ? sumA / double(countA) : 0.0;
  s.meanB = countB ? sumB / double(countB) : 0.0;
  s.wrongCell = double(wrong) / double(levels.size());
  return s;
}

}  // namespace

void PaintChecker(ObjectDescription& vase, const VaseChecker& checker) {
  vase.albedo = Albedo(checker.a, checker.a, checker.a);
  vase.hasTexture = true;
  vase.texture.cellsS = checker.cellsS;
  vase.texture.cellsT = checker.cellsT;
  vase.texture.albedo2 = Albedo(checker.b, checker.b, checker.b);
}

VaseTruth::VaseTruth(const VaseSpec& spec, double spacing) : m_spec(spec), m_spacing(spacing) {
  std::vector<Vec3f> points, normals;
  const int around = int(std::ceil(kTwoPi * spec.radius / spacing));
  const int rows = int(std::ceil(spec.height / spacing)) + 1;
  points.reserve(std::size_t(around) * std::size_t(rows));
  normals.reserve(points.capacity());
  for (int j = 0; j < rows; ++j) {
    const double z = spec.height * (double(j) / (rows - 1) - 0.5);
    for (int i = 0; i < around; ++i) {
      Vec3d p, n;
      WallPoint(spec, kTwoPi * i / around, z, p, n);
      points.push_back(Vec3f(p));
      normals.push_back(Vec3f(n));
    }
  }
  // The caps: rings about the axis out to the (ribbed) rim.
  for (const double z : {-0.5 * spec.height, 0.5 * spec.height}) {
    const Vec3f normal(0.0f, 0.0f, z > 0 ? 1.0f : -1.0f);
    for (double r = 0.0; r < spec.radius; r += spacing) {
      const int count = std::max(1, int(std::ceil(kTwoPi * r / spacing)));
      for (int i = 0; i < count; ++i) {
        const double phi = kTwoPi * i / count;
        if (r >= VaseRadius(spec, z, phi)) continue;
        points.push_back(Vec3f(Vec3d(r * std::cos(phi), r * std::sin(phi), z)));
        normals.push_back(normal);
      }
    }
  }
  m_tree.Build(std::move(points), std::move(normals));
}

double VaseTruth::Distance(const Vec3f& p) const {
  const std::int32_t i = m_tree.FindNearest(p, 1e30f);
  const Vec3d d = Vec3d(p) - Vec3d(m_tree.GetPoints()[std::size_t(i)]);
  const Vec3d n(m_tree.GetNormals()[std::size_t(i)]);
  const double along = math::Dot(d, n);
  const double across = (d - n * along).Length();
  return across > m_spacing ? d.Length() : std::abs(along);
}

bool VaseTruth::Albedo(const Vec3f& p, const VaseChecker& checker, double margin, float& albedo) const {
  const double z = p[2], half = 0.5 * m_spec.height;
  if (std::abs(z) > half - margin) return false;
  double phi = std::atan2(double(p[1]), double(p[0]));
  if (phi < 0.0) phi += kTwoPi;
  const double rho = VaseRadius(m_spec, z, phi);
  if (std::abs(std::hypot(double(p[0]), double(p[1])) - rho) > margin) return false;  // not on the wall
  const double fs = phi / kTwoPi * checker.cellsS, ft = (z / m_spec.height + 0.5) * checker.cellsT;
  const double cellS = kTwoPi * rho / checker.cellsS, cellT = m_spec.height / checker.cellsT;  // mm
  const auto edgeDistance = [](double f) { return std::min(f - std::floor(f), std::ceil(f) - f); };
  if (edgeDistance(fs) * cellS < margin || edgeDistance(ft) * cellT < margin) return false;
  const long cell = long(std::floor(fs)) + long(std::floor(ft));
  albedo = cell % 2 == 0 ? checker.a : checker.b;
  return true;
}

DistanceStats Summarise(std::vector<double> d) {
  DistanceStats s;
  s.count = d.size();
  if (d.empty()) return s;
  double squares = 0.0;
  for (double x : d) squares += x * x;
  s.rms = std::sqrt(squares / double(d.size()));
  std::sort(d.begin(), d.end());
  s.p99 = d[std::min(d.size() - 1, std::size_t(0.99 * double(d.size())))];
  s.max = d.back();
  return s;
}

bool IsClosed(const std::vector<Vec3f>& positions, const std::vector<std::uint32_t>& triangles) {
  if (triangles.empty()) return false;
  std::map<Vec3f, std::uint32_t, math::LexicalLess<3, float>> ids;
  std::vector<std::uint32_t> welded(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) welded[i] = ids.emplace(positions[i], std::uint32_t(ids.size())).first->second;
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
  for (std::size_t k = 0; k + 2 < triangles.size(); k += 3) {
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = welded[triangles[k + e]], b = welded[triangles[k + (e + 1) % 3]];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  }
  return std::all_of(uses.begin(), uses.end(), [](const auto& use) { return use.second == 2; });
}

RigFusionResult FuseAndScore(const std::vector<RigScan>& scans, const VaseTruth& truth,
                             const RigFusionOptions& options) {
  RigFusionResult result;
  surf::ShapeFusion list;
  for (const RigScan& scan : scans) {
    surf::MeshArrays mesh = scan.mesh;
    if (!options.texture) {
      mesh.texture = img::RGBImage();
      mesh.texCoords.clear();
    }
    result.scanVertices += mesh.positions.size();
    const math::Frame4d objectTworld = scan.world_T_object.GetInverse();
    std::vector<double> own;
    own.reserve(mesh.positions.size());
    for (const Vec3f& p : mesh.positions) own.push_back(truth.Distance(Vec3f(objectTworld.MultP(Vec3d(p)))));
    result.scanErrors.push_back(Summarise(std::move(own)));
    const int index = list.AddGeo(surf::MakeGeoItem(mesh));
    list.SetGeoFrame(index, scan.world_T_object.GetInverse());
  }
  result.voxelSize = list.CalculateFusionVoxelSize(options.resolution);
  {
    surf::Fusion estimate([](const std::string&) {});
    for (const RigScan& scan : scans) {
      const math::Frame4d objectTworld = scan.world_T_object.GetInverse();
      std::vector<Vec3f> positions, normals;
      for (const Vec3f& p : scan.mesh.positions) positions.push_back(Vec3f(objectTworld.MultP(Vec3d(p))));
      for (const Vec3f& n : scan.mesh.normals) normals.push_back(Vec3f(objectTworld.MultV(Vec3d(n))));
      estimate.AddPointCloud(positions, normals);
    }
    result.estimatedMemoryMB =
        double(estimate.EstimateMemory(surf::ComputeFusionDepth(options.resolution))) / (1 << 20);
  }

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const double cpuStart = CpuSeconds();
  bool reconstructed = false;
  // Progress 1.0 is first reported after reconstruction and smoothing,
  // before texture fusion.
  const auto progress = [&](double f) {
    if (!reconstructed && f >= 1.0) {
      reconstructed = true;
      result.fusion = {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpuStart};
    }
    return false;
  };
  const bool failed = list.StartFusionPoisson(progress, options.resolution, options.holeClosing, false, false, 0.0f, 0,
                                              "Fusion result");
  const StageTime total{std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpuStart};
  result.textureFusion = {total.wall - result.fusion.wall, total.cpu - result.fusion.cpu};
  result.peakMemoryMB = PeakMemoryMB();
  const v3d::Geo* fused = list.GetGeo(surf::ShapeFusion::kFusionResultIndex);
  if (failed || !fused || fused->GetNumMeshes() == 0) {
    result.error = "the fusion failed";
    return result;
  }
  const v3d::Mesh& mesh = *fused->GetMesh(0);
  const auto& positions = mesh.GetVertexCoords();
  const auto& values = mesh.GetVertexQualities();
  result.vertices = positions.size();
  result.triangles = mesh.GetPrims().size() / 3;
  result.closed = IsClosed(positions, mesh.GetPrims());

  std::vector<double> all(positions.size()), supported;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    all[i] = truth.Distance(positions[i]);
    if (i < values.size() && values[i] >= 1.0f) supported.push_back(all[i]);
  }
  result.all = Summarise(all);
  result.supported = Summarise(std::move(supported));

  result.textured = list.HasTexture(surf::ShapeFusion::kFusionResultIndex);
  const auto& texCoords = mesh.GetVertexTexCoords();
  if (result.textured && texCoords.size() == positions.size()) {
    const img::RGBImage image = list.GetTextureImage(surf::ShapeFusion::kFusionResultIndex);
    VaseChecker checker = options.checker;
    if (!options.hasChecker) checker.b = checker.a;
    std::vector<double> levels;
    std::vector<float> albedos;
    for (std::size_t i = 0; i < positions.size(); ++i) {
      float albedo = 0.0f;
      if (image.IsEmpty() || !truth.Albedo(positions[i], checker, options.colourMargin, albedo)) continue;
      levels.push_back(GreyAt(image, texCoords[i][0], texCoords[i][1]));
      albedos.push_back(albedo);
    }
    result.colour = ScoreColour(levels, albedos, checker);
  }
  result.ok = true;
  return result;
}

}  // namespace sim::testing
