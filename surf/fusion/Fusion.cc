#include "surf/fusion/Fusion.h"

#include <open3d/geometry/PointCloud.h>
#include <open3d/geometry/TriangleMesh.h>
#include <open3d/utility/Logging.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <stdexcept>

#include "surf/mesh/BoundaryLoops.h"
#include "surf/mesh/IndexMapping.h"
#include "surf/mesh/KDTree.h"
#include "surf/mesh/MeshArrays.h"
#include "surf/mesh/MeshEditing.h"
#include "surf/mesh/MeshTools.h"

namespace surf {

using math::Vec3d;
using math::Vec3f;

namespace {

constexpr double kCubeMargin = 1.2;
constexpr double kMergeTolerance = 1.1920929e-07;  // mm
constexpr int kGroundGrid = 200;
constexpr double kGroundEnlargement = 0.15;
// The value of the smallest unsupported region is -kMinUnsupportedSize, so
// that t = 0 removes every unsupported vertex.
constexpr double kMinUnsupportedSize = 1e-6;

std::string Format(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof(buffer), format, args...);
  return buffer;
}

void CheckResolution(int resolution, const char* where) {
  if (resolution < kMinFusionResolution || resolution > kMaxFusionResolution) {
    throw std::invalid_argument(std::string(where) + " - resolution " + std::to_string(resolution) +
                                " is outside " + std::to_string(kMinFusionResolution) + "…" +
                                std::to_string(kMaxFusionResolution) + ".");
  }
}

bool IsFinite(const Vec3f& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// The samples' box and the reconstruction's cube about its centre.
struct Cube {
  Vec3d min, max;
  double Extent() const { return std::max({max[0] - min[0], max[1] - min[1], max[2] - min[2]}); }
  Vec3d Centre() const { return (min + max) * 0.5; }
};

Cube BoundingBox(const std::vector<Vec3f>& points) {
  Cube box{Vec3d(points.front()), Vec3d(points.front())};
  for (const Vec3f& p : points) {
    for (int k = 0; k < 3; ++k) {
      box.min[k] = std::min(box.min[k], double(p[k]));
      box.max[k] = std::max(box.max[k], double(p[k]));
    }
  }
  return box;
}

// Peak resident memory of this process (MB).
double PeakMemoryMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

std::uint64_t AvailableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    if (line.rfind("MemAvailable:", 0) == 0) {
      std::istringstream in(line.substr(13));
      std::uint64_t kB = 0;
      if (in >> kB) return kB * 1024;
    }
  }
  return 0;
}

// Interleaves the bits of three cell coordinates (each below 2^21).
std::uint64_t Morton(std::uint32_t x, std::uint32_t y, std::uint32_t z, int bits) {
  std::uint64_t code = 0;
  for (int b = bits - 1; b >= 0; --b) {
    code = (code << 3) | (std::uint64_t((x >> b) & 1u) << 2) | (std::uint64_t((y >> b) & 1u) << 1) |
           std::uint64_t((z >> b) & 1u);
  }
  return code;
}

// Merges vertices within kMergeTolerance per coordinate, then drops the
// triangles that became degenerate, repeated triangles (same corners in the
// same turn) and unreferenced vertices.
void CleanUp(MeshArrays& mesh) {
  // Sorted by position, a vertex within the tolerance of its predecessor
  // (per coordinate) joins the predecessor's group.
  const std::size_t n = mesh.positions.size();
  std::vector<std::uint32_t> order(n);
  for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return math::LexicalLess<3, float>()(mesh.positions[a], mesh.positions[b]);
  });
  const auto close = [&](std::uint32_t a, std::uint32_t b) {
    for (int k = 0; k < 3; ++k) {
      if (!(std::abs(mesh.positions[a][k] - mesh.positions[b][k]) <= kMergeTolerance)) return false;
    }
    return true;
  };
  std::vector<std::uint32_t> representative(n);
  for (std::size_t r = 0; r < n; ++r) {
    representative[order[r]] = r > 0 && close(order[r], order[r - 1]) ? representative[order[r - 1]] : order[r];
  }
  std::vector<std::uint32_t> indices;
  indices.reserve(mesh.indices.size());
  for (std::size_t k = 0; k + 3 <= mesh.indices.size(); k += 3) {
    const std::uint32_t a = representative[mesh.indices[k]], b = representative[mesh.indices[k + 1]],
                        c = representative[mesh.indices[k + 2]];
    if (a != b && b != c && c != a) indices.insert(indices.end(), {a, b, c});
  }
  using Triangle = std::array<std::uint32_t, 3>;
  std::vector<std::pair<Triangle, std::size_t>> sorted;  // rotated to start at the least index
  sorted.reserve(indices.size() / 3);
  for (std::size_t k = 0; k < indices.size(); k += 3) {
    Triangle t{indices[k], indices[k + 1], indices[k + 2]};
    std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
    sorted.emplace_back(t, k);
  }
  std::sort(sorted.begin(), sorted.end());
  std::vector<char> keep(indices.size() / 3, 1);
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    if (sorted[i].first == sorted[i - 1].first) keep[sorted[i].second / 3] = 0;
  }
  mesh.indices.clear();
  for (std::size_t k = 0; k < indices.size(); k += 3) {
    if (keep[k / 3]) mesh.indices.insert(mesh.indices.end(), {indices[k], indices[k + 1], indices[k + 2]});
  }
  IndexMapping unused(mesh.positions.size());
  unused.Complete(mesh.indices, 3);
  mesh.positions = unused.RemapVertexBuffer(mesh.positions);
  mesh.indices = unused.RemapIndexBuffer(3);
}

}  // namespace

