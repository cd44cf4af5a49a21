#include "surf/measure/Deviation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "surf/mesh/KDTree.h"
#include "surf/measure/ClosestPoint.h"
#include "v3d/GeoTools.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;

bool IsFinite(const Vec3f& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

int ThreadNumber() {
#ifdef _OPENMP
  return omp_get_thread_num();
#else
  return 0;
#endif
}

// One reference mesh, searchable by the chosen method. The kd-tree over the
// finite vertices serves the vertex method and, for the triangle method,
// bounds the search: the nearest vertex is never closer than the surface.
class ReferenceSurface {
 public:
  ReferenceSurface(const v3d::Mesh& mesh, DeviationMethod method) : m_method(method) {
    const auto& positions = mesh.GetVertexCoords();
    const auto& normals = mesh.GetVertexNormals();
    const bool hasNormals = normals.size() == positions.size() && !positions.empty();
    std::vector<Vec3f> points, pointNormals;
    points.reserve(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
      if (!IsFinite(positions[i])) continue;
      points.push_back(positions[i]);
      if (hasNormals) pointNormals.push_back(normals[i]);
    }
    m_tree.Build(std::move(points), std::move(pointNormals));
    if (method == DeviationMethod::kTriangle) {
      m_triangles = std::make_unique<TriangleSearch>(
          positions, hasNormals ? std::span<const Vec3f>(normals) : std::span<const Vec3f>(),
          mesh.GetPrims());
    }
  }

  // The signed distance of q (reference coordinates) to the surface found
  // within radius; false when there is none.
  bool Find(const Vec3f& q, float radius, float& deviation) const {
    if (!IsFinite(q)) return false;
    float vertexDistance = 0.f;
    const std::int32_t nearest = m_tree.FindNearest(q, radius, &vertexDistance);
    if (m_method == DeviationMethod::kVertex) {
      if (nearest == KDTree::kNone) return false;
      const std::size_t r = static_cast<std::size_t>(nearest);
      deviation = math::Dot(q - m_tree.GetPoints()[r], m_tree.GetNormals()[r]);
      return true;
    }
    // Slightly beyond the nearest vertex, which lies on the surface too.
    const float bound =
        nearest == KDTree::kNone ? radius : std::min(radius, vertexDistance * 1.0001f + 1e-6f);
    TriangleSearch::Hit hit;
    if (!m_triangles->FindClosest(q, bound, hit)) return false;
    deviation = math::Dot(q - hit.point, hit.normal) < 0.f ? -hit.distance : hit.distance;
    return true;
  }

 private:
  DeviationMethod m_method;
  KDTree m_tree;
  std::unique_ptr<TriangleSearch> m_triangles;
};

bool Usable(const v3d::Mesh& mesh, DeviationMethod method) {
  if (mesh.GetNumVertices() == 0) return false;
  return method == DeviationMethod::kVertex || (mesh.GetPrimSize() == 3 && mesh.GetNumPrims() > 0);
}

}  // namespace

const char* DeviationMethodName(DeviationMethod method) {
  return method == DeviationMethod::kTriangle ? "triangle" : "vertex";
}

