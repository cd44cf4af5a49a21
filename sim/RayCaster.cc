#include "sim/RayCaster.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/ParallelFor.h"

namespace sim {
namespace {

// One scene object as the caster needs it after construction.
struct ObjectData {
  std::vector<math::Vec3f> positions;  // world
  std::vector<TriMesh::Triangle> triangles;
  std::vector<Albedo> albedo;
  std::vector<math::Vec2f> texCoords;
  std::shared_ptr<const AlbedoTexture> texture;
  Albedo uniformAlbedo;
  std::shared_ptr<const SurfacePrint> print;
  math::Frame4d print_T_world;
};

math::Vec3d ToVec3d(const math::Vec3f& v) { return math::Vec3d(v); }

bool IsFinite(const math::Vec3d& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

Albedo Multiply(const Albedo& a, const Albedo& b) {
  return {a[0] * b[0], a[1] * b[1], a[2] * b[2]};
}

// What Embree reports for one ray.
struct EmbreeHit {
  unsigned geomID;
  unsigned primID;
  float t, u, v;
  math::Vec3f normal;
};

// Rays per packet: 16 matches the widest vector units Embree supports and
// works (emulated) on narrower ones.
constexpr int kPacket = 16;

// Rays per work item of the parallel loops: large enough to amortise the
// scheduling, small enough to balance the threads on a small batch.
constexpr std::ptrdiff_t kBlock = 1024;

}  // namespace

struct RayCaster::Impl {
  RTCDevice device = nullptr;
  RTCScene scene = nullptr;
  std::vector<ObjectData> objects;
  RayCasterOptions options;
  std::size_t triangleCount = 0;
  std::string deviceError;  // written by the error callback during construction

  ~Impl() {
    if (scene) rtcReleaseScene(scene);
    if (device) rtcReleaseDevice(device);
  }

  void Fail(const std::string& text) const {
    throw std::runtime_error("sim::RayCaster::RayCaster - " + text +
                             (deviceError.empty() ? "" : ": " + deviceError));
  }

  // The normalised direction; false for a ray that cannot be cast.
  static bool Normalize(const Ray& ray, math::Vec3d& direction);
  // The hit from Embree's triangle, refined in double precision.
  void Finish(const Ray& ray, const math::Vec3d& direction, const EmbreeHit& found, Hit& hit) const;
  void IntersectOne(const Ray& ray, RTCIntersectContext& context, Hit& hit) const;
  // Up to kPacket rays as one packet.
  void IntersectPacket(const Ray* rays, Hit* hits, int count, RTCIntersectContext& context) const;
  // The ray of a segment without its ends; false for a segment too short
  // or not finite.
  static bool SegmentRay(const Segment& segment, double eps, math::Vec3d& origin,
                         math::Vec3d& direction, double& tfar);
  bool OccludedOne(const Segment& segment, RTCIntersectContext& context) const;
  void OccludedPacket(const Segment* segments, std::uint8_t* blocked, int count,
                      RTCIntersectContext& context) const;
};

RayCaster::RayCaster(const Scene& scene, const RayCasterOptions& options)
    : m_impl(std::make_unique<Impl>()) {
  Impl& impl = *m_impl;
  impl.options = options;
  impl.device = rtcNewDevice("verbose=0");
  if (!impl.device) impl.Fail("Cannot create the ray-tracing device");
  rtcSetDeviceErrorFunction(
      impl.device,
      [](void* user, RTCError, const char* text) {
        static_cast<Impl*>(user)->deviceError = text ? text : "unknown error";
      },
      &impl);
  impl.scene = rtcNewScene(impl.device);
  if (!impl.scene) impl.Fail("Cannot create the scene");
  rtcSetSceneFlags(impl.scene, RTC_SCENE_FLAG_ROBUST);
  rtcSetSceneBuildQuality(impl.scene, RTC_BUILD_QUALITY_HIGH);

  impl.objects.resize(scene.GetNumObjects());
  for (std::size_t id = 0; id < scene.GetNumObjects(); ++id) {
    const SceneObject& object = scene.GetObject(static_cast<int>(id));
    ObjectData& data = impl.objects[id];
    data.positions = object.mesh.Transformed(scene.GetObjectPose(static_cast<int>(id))).positions;
    data.triangles = object.mesh.triangles;
    data.albedo = object.mesh.albedo;
    data.texCoords = object.mesh.texCoords;
    data.texture = object.mesh.texture;
    data.uniformAlbedo = object.albedo;
    if (object.print) {
      data.print = object.print;
      data.print_T_world = object.print_T_object * scene.GetObjectPose(static_cast<int>(id)).GetInverse();
    }
    impl.triangleCount += data.triangles.size();
    if (data.triangles.empty()) continue;

    RTCGeometry geometry = rtcNewGeometry(impl.device, RTC_GEOMETRY_TYPE_TRIANGLE);
    if (!geometry) impl.Fail("Cannot create a triangle geometry");
    auto* vertices = static_cast<float*>(
        rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                3 * sizeof(float), data.positions.size()));
    auto* indices = static_cast<unsigned*>(
        rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                3 * sizeof(unsigned), data.triangles.size()));
    if (!vertices || !indices) {
      rtcReleaseGeometry(geometry);
      impl.Fail("Cannot allocate geometry buffers");
    }
    std::copy_n(&data.positions[0][0], 3 * data.positions.size(), vertices);
    std::copy_n(&data.triangles[0][0], 3 * data.triangles.size(), indices);
    rtcCommitGeometry(geometry);
    rtcAttachGeometryByID(impl.scene, geometry, static_cast<unsigned>(id));
    rtcReleaseGeometry(geometry);
  }
  rtcCommitScene(impl.scene);
  if (rtcGetDeviceError(impl.device) != RTC_ERROR_NONE) impl.Fail("Building the scene failed");
}