FusionDepth ComputeFusionDepth(int resolution) {
  CheckResolution(resolution, "surf::ComputeFusionDepth");
  FusionDepth result;
  while ((1 << result.depth) < resolution) ++result.depth;
  result.kernelDepth = result.depth - 2;
  result.scale = kCubeMargin * double(1 << result.depth) / double(resolution);
  return result;
}

bool ValidateFusionDepth(const FusionDepth& depth, std::string* error) {
  std::string message;
  if (depth.kernelDepth > depth.depth) {
    message = Format("[ERROR] %s can't be greater than %s: %d <= %d\n", "KernelDepth", "Depth", depth.kernelDepth,
                     depth.depth);
  } else if (depth.kernelDepth < 0) {
    message = Format("[ERROR] KernelDepth must be at least 0: %d\n", depth.kernelDepth);
  }
  if (error) *error = message;
  return message.empty();
}

double CalculateFusionVoxelSize(const std::vector<FusionBox>& boxes, int resolution) {
  CheckResolution(resolution, "surf::CalculateFusionVoxelSize");
  if (boxes.empty()) return 0.0;
  Vec3d min = boxes.front().min, max = boxes.front().max;
  for (const FusionBox& box : boxes) {
    for (int k = 0; k < 3; ++k) {
      min[k] = std::min(min[k], box.min[k]);
      max[k] = std::max(max[k], box.max[k]);
    }
  }
  const double extent = std::max({max[0] - min[0], max[1] - min[1], max[2] - min[2]});
  return kCubeMargin * extent / double(resolution);
}

std::vector<std::uint32_t> FilterFusionTriangles(const std::vector<std::uint32_t>& unfiltered,
                                                 const std::vector<float>& values, double t) {
  if (t >= 1.0) return unfiltered;
  std::vector<std::uint32_t> kept;
  kept.reserve(unfiltered.size());
  const float limit = -float(t);  // compared as stored: a value of -0.3f passes t = 0.3
  const auto keep = [&](std::uint32_t i) { return i < values.size() && values[i] >= limit; };
  for (std::size_t k = 0; k + 3 <= unfiltered.size(); k += 3) {
    if (keep(unfiltered[k]) && keep(unfiltered[k + 1]) && keep(unfiltered[k + 2])) {
      kept.insert(kept.end(), unfiltered.begin() + std::ptrdiff_t(k), unfiltered.begin() + std::ptrdiff_t(k + 3));
    }
  }
  return kept;
}

// The fused mesh between the steps of Reconstruct.
struct Fusion::Result {
  MeshArrays mesh;
  std::vector<float> values;
  double voxelSize = 0.0;
};

Fusion::Fusion(LogSink log) : m_log(std::move(log)) {}

void Fusion::Log(const std::string& text) const {
  if (m_log) {
    m_log(text);
  } else {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }
}

