#include "surf/measure/ClosestPoint.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace surf {

using math::Vec3d;
using math::Vec3f;

Vec3d ClosestPointOnTriangle(const Vec3d& p, const Vec3d& a, const Vec3d& b, const Vec3d& c) {
  const Vec3d ab = b - a, ac = c - a, ap = p - a;
  const double d1 = math::Dot(ab, ap), d2 = math::Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return {1, 0, 0};
  const Vec3d bp = p - b;
  const double d3 = math::Dot(ab, bp), d4 = math::Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return {0, 1, 0};
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) {
    const double v = d1 / (d1 - d3);
    return {1 - v, v, 0};
  }
  const Vec3d cp = p - c;
  const double d5 = math::Dot(ab, cp), d6 = math::Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return {0, 0, 1};
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) {
    const double w = d2 / (d2 - d6);
    return {1 - w, 0, w};
  }
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    return {0, 1 - w, w};
  }
  const double denominator = va + vb + vc;
  if (!(std::abs(denominator) > 0)) {
    // A degenerate triangle that no region above claimed: the nearest of its
    // three edges.
    Vec3d best{1, 0, 0};
    double bestDistance = std::numeric_limits<double>::infinity();
    const Vec3d corners[3] = {a, b, c};
    for (int e = 0; e < 3; ++e) {
      const Vec3d& s = corners[e];
      const Vec3d d = corners[(e + 1) % 3] - s;
      const double length2 = d.LengthSquared();
      const double t = length2 > 0 ? std::clamp(math::Dot(p - s, d) / length2, 0.0, 1.0) : 0.0;
      const double distance = (p - (s + d * t)).LengthSquared();
      if (distance < bestDistance) {
        bestDistance = distance;
        best = Vec3d(0, 0, 0);
        best[e] = 1 - t;
        best[(e + 1) % 3] = t;
      }
    }
    return best;
  }
  const double v = vb / denominator, w = vc / denominator;
  return {1 - v - w, v, w};
}

struct TriangleSearch::Impl {
  RTCDevice device = nullptr;
  RTCScene scene = nullptr;
  std::vector<Vec3f> positions;
  std::vector<Vec3f> normals;
  std::vector<std::uint32_t> triangles;  // the kept ones, 3 indices each

  ~Impl() {
    if (scene) rtcReleaseScene(scene);
    if (device) rtcReleaseDevice(device);
  }
};