RayCaster::~RayCaster() = default;

std::size_t RayCaster::GetNumTriangles() const { return m_impl->triangleCount; }

RayCaster::PrintedFace RayCaster::GetPrintedFace(std::int32_t objectId) const {
  if (objectId < 0 || static_cast<std::size_t>(objectId) >= m_impl->objects.size()) return {};
  const ObjectData& object = m_impl->objects[static_cast<std::size_t>(objectId)];
  if (!object.print) return {};
  return {object.print.get(), object.print_T_world};
}

bool RayCaster::Impl::Normalize(const Ray& ray, math::Vec3d& direction) {
  const double length = ray.direction.Length();
  if (!(length > 0) || !std::isfinite(length) || !IsFinite(ray.origin)) return false;
  direction = ray.direction / length;
  return true;
}

void RayCaster::Impl::Finish(const Ray& ray, const math::Vec3d& d, const EmbreeHit& found,
                             Hit& out) const {
  if (found.geomID == RTC_INVALID_GEOMETRY_ID) {
    out = Hit();
    return;
  }
  Hit hit;
  const ObjectData& object = objects[found.geomID];
  const TriMesh::Triangle& tri = object.triangles[found.primID];
  const math::Vec3d v0 = ToVec3d(object.positions[tri[0]]);
  const math::Vec3d e1 = ToVec3d(object.positions[tri[1]]) - v0;
  const math::Vec3d e2 = ToVec3d(object.positions[tri[2]]) - v0;
  const math::Vec3d n = e1 ^ e2;
  const double nn = n.LengthSquared();
  const double denominator = math::Dot(d, n);

  double t = found.t, b1 = found.u, b2 = found.v;
  if (nn > 0 && denominator != 0) {
    const double refined = math::Dot(v0 - ray.origin, n) / denominator;
    if (std::isfinite(refined) && refined >= 0) {
      t = refined;
      const math::Vec3d q = ray.origin + d * t - v0;
      b1 = math::Dot(n, q ^ e2) / nn;
      b2 = math::Dot(n, e1 ^ q) / nn;
    }
  }
  b1 = std::max(b1, 0.0);
  b2 = std::max(b2, 0.0);
  if (b1 + b2 > 1) {
    const double sum = b1 + b2;
    b1 /= sum;
    b2 /= sum;
  }
  const double b0 = 1 - b1 - b2;

  hit.distance = t;
  hit.point = ray.origin + d * t;
  hit.normal = nn > 0 ? math::Vec3f(n / std::sqrt(nn)) : found.normal.GetNormalized();
  hit.objectId = static_cast<std::int32_t>(found.geomID);
  hit.triangle = found.primID;
  const auto f0 = static_cast<float>(b0), f1 = static_cast<float>(b1), f2 = static_cast<float>(b2);
  Albedo albedo = object.uniformAlbedo;
  if (!object.albedo.empty()) {
    albedo = object.albedo[tri[0]] * f0 + object.albedo[tri[1]] * f1 + object.albedo[tri[2]] * f2;
  }
  if (object.texture && !object.texCoords.empty()) {
    const math::Vec2f st = object.texCoords[tri[0]] * f0 + object.texCoords[tri[1]] * f1 +
                           object.texCoords[tri[2]] * f2;
    albedo = Multiply(albedo, object.texture->Lookup(st[0], st[1]));
  }
  if (object.print) {
    // A point sample; cameras integrate the print over their footprints.
    const math::Vec3d q = object.print_T_world.MultP(hit.point);
    albedo = object.print->Reflectance({q[0], q[1]}, {0.0, 0.0}, {0.0, 0.0});
  }
  hit.albedo = albedo;
  out = hit;
}