void Fusion::AddPointCloud(const std::vector<Vec3f>& positions, const std::vector<Vec3f>& normals) {
  if (positions.size() != normals.size()) {
    Log("Error in Fusion::AddPointCloud: #vertices != #normals.\n");
    return;
  }
  if (m_hasGround) throw std::logic_error("Fusion::AddPointCloud - the ground grid has already been added.");
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const Vec3f& n = normals[i];
    if (!IsFinite(positions[i]) || !IsFinite(n) || n.LengthSquared() <= 0.0f) continue;
    m_positions.push_back(positions[i]);
    m_normals.push_back(n.GetNormalized());
  }
  m_numScanSamples = m_positions.size();
}

void Fusion::PreprocessGround(const math::Frame4d& world_T_reference) {
  Log("Corona preprocessing...");
  if (m_hasGround) throw std::logic_error("Fusion::PreprocessGround - the ground grid has already been added.");
  if (m_positions.empty()) {
    Log("done\n");
    return;
  }
  const math::Frame4d reference_T_world = world_T_reference.GetInverse();
  std::vector<Vec3f> local(m_positions.size());
  for (std::size_t i = 0; i < local.size(); ++i) local[i] = Vec3f(reference_T_world.MultP(Vec3d(m_positions[i])));
  const Cube box = BoundingBox(local);
  const double extent = box.Extent() * (1.0 + 2.0 * kGroundEnlargement);
  const double spacing = extent / kGroundGrid;
  const Vec3d centre = box.Centre();
  const double z = box.min[2] - spacing;
  const Vec3d down = world_T_reference.MultV(Vec3d(0.0, 0.0, -1.0));
  for (int j = 0; j < kGroundGrid; ++j) {
    for (int i = 0; i < kGroundGrid; ++i) {
      const Vec3d p(centre[0] + (i + 0.5 - 0.5 * kGroundGrid) * spacing,
                    centre[1] + (j + 0.5 - 0.5 * kGroundGrid) * spacing, z);
      // The outermost rows and columns turn the ground's rim down by 45°:
      // their normals lean towards the centre.
      Vec3d n(0.0, 0.0, -1.0);
      if (i == 0) n[0] += 1.0;
      if (i == kGroundGrid - 1) n[0] -= 1.0;
      if (j == 0) n[1] += 1.0;
      if (j == kGroundGrid - 1) n[1] -= 1.0;
      m_positions.push_back(Vec3f(world_T_reference.MultP(p)));
      m_normals.push_back(Vec3f(world_T_reference.MultV(n.GetNormalized())));
    }
  }
  m_hasGround = true;
  m_groundPoint = world_T_reference.MultP(Vec3d(centre[0], centre[1], z));
  m_groundNormal = -down;
  m_groundSpacing = spacing;
  Log("done\n");
}

void Fusion::PostprocessGround() {
  if (!m_hasGround) return;
  Log("Corona postprocessing...");
  const Vec3d cut = m_groundPoint + m_groundNormal * std::max(0.5 * m_groundSpacing, m_voxelSize);
  const auto below = [&](std::uint32_t i) { return Dot(Vec3d(m_resultPositions[i]) - cut, m_groundNormal) < 0.0; };
  const std::vector<std::uint32_t>& triangles = m_resultTriangles;
  // Regions of unsupported vertices (joined along triangle edges); those
  // that reach the ground go with it.
  std::vector<std::uint32_t> parent(m_resultPositions.size());
  for (std::uint32_t i = 0; i < parent.size(); ++i) parent[i] = i;
  const auto root = [&](std::uint32_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  const auto unsupported = [&](std::uint32_t i) { return m_resultValues[i] < 0.0f; };
  for (std::size_t k = 0; k + 3 <= triangles.size(); k += 3) {
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = triangles[k + e], b = triangles[k + (e + 1) % 3];
      if (unsupported(a) && unsupported(b)) parent[root(a)] = root(b);
    }
  }
  std::vector<char> grounded(parent.size(), 0);
  for (std::size_t k = 0; k + 3 <= triangles.size(); k += 3) {
    if (!below(triangles[k]) || !below(triangles[k + 1]) || !below(triangles[k + 2])) continue;
    for (int c = 0; c < 3; ++c) {
      if (unsupported(triangles[k + c])) grounded[root(triangles[k + c])] = 1;
    }
  }
  const auto goes = [&](std::uint32_t i) { return unsupported(i) && grounded[root(i)]; };
  std::vector<std::uint32_t> kept;
  kept.reserve(triangles.size());
  for (std::size_t k = 0; k + 3 <= triangles.size(); k += 3) {
    const std::uint32_t a = triangles[k], b = triangles[k + 1], c = triangles[k + 2];
    if ((below(a) && below(b) && below(c)) || goes(a) || goes(b) || goes(c)) continue;
    kept.insert(kept.end(), {a, b, c});
  }
  // Drop the vertices no kept triangle uses.
  std::vector<std::int32_t> mapping(m_resultPositions.size(), -1);
  std::uint32_t next = 0;
  for (std::uint32_t& i : kept) {
    if (mapping[i] < 0) mapping[i] = std::int32_t(next++);
  }
  std::vector<Vec3f> positions(next), normals(next);
  std::vector<float> values(next);
  for (std::size_t i = 0; i < mapping.size(); ++i) {
    if (mapping[i] < 0) continue;
    positions[mapping[i]] = m_resultPositions[i];
    normals[mapping[i]] = m_resultNormals[i];
    values[mapping[i]] = m_resultValues[i];
  }
  for (std::uint32_t& i : kept) i = std::uint32_t(mapping[i]);
  m_resultPositions = std::move(positions);
  m_resultNormals = std::move(normals);
  m_resultValues = std::move(values);
  m_resultTriangles = std::move(kept);
  Log("done\n");
}