namespace {

struct QueryState {
  const TriangleSearch* search = nullptr;
  const std::vector<Vec3f>* positions = nullptr;
  const std::vector<std::uint32_t>* triangles = nullptr;
  Vec3d q;
  bool found = false;
  std::uint32_t triangle = 0;
  Vec3d weights;
  double distance2 = 0;
};

// Embree's callback for each triangle whose bounds meet the query sphere:
// true when it shrank the radius.
bool VisitTriangle(RTCPointQueryFunctionArguments* args) {
  auto& state = *static_cast<QueryState*>(args->userPtr);
  const std::uint32_t t = args->primID;
  const auto& positions = *state.positions;
  const auto& triangles = *state.triangles;
  const Vec3d a(positions[triangles[3 * t]]), b(positions[triangles[3 * t + 1]]),
      c(positions[triangles[3 * t + 2]]);
  const Vec3d w = ClosestPointOnTriangle(state.q, a, b, c);
  const Vec3d point = a * w[0] + b * w[1] + c * w[2];
  const double d2 = (state.q - point).LengthSquared();
  const double radius = args->query->radius;
  if (!(d2 < radius * radius)) return false;
  state.found = true;
  state.triangle = t;
  state.weights = w;
  state.distance2 = d2;
  args->query->radius = static_cast<float>(std::sqrt(d2));
  return true;
}

bool IsFinite(const Vec3f& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

}  // namespace

TriangleSearch::TriangleSearch(std::span<const Vec3f> positions, std::span<const Vec3f> normals,
                               std::span<const std::uint32_t> triangles)
    : m_impl(std::make_unique<Impl>()) {
  Impl& impl = *m_impl;
  impl.positions.assign(positions.begin(), positions.end());
  if (normals.size() == positions.size()) impl.normals.assign(normals.begin(), normals.end());
  const std::size_t n = positions.size();
  for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
    bool ok = true;
    for (int k = 0; k < 3; ++k)
      ok = ok && triangles[t + k] < n && IsFinite(positions[triangles[t + k]]);
    if (ok)
      impl.triangles.insert(impl.triangles.end(), triangles.begin() + t, triangles.begin() + t + 3);
  }
  impl.device = rtcNewDevice("verbose=0");
  if (!impl.device)
    throw std::runtime_error("TriangleSearch::TriangleSearch - Cannot create the search device.");
  impl.scene = rtcNewScene(impl.device);
  const std::size_t count = impl.triangles.size() / 3;
  if (count > 0) {
    RTCGeometry geometry = rtcNewGeometry(impl.device, RTC_GEOMETRY_TYPE_TRIANGLE);
    // Shared buffers: Embree reads the vertex array with 16-byte loads, so
    // the copy it gets is padded by one float.
    auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), n + 1));
    auto* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), count));
    if (!vertices || !indices) {
      rtcReleaseGeometry(geometry);
      throw std::runtime_error("TriangleSearch::TriangleSearch - Cannot allocate " +
                               std::to_string(count) + " triangles.");
    }
    for (std::size_t i = 0; i < n; ++i) {
      // Vertices no kept triangle uses may be non-finite: Embree bounds only
      // the triangles, but is given finite values throughout.
      const Vec3f p = IsFinite(impl.positions[i]) ? impl.positions[i] : Vec3f(0, 0, 0);
      for (int k = 0; k < 3; ++k) vertices[3 * i + k] = p[k];
    }
    for (int k = 0; k < 3; ++k) vertices[3 * n + k] = 0.f;
    std::copy(impl.triangles.begin(), impl.triangles.end(), indices);
    rtcCommitGeometry(geometry);
    rtcAttachGeometry(impl.scene, geometry);
    rtcReleaseGeometry(geometry);
  }
  rtcCommitScene(impl.scene);
  if (rtcGetDeviceError(impl.device) != RTC_ERROR_NONE)
    throw std::runtime_error(
        "TriangleSearch::TriangleSearch - Building the search structure failed.");
}

TriangleSearch::~TriangleSearch() = default;

std::size_t TriangleSearch::GetNumTriangles() const { return m_impl->triangles.size() / 3; }

bool TriangleSearch::FindClosest(const Vec3f& q, float radius, Hit& hit) const {
  if (!IsFinite(q) || !(radius > 0) || m_impl->triangles.empty()) return false;
  QueryState state;
  state.search = this;
  state.positions = &m_impl->positions;
  state.triangles = &m_impl->triangles;
  state.q = Vec3d(q);
  RTCPointQuery query;
  query.x = q[0];
  query.y = q[1];
  query.z = q[2];
  query.time = 0.f;
  query.radius = radius;
  RTCPointQueryContext context;
  rtcInitPointQueryContext(&context);
  rtcPointQuery(m_impl->scene, &query, &context, VisitTriangle, &state);
  if (!state.found) return false;
  const std::uint32_t* corners = &m_impl->triangles[3 * state.triangle];
  const auto& positions = m_impl->positions;
  Vec3d point(0, 0, 0), normal(0, 0, 0);
  for (int k = 0; k < 3; ++k) point += Vec3d(positions[corners[k]]) * state.weights[k];
  if (!m_impl->normals.empty()) {
    for (int k = 0; k < 3; ++k) normal += Vec3d(m_impl->normals[corners[k]]) * state.weights[k];
  } else {
    const Vec3d a(positions[corners[0]]);
    normal = (Vec3d(positions[corners[1]]) - a) ^ (Vec3d(positions[corners[2]]) - a);
  }
  const double length = normal.Length();
  hit.point = Vec3f(point);
  hit.normal = length > 0 ? Vec3f(normal / length) : Vec3f(0, 0, 0);
  hit.distance = static_cast<float>(std::sqrt(state.distance2));
  hit.triangle = state.triangle;
  return true;
}

}  // namespace surf