void RayCaster::Impl::IntersectOne(const Ray& ray, RTCIntersectContext& context, Hit& hit) const {
  math::Vec3d d;
  if (!Normalize(ray, d)) {
    hit = Hit();
    return;
  }
  RTCRayHit rh;
  rh.ray.org_x = static_cast<float>(ray.origin[0]);
  rh.ray.org_y = static_cast<float>(ray.origin[1]);
  rh.ray.org_z = static_cast<float>(ray.origin[2]);
  rh.ray.dir_x = static_cast<float>(d[0]);
  rh.ray.dir_y = static_cast<float>(d[1]);
  rh.ray.dir_z = static_cast<float>(d[2]);
  rh.ray.tnear = 0.f;
  rh.ray.tfar = std::numeric_limits<float>::infinity();
  rh.ray.time = 0.f;
  rh.ray.mask = 0xFFFFFFFFu;
  rh.ray.id = 0;
  rh.ray.flags = 0;
  rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
  rh.hit.primID = RTC_INVALID_GEOMETRY_ID;
  rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
  rtcIntersect1(scene, &context, &rh);
  const EmbreeHit found{rh.hit.geomID, rh.hit.primID,
                        rh.ray.tfar,   rh.hit.u,
                        rh.hit.v,      math::Vec3f(rh.hit.Ng_x, rh.hit.Ng_y, rh.hit.Ng_z)};
  Finish(ray, d, found, hit);
}

void RayCaster::Impl::IntersectPacket(const Ray* rays, Hit* hits, int count,
                                      RTCIntersectContext& context) const {
  alignas(64) int valid[kPacket];
  alignas(64) RTCRayHit16 rh;
  math::Vec3d d[kPacket];
  for (int k = 0; k < kPacket; ++k) {
    valid[k] = k < count && Normalize(rays[k], d[k]) ? -1 : 0;
    rh.ray.tnear[k] = 0.f;
    rh.ray.tfar[k] = std::numeric_limits<float>::infinity();
    rh.ray.time[k] = 0.f;
    rh.ray.mask[k] = 0xFFFFFFFFu;
    rh.ray.id[k] = static_cast<unsigned>(k);
    rh.ray.flags[k] = 0;
    rh.hit.geomID[k] = RTC_INVALID_GEOMETRY_ID;
    rh.hit.primID[k] = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0][k] = RTC_INVALID_GEOMETRY_ID;
    if (!valid[k]) {
      rh.ray.org_x[k] = rh.ray.org_y[k] = rh.ray.org_z[k] = 0.f;
      rh.ray.dir_x[k] = rh.ray.dir_y[k] = 0.f;
      rh.ray.dir_z[k] = 1.f;
      continue;
    }
    rh.ray.org_x[k] = static_cast<float>(rays[k].origin[0]);
    rh.ray.org_y[k] = static_cast<float>(rays[k].origin[1]);
    rh.ray.org_z[k] = static_cast<float>(rays[k].origin[2]);
    rh.ray.dir_x[k] = static_cast<float>(d[k][0]);
    rh.ray.dir_y[k] = static_cast<float>(d[k][1]);
    rh.ray.dir_z[k] = static_cast<float>(d[k][2]);
  }
  rtcIntersect16(valid, scene, &context, &rh);
  for (int k = 0; k < count; ++k) {
    if (!valid[k]) {
      hits[k] = Hit();
      continue;
    }
    const EmbreeHit found{
        rh.hit.geomID[k], rh.hit.primID[k],
        rh.ray.tfar[k],   rh.hit.u[k],
        rh.hit.v[k],      math::Vec3f(rh.hit.Ng_x[k], rh.hit.Ng_y[k], rh.hit.Ng_z[k])};
    Finish(rays[k], d[k], found, hits[k]);
  }
}

bool RayCaster::Impl::SegmentRay(const Segment& segment, double eps, math::Vec3d& origin,
                                 math::Vec3d& direction, double& tfar) {
  const math::Vec3d delta = segment.to - segment.from;
  const double length = delta.Length();
  if (!std::isfinite(length) || !IsFinite(segment.from) || length <= 2 * eps) return false;
  origin = segment.from;
  direction = delta / length;
  tfar = length - eps;
  return true;
}