std::uint64_t Fusion::EstimateMemory(const FusionDepth& depth) const {
  if (m_positions.empty()) return 0;
  const Cube box = BoundingBox(m_positions);
  const double side = depth.scale * std::max(box.Extent(), 1e-12);
  const Vec3d corner = box.Centre() - Vec3d(0.5 * side, 0.5 * side, 0.5 * side);
  const int d = depth.depth;
  const double cells = double(1u << d);
  std::vector<std::uint64_t> codes(m_positions.size());
  for (std::size_t i = 0; i < codes.size(); ++i) {
    std::uint32_t c[3];
    for (int k = 0; k < 3; ++k) {
      const double x = std::floor((double(m_positions[i][k]) - corner[k]) / side * cells);
      c[k] = std::uint32_t(std::clamp(x, 0.0, cells - 1.0));
    }
    codes[i] = Morton(c[0], c[1], c[2], d);
  }
  std::sort(codes.begin(), codes.end());
  // Occupied cells over all levels; every one brings its siblings and
  // neighbours into the tree.
  double occupied = 0.0;
  for (int level = 0; level <= d; ++level) {
    const int shift = 3 * (d - level);
    std::size_t distinct = 1;
    for (std::size_t i = 1; i < codes.size(); ++i) distinct += (codes[i] >> shift) != (codes[i - 1] >> shift);
    occupied += double(distinct);
  }
  constexpr double kBytesPerOccupiedCell = 2000.0;
  constexpr double kBytesPerSample = 400.0;
  constexpr double kFixedBytes = 64.0 * 1024 * 1024;
  return std::uint64_t(kFixedBytes + kBytesPerOccupiedCell * occupied + kBytesPerSample * double(codes.size()));
}

bool Fusion::CheckMemory(const FusionDepth& depth, std::uint64_t limit) const {
  const std::uint64_t needed = EstimateMemory(depth);
  if (limit == 0) limit = AvailableMemory();
  if (limit == 0 || needed <= limit) return true;
  Log(Format("Error: the fusion at depth %d needs about %.0f MB, but only %.0f MB are available; choose a "
             "lower resolution.\n",
             depth.depth, double(needed) / (1 << 20), double(limit) / (1 << 20)));
  return false;
}

bool Fusion::Mark(int step, double fraction, const utils::ProgressCallback& progress) {
  Log("Fusion " + std::to_string(step) + "\n");
  if (progress && progress(fraction)) {
    m_cancelled = true;
    Log("Fusion cancelled\n");
    return false;
  }
  return true;
}