DeviationResult ComputeDeviations(const v3d::Geo& test, const v3d::Geo& reference,
                                  const DeviationOptions& options) {
  const float t = options.tolerance;
  if (!(t > 0.f) || !std::isfinite(t)) {
    throw std::invalid_argument(
        "surf::ComputeDeviations - The tolerance must be a number above 0, not " +
        std::to_string(t) + ".");
  }
  std::vector<const v3d::Mesh*> references;
  for (const auto& mesh : reference) {
    if (!Usable(*mesh, options.method)) continue;
    if (options.method == DeviationMethod::kVertex &&
        mesh->GetVertexNormals().size() != mesh->GetNumVertices()) {
      throw std::invalid_argument(
          "surf::ComputeDeviations - A mesh of the reference object has no vertex normals.");
    }
    references.push_back(mesh.get());
  }

  DeviationResult result;
  std::vector<std::vector<Vec3f>> placed;
  const math::Frame4d referenceFromTest =
      reference.GetWorldFrame().GetInverse() * test.GetWorldFrame();
  for (const auto& mesh : test) {
    std::vector<Vec3f>& points = placed.emplace_back();
    points.reserve(mesh->GetNumVertices());
    for (const Vec3f& p : mesh->GetVertexCoords())
      points.push_back(Vec3f(referenceFromTest.MultP(Vec3d(p))));
    result.perMesh.emplace_back(points.size(), std::numeric_limits<float>::max());
    result.vertices += points.size();
  }

  const double total =
      double(result.vertices) * double(std::max<std::size_t>(references.size(), 1));
  std::atomic<std::size_t> done{0};
  std::atomic<bool> cancel{false};
  const auto report = [&](std::size_t count) {
    if (options.progress && options.progress(total > 0 ? double(count) / total : 1.0))
      cancel = true;
  };
  std::vector<std::vector<std::uint8_t>> found(placed.size());
  for (std::size_t m = 0; m < placed.size(); ++m) found[m].assign(placed[m].size(), 0);
  for (const v3d::Mesh* mesh : references) {
    const ReferenceSurface surface(*mesh, options.method);
    for (std::size_t m = 0; m < placed.size() && !cancel; ++m) {
      const std::vector<Vec3f>& points = placed[m];
      std::vector<float>& values = result.perMesh[m];
      std::vector<std::uint8_t>& hits = found[m];
      const std::int64_t n = static_cast<std::int64_t>(points.size());
      // Thread 0 reports after every 100 of its own vertices.
#pragma omp parallel
      {
        const bool reporter = ThreadNumber() == 0;
        std::size_t own = 0;
#pragma omp for schedule(dynamic, 512)
        for (std::int64_t i = 0; i < n; ++i) {
          if (cancel.load(std::memory_order_relaxed)) continue;
          const Vec3f& q = points[std::size_t(i)];
          float candidate = t;
          if (surface.Find(q, 2.f * t, candidate)) {
            candidate = std::clamp(candidate, -t, t);
            hits[std::size_t(i)] = 1;
          }
          float& value = values[std::size_t(i)];
          if (std::abs(candidate) < std::abs(value)) value = candidate;
          const std::size_t count = done.fetch_add(1, std::memory_order_relaxed) + 1;
          if (reporter && ++own % 100 == 0) report(count);
        }
      }
    }
  }
  // The last report may cancel too.
  if (!cancel) report(std::size_t(total));
  if (cancel) {
    result.cancelled = true;
    return result;
  }

  for (std::size_t m = 0; m < placed.size(); ++m) {
    for (std::size_t i = 0; i < placed[m].size(); ++i) {
      float& value = result.perMesh[m][i];
      if (!IsFinite(placed[m][i])) {
        value = std::numeric_limits<float>::quiet_NaN();
        ++result.nonFinite;
      } else if (references.empty()) {
        value = t;
      }
      result.withReference += found[m][i];
    }
  }
  return result;
}

bool EnsureVertexNormals(v3d::Geo& geo) {
  bool added = false;
  for (const auto& mesh : geo) {
    if (mesh->GetPrimSize() == 3 && mesh->GetVertexNormals().size() != mesh->GetNumVertices()) {
      v3d::CalcVertexNormals(*mesh);
      added = true;
    }
  }
  return added;
}

std::vector<float> ConcatenateDeviations(const DeviationResult& result) {
  std::vector<float> all;
  all.reserve(result.vertices);
  for (const auto& values : result.perMesh) all.insert(all.end(), values.begin(), values.end());
  return all;
}

std::vector<float> DeviationMagnitudes(const std::vector<float>& deviations) {
  std::vector<float> magnitudes;
  magnitudes.reserve(deviations.size());
  for (const float d : deviations)
    if (!std::isnan(d)) magnitudes.push_back(std::abs(d));
  return magnitudes;
}

}  // namespace surf