bool RayCaster::Impl::OccludedOne(const Segment& segment, RTCIntersectContext& context) const {
  const double eps = options.occlusionEpsilon;
  math::Vec3d o, d;
  double tfar = 0;
  if (!SegmentRay(segment, eps, o, d, tfar)) return false;
  RTCRay ray;
  ray.org_x = static_cast<float>(o[0]);
  ray.org_y = static_cast<float>(o[1]);
  ray.org_z = static_cast<float>(o[2]);
  ray.dir_x = static_cast<float>(d[0]);
  ray.dir_y = static_cast<float>(d[1]);
  ray.dir_z = static_cast<float>(d[2]);
  ray.tnear = static_cast<float>(eps);
  ray.tfar = static_cast<float>(tfar);
  ray.time = 0.f;
  ray.mask = 0xFFFFFFFFu;
  ray.id = 0;
  ray.flags = 0;
  rtcOccluded1(scene, &context, &ray);
  return ray.tfar < 0.f;  // set to −∞ on a hit
}

void RayCaster::Impl::OccludedPacket(const Segment* segments, std::uint8_t* blocked, int count,
                                     RTCIntersectContext& context) const {
  const double eps = options.occlusionEpsilon;
  alignas(64) int valid[kPacket];
  alignas(64) RTCRay16 ray;
  for (int k = 0; k < kPacket; ++k) {
    math::Vec3d o, d(0, 0, 1);
    double tfar = 0;
    valid[k] = k < count && SegmentRay(segments[k], eps, o, d, tfar) ? -1 : 0;
    ray.org_x[k] = static_cast<float>(o[0]);
    ray.org_y[k] = static_cast<float>(o[1]);
    ray.org_z[k] = static_cast<float>(o[2]);
    ray.dir_x[k] = static_cast<float>(d[0]);
    ray.dir_y[k] = static_cast<float>(d[1]);
    ray.dir_z[k] = static_cast<float>(d[2]);
    ray.tnear[k] = static_cast<float>(eps);
    ray.tfar[k] = static_cast<float>(tfar);
    ray.time[k] = 0.f;
    ray.mask[k] = 0xFFFFFFFFu;
    ray.id[k] = static_cast<unsigned>(k);
    ray.flags[k] = 0;
  }
  rtcOccluded16(valid, scene, &context, &ray);
  for (int k = 0; k < count; ++k) blocked[k] = valid[k] && ray.tfar[k] < 0.f ? 1 : 0;
}

void RayCaster::Intersect(std::span<const Ray> rays, std::span<Hit> hits) const {
  if (rays.size() != hits.size()) {
    throw std::invalid_argument("sim::RayCaster::Intersect - Ray and hit counts differ.");
  }
  const auto n = static_cast<std::ptrdiff_t>(rays.size());
  const std::ptrdiff_t blocks = (n + kBlock - 1) / kBlock;
  ParallelFor(blocks, [&](std::ptrdiff_t b) {
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    const std::ptrdiff_t end = std::min(n, (b + 1) * kBlock);
    for (std::ptrdiff_t i = b * kBlock; i < end; i += kPacket) {
      const int count = static_cast<int>(std::min<std::ptrdiff_t>(kPacket, end - i));
      m_impl->IntersectPacket(&rays[i], &hits[i], count, context);
    }
  });
}

Hit RayCaster::Intersect(const Ray& ray) const {
  RTCIntersectContext context;
  rtcInitIntersectContext(&context);
  Hit hit;
  m_impl->IntersectOne(ray, context, hit);
  return hit;
}

void RayCaster::Occluded(std::span<const Segment> segments, std::span<std::uint8_t> blocked) const {
  if (segments.size() != blocked.size()) {
    throw std::invalid_argument("sim::RayCaster::Occluded - Segment and result counts differ.");
  }
  const auto n = static_cast<std::ptrdiff_t>(segments.size());
  const std::ptrdiff_t blocks = (n + kBlock - 1) / kBlock;
  ParallelFor(blocks, [&](std::ptrdiff_t b) {
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    const std::ptrdiff_t end = std::min(n, (b + 1) * kBlock);
    for (std::ptrdiff_t i = b * kBlock; i < end; i += kPacket) {
      const int count = static_cast<int>(std::min<std::ptrdiff_t>(kPacket, end - i));
      m_impl->OccludedPacket(&segments[i], &blocked[i], count, context);
    }
  });
}

bool RayCaster::Occluded(const Segment& segment) const {
  RTCIntersectContext context;
  rtcInitIntersectContext(&context);
  return m_impl->OccludedOne(segment, context);
}

}  // namespace sim