bool Fusion::Reconstruct(const FusionOptions& options, const utils::ProgressCallback& progress) {
  const auto start = std::chrono::steady_clock::now();
  m_cancelled = false;
  if (options.resolution < kMinFusionResolution || options.resolution > kMaxFusionResolution) {
    Log(Format("Error: the fusion resolution %d is outside %d…%d.\n", options.resolution, kMinFusionResolution,
               kMaxFusionResolution));
    return false;
  }
  const FusionDepth depth = ComputeFusionDepth(options.resolution);
  std::string error;
  if (!ValidateFusionDepth(depth, &error)) {
    Log(error);
    return false;
  }
  if (!Mark(1, 0.0, progress)) return false;
  if (m_numScanSamples == 0) {
    Log("No triangles! Can't generate fused surface.\n");
    return false;
  }
  if (!CheckMemory(depth, options.memoryLimit)) return false;
  if (!Mark(2, 0.05, progress)) return false;

  Result result;
  result.voxelSize = depth.scale * BoundingBox(m_positions).Extent() / double(1 << depth.depth);
  if (!Solve(depth, options, progress, result)) return false;
  if (result.mesh.indices.empty()) {
    Log("No triangles! Can't generate fused surface.\n");
    return false;
  }
  if (!PostProcess(options, progress, result)) return false;
  if (!Mark(12, 1.0, progress)) return false;
  Store(result);
  Log(Format("#             Total Solve: %9.1f (s), %9.1f (MB)\n",
             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), PeakMemoryMB()));
  Log("Fusion finished\n");
  return true;
}

bool Fusion::Solve(const FusionDepth& depth, const FusionOptions& options, const utils::ProgressCallback& progress,
                   Result& result) {
  open3d::geometry::PointCloud cloud;
  cloud.points_.reserve(m_positions.size());
  cloud.normals_.reserve(m_positions.size());
  for (std::size_t i = 0; i < m_positions.size(); ++i) {
    cloud.points_.emplace_back(m_positions[i][0], m_positions[i][1], m_positions[i][2]);
    cloud.normals_.emplace_back(m_normals[i][0], m_normals[i][1], m_normals[i][2]);
  }
  Log(Format("Input Points: %d\n", int(m_positions.size())));
  if (!Mark(3, 0.1, progress)) return false;
  if (!Mark(4, 0.25, progress)) return false;

  std::shared_ptr<open3d::geometry::TriangleMesh> fused;
  const auto start = std::chrono::steady_clock::now();
  const auto verbosity = open3d::utility::GetVerbosityLevel();
  open3d::utility::SetVerbosityLevel(open3d::utility::VerbosityLevel::Error);
  try {
    fused = std::get<0>(open3d::geometry::TriangleMesh::CreateFromPointCloudPoisson(
        cloud, std::size_t(depth.depth), 0.0f, float(depth.scale), options.linearFit,
        options.threads > 0 ? options.threads : -1));
  } catch (const std::bad_alloc&) {
    Log("Error: the fusion ran out of memory; choose a lower resolution.\n");
  } catch (const std::exception& e) {
    Log(std::string("Error: the reconstruction failed: ") + e.what() + "\n");
  }
  open3d::utility::SetVerbosityLevel(verbosity);
  cloud.Clear();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Log(Format("#        Got triangles in: %9.1f (s), %9.1f (MB)\n", seconds, PeakMemoryMB()));
  Log(Format("Memory Usage: %.3f MB\n", PeakMemoryMB()));
  if (!fused) return false;
  if (!Mark(5, 0.7, progress)) return false;

  MeshArrays& mesh = result.mesh;
  mesh.positions.reserve(fused->vertices_.size());
  for (const auto& p : fused->vertices_) mesh.positions.emplace_back(float(p.x()), float(p.y()), float(p.z()));
  mesh.indices.reserve(3 * fused->triangles_.size());
  for (const auto& t : fused->triangles_) {
    mesh.indices.insert(mesh.indices.end(), {std::uint32_t(t[0]), std::uint32_t(t[1]), std::uint32_t(t[2])});
  }
  return true;
}

bool Fusion::PostProcess(const FusionOptions& options, const utils::ProgressCallback& progress, Result& result) {
  Log("PostProcessFusion\n");
  MeshArrays& mesh = result.mesh;
  if (!options.delaunay) CleanUp(mesh);
  if (!Mark(6, 0.72, progress)) return false;
  // The surface is open where it leaves the reconstruction's cube.
  CloseBoundaryLoops(mesh.positions, mesh.indices);
  if (options.delaunay) {
    MakeDelaunay(mesh);
    Smoothing(mesh, false);
  }
  if (!Mark(7, 0.75, progress)) return false;
  RecomputeNormals(mesh);
  if (!Mark(8, 0.8, progress)) return false;
  const std::vector<char> supported = FindSupport(result);
  if (!Mark(9, 0.85, progress)) return false;
  GradeSupport(supported, result);
  if (!Mark(10, 0.9, progress)) return false;
  if (!Mark(11, 0.95, progress)) return false;
  return true;
}

std::vector<char> Fusion::FindSupport(Result& result) const {
  MeshArrays& mesh = result.mesh;
  const std::size_t n = mesh.positions.size();
  KDTree tree;
  tree.Build(std::vector<Vec3f>(m_positions.begin(), m_positions.begin() + std::ptrdiff_t(m_numScanSamples)),
             std::vector<Vec3f>(m_normals.begin(), m_normals.begin() + std::ptrdiff_t(m_numScanSamples)));
  const float radius = float(2.0 * result.voxelSize);
  std::vector<char> supported(n, 0);
  std::ptrdiff_t agree = 0, disagree = 0;
#pragma omp parallel for schedule(static) reduction(+ : agree, disagree)
  for (std::ptrdiff_t i = 0; i < std::ptrdiff_t(n); ++i) {
    const std::int32_t nearest = tree.FindNearest(mesh.positions[std::size_t(i)], radius);
    if (nearest == KDTree::kNone) continue;
    supported[std::size_t(i)] = 1;
    if (Dot(tree.GetNormals()[std::size_t(nearest)], mesh.normals[std::size_t(i)]) >= 0.0f) {
      ++agree;
    } else {
      ++disagree;
    }
  }
  // The triangles face the way the samples' normals do.
  if (disagree > agree) {
    for (std::size_t k = 0; k < mesh.indices.size(); k += 3) std::swap(mesh.indices[k + 1], mesh.indices[k + 2]);
    for (Vec3f& normal : mesh.normals) normal = -normal;
  }
  return supported;
}

void Fusion::GradeSupport(const std::vector<char>& supported, Result& result) const {
  const std::vector<Vec3f>& positions = result.mesh.positions;
  const std::vector<std::uint32_t>& indices = result.mesh.indices;
  const std::size_t n = positions.size();
  // Edge adjacency (compressed rows).
  std::vector<std::uint32_t> offsets(n + 1, 0), neighbours;
  for (std::uint32_t i : indices) offsets[i + 1] += 2;
  for (std::size_t i = 0; i < n; ++i) offsets[i + 1] += offsets[i];
  neighbours.resize(offsets[n]);
  {
    std::vector<std::uint32_t> fill(offsets.begin(), offsets.end() - 1);
    for (std::size_t k = 0; k + 3 <= indices.size(); k += 3) {
      for (int e = 0; e < 3; ++e) {
        const std::uint32_t a = indices[k + e];
        neighbours[fill[a]++] = indices[k + (e + 1) % 3];
        neighbours[fill[a]++] = indices[k + (e + 2) % 3];
      }
    }
  }
  // One value per connected region of unsupported vertices: the largest
  // extent of its box relative to the mesh's; −1 for a region that touches
  // no supported vertex.
  const double extent = n > 0 ? BoundingBox(positions).Extent() : 0.0;
  result.values.assign(n, 1.0f);
  std::vector<char> visited(n, 0);
  std::vector<std::uint32_t> region;
  for (std::uint32_t seed = 0; seed < n; ++seed) {
    if (supported[seed] || visited[seed]) continue;
    region.assign(1, seed);
    visited[seed] = 1;
    bool bordered = false;
    Vec3d min(positions[seed]), max(positions[seed]);
    for (std::size_t r = 0; r < region.size(); ++r) {
      const std::uint32_t i = region[r];
      for (int k = 0; k < 3; ++k) {
        min[k] = std::min(min[k], double(positions[i][k]));
        max[k] = std::max(max[k], double(positions[i][k]));
      }
      for (std::uint32_t k = offsets[i]; k < offsets[i + 1]; ++k) {
        const std::uint32_t j = neighbours[k];
        bordered = bordered || supported[j];
        if (!supported[j] && !visited[j]) visited[j] = 1, region.push_back(j);
      }
    }
    const double size = Cube{min, max}.Extent() / extent;
    const float value = bordered && extent > 0.0 ? float(-std::clamp(size, kMinUnsupportedSize, 1.0)) : -1.0f;
    for (std::uint32_t i : region) result.values[i] = value;
  }
}

void Fusion::Store(Result& result) {
  m_voxelSize = result.voxelSize;
  m_resultPositions = std::move(result.mesh.positions);
  m_resultNormals = std::move(result.mesh.normals);
  m_resultTriangles = std::move(result.mesh.indices);
  m_resultValues = std::move(result.values);
}

}  // namespace surf
