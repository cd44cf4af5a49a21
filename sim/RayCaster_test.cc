#include "sim/RayCaster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "sim/GroundTruth.h"
#include "sim/Procedural.h"
#include "v3d/Mesh.h"

namespace sim {
namespace {

constexpr double kPi = std::numbers::pi;

double AngleBetween(const math::Vec3d& a, const math::Vec3d& b) {
  return std::atan2((a ^ b).Length(), math::Dot(a, b));
}

std::vector<Ray> PixelRays(const Pinhole& camera) {
  std::vector<Ray> rays;
  for (std::uint32_t y = 0; y < camera.GetHeight(); ++y) {
    for (std::uint32_t x = 0; x < camera.GetWidth(); ++x) {
      Ray ray;
      camera.GetPixelRay(x, y, ray);
      rays.push_back(ray);
    }
  }
  return rays;
}

TEST(RayCaster, SphereHitsLieBetweenTheSphereAndItsTessellationBound) {
  const double R = 50;
  const math::Vec3d centre(10, 20, 30);
  Scene scene;
  const ProceduralMesh sphere = MakeSphere({R}, 4.0);
  const double delta = sphere.tessellationError;
  scene.AddProcedural(ObjectKind::kSphere, sphere, math::FTrans(centre), {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  const Pinhole camera(80, 60, 200, 200, 39.5, 29.5,
                       LookAt(centre + math::Vec3d(0, -300, 50), centre, {0, 0, 1}));
  const std::vector<Ray> rays = PixelRays(camera);
  std::vector<Hit> hits(rays.size());
  caster.Intersect(rays, hits);
  int checked = 0;
  for (std::size_t i = 0; i < rays.size(); ++i) {
    const math::Vec3d d = rays[i].direction.GetNormalized();
    const double t0 = math::Dot(centre - rays[i].origin, d);
    const double b2 = (rays[i].origin + d * t0 - centre).LengthSquared();  // squared miss distance
    const Hit& hit = hits[i];
    if (b2 > R * R) {
      EXPECT_FALSE(hit.IsHit()) << i;  // the mesh lies inside the sphere
      continue;
    }
    if (b2 < (R - delta) * (R - delta)) {
      ASSERT_TRUE(hit.IsHit()) << i;
    }
    if (!hit.IsHit()) continue;
    // The mesh lies between the sphere and the sphere of radius R − δ.
    const double tSphere = t0 - std::sqrt(R * R - b2);
    const double inner = (R - delta) * (R - delta) - b2;
    const double tInner = inner > 0 ? t0 - std::sqrt(inner) : t0;
    EXPECT_GE(hit.distance, tSphere - 1e-6) << i;
    EXPECT_LE(hit.distance, tInner + 1e-6) << i;
    EXPECT_NEAR((hit.point - rays[i].origin).Length(), hit.distance, 1e-9);
    EXPECT_EQ(hit.objectId, 0);
    // The face normal of a (nearly right-angled) inscribed triangle is
    // within its circumcircle's angular radius, acos(1 − δ/R), of the radial
    // direction at any of its points.
    EXPECT_NEAR(hit.normal.Length(), 1.f, 1e-6f);
    EXPECT_LE(AngleBetween(math::Vec3d(hit.normal), hit.point - centre),
              1.5 * std::acos(1 - delta / R))
        << i;
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

// Sphere tracing with the exact distance function of a torus about z.
double TraceTorus(const math::Vec3d& o, const math::Vec3d& d, double R, double r) {
  auto sdf = [R, r](const math::Vec3d& p) {
    return std::hypot(std::hypot(p[0], p[1]) - R, p[2]) - r;
  };
  double t = 0;
  for (int i = 0; i < 100000 && t < 1e4; ++i) {
    const double s = sdf(o + d * t);
    if (s < 1e-10) return t;
    t += s;
  }
  return std::numeric_limits<double>::infinity();
}

TEST(RayCaster, TorusHitsMatchTheAnalyticSurfaceWithinTheBound) {
  const double R = 40, r = 12;
  const ProceduralMesh torus = MakeTorus({R, r}, 2.0);
  const double delta = torus.tessellationError;
  const math::Frame4d pose = math::FTrans(5.0, -3.0, 10.0) * math::FRotX(kPi / 6);
  Scene scene;
  scene.AddProcedural(ObjectKind::kTorus, torus, pose, {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  const Pinhole camera(64, 48, 120, 120, 31.5, 23.5,
                       LookAt({0, -250, 80}, pose.GetTrans(), {0, 0, 1}));
  const std::vector<Ray> rays = PixelRays(camera);
  std::vector<Hit> hits(rays.size());
  caster.Intersect(rays, hits);
  const math::Frame4d inv = pose.GetInverse();
  int checked = 0;
  for (std::size_t i = 0; i < rays.size(); ++i) {
    const math::Vec3d o = inv.MultP(rays[i].origin);
    const math::Vec3d d = inv.MultV(rays[i].direction.GetNormalized());
    const double t = TraceTorus(o, d, R, r);
    if (!std::isfinite(t) || !hits[i].IsHit()) continue;
    const math::Vec3d p = o + d * t;
    const double q = std::hypot(p[0], p[1]);
    const math::Vec3d normal =
        math::Vec3d(p[0] * (q - R) / q, p[1] * (q - R) / q, p[2]).GetNormalized();
    const double cosine = -math::Dot(d, normal);
    if (cosine < 0.3) continue;  // near the silhouette the two may meet different sheets
    // A surface displaced by at most δ moves the hit by at most δ / cos.
    EXPECT_NEAR(hits[i].distance, t, delta / cosine * 1.05 + 1e-6) << i;
    EXPECT_LE(AngleBetween(inv.MultV(math::Vec3d(hits[i].normal)), normal),
              2 * std::acos(1 - delta / r))
        << i;
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST(RayCaster, TurntableTurnsObjectsButNotPanels) {
  Scene scene;
  const int ball = scene.AddProcedural(ObjectKind::kSphere, MakeSphere({20}, 2.0),
                                       math::FTrans(100.0, 0.0, 0.0), {0.5f, 0.5f, 0.5f});
  const int wall = scene.AddPanel({400, 400}, math::FTrans(0.0, 0.0, -100.0), {0.3f, 0.3f, 0.3f});
  scene.SetTurntable({{20, 0, 0}, {0, 0, 2}, 0});
  const Ray down{{20, 80, 100}, {0, 0, -1}};
  const Ray beside{{-150, -150, 100}, {0, 0, -1}};
  const RayCaster before(scene);
  EXPECT_EQ(before.Intersect(down).objectId, wall);
  const Hit wallBefore = before.Intersect(beside);

  scene.SetTurntableAngle(kPi / 2);
  const RayCaster after(scene);
  // (100, 0, 0) turns by 90° about the vertical through (20, 0, 0) to (20, 80, 0);
  // the ray meets the sphere's north pole vertex.
  const Hit top = after.Intersect(down);
  EXPECT_EQ(top.objectId, ball);
  EXPECT_NEAR(top.distance, 80, 1e-4);
  EXPECT_NEAR(top.normal[2], 1, 0.01);
  const Hit wallAfter = after.Intersect(beside);
  EXPECT_EQ(wallAfter.objectId, wall);
  EXPECT_EQ(wallAfter.distance, wallBefore.distance);

  // Every hit at 90° is the turned hit at 0° of the ray turned back.
  const math::Frame4d motion = scene.GetTurntable().GetMotion();
  const math::Frame4d back = motion.GetInverse();
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> jitter(-25, 25);
  int compared = 0;
  for (int i = 0; i < 500; ++i) {
    const Ray ray{{20 + jitter(rng), 80 + jitter(rng), 100},
                  {jitter(rng) / 100, jitter(rng) / 100, -1}};
    const Hit now = after.Intersect(ray);
    if (now.objectId != ball) continue;
    const Hit then = before.Intersect({back.MultP(ray.origin), back.MultV(ray.direction)});
    ASSERT_EQ(then.objectId, ball);
    EXPECT_EQ(then.triangle, now.triangle);
    EXPECT_NEAR(then.distance, now.distance, 1e-4);
    EXPECT_NEAR((motion.MultP(then.point) - now.point).Length(), 0, 1e-4);
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

TEST(RayCaster, PanelOccludesSegmentsThatCrossIt) {
  Scene scene;
  scene.AddPanel({100, 100}, math::FTrans(0.0, 0.0, 50.0), {0.5f, 0.5f, 0.5f});
  const int ball = scene.AddProcedural(ObjectKind::kSphere, MakeSphere({20}, 1.0),
                                       math::FTrans(300.0, 0.0, 0.0), {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  EXPECT_TRUE(caster.Occluded({{0, 0, 0}, {0, 0, 100}}));
  EXPECT_TRUE(caster.Occluded({{0, 0, 100}, {0, 0, 0}}));  // from behind
  EXPECT_TRUE(caster.Occluded({{-40, 30, 0}, {40, -30, 100}}));
  EXPECT_FALSE(caster.Occluded({{60, 0, 0}, {60, 0, 100}}));  // beside the panel
  EXPECT_FALSE(caster.Occluded({{0, 0, 0}, {0, 0, 50}}));     // ends on the panel
  EXPECT_FALSE(caster.Occluded({{0, 0, 50}, {0, 0, 200}}));   // starts on the panel
  EXPECT_FALSE(caster.Occluded({{0, 0, 0}, {0, 0, 49}}));     // stops short

  // A point on the sphere sees a light in front of it, not one behind.
  const Hit front = caster.Intersect({{300, -100, 0}, {0, 1, 0}});
  ASSERT_EQ(front.objectId, ball);
  EXPECT_FALSE(caster.Occluded({front.point, {300, -100, 30}}));
  EXPECT_TRUE(caster.Occluded({front.point, {300, 100, 0}}));

  const std::vector<Segment> segments = {{{0, 0, 0}, {0, 0, 100}},
                                         {{60, 0, 0}, {60, 0, 100}},
                                         {front.point, {300, 100, 0}},
                                         {{1, 1, 1}, {1, 1, 1}}};
  std::vector<std::uint8_t> blocked(segments.size(), 7);
  caster.Occluded(segments, blocked);
  EXPECT_EQ(blocked, (std::vector<std::uint8_t>{1, 0, 1, 0}));

  // Batches of many packets, the last one partial, agree with single segments.
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> u(-120, 350);
  std::vector<Segment> many(1001);
  for (Segment& s : many) s = {{u(rng), u(rng) / 4, u(rng) / 4}, {u(rng), u(rng) / 4, u(rng)}};
  std::vector<std::uint8_t> manyBlocked(many.size());
  caster.Occluded(many, manyBlocked);
  int count = 0;
  for (std::size_t i = 0; i < many.size(); ++i) {
    EXPECT_EQ(manyBlocked[i], caster.Occluded(many[i]) ? 1 : 0) << i;
    count += manyBlocked[i];
  }
  EXPECT_GT(count, 100);
  EXPECT_LT(count, 900);
}

TEST(RayCaster, AlbedoIsInterpolatedOrLookedUp) {
  TriMesh triangle;
  triangle.positions = {{0.f, 0.f, 0.f}, {10.f, 0.f, 0.f}, {0.f, 10.f, 0.f}};
  triangle.triangles = {{0u, 1u, 2u}};
  triangle.albedo = {{1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}, {0.f, 0.f, 1.f}};
  Scene scene;
  scene.AddMesh(triangle, math::Frame4d(), {0.9f, 0.9f, 0.9f});
  triangle.albedo.clear();
  const int plain = scene.AddMesh(triangle, math::FTrans(0.0, 0.0, -5.0), {0.25f, 0.5f, 0.75f});

  ProceduralMesh panel = MakePanel({200, 100});
  panel.mesh.texture = AlbedoTexture::MakeChecker(4, 2, {1.f, 0.8f, 0.6f}, {0.1f, 0.1f, 0.1f});
  const int textured = scene.AddProcedural(ObjectKind::kPanel, panel, math::FTrans(0.0, 0.0, -50.0),
                                           {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);

  // At (2, 3): barycentric weights 0.5, 0.2, 0.3.
  const Hit hit = caster.Intersect({{2, 3, 10}, {0, 0, -1}});
  EXPECT_EQ(hit.objectId, 0);
  EXPECT_NEAR(hit.albedo[0], 0.5f, 1e-6f);
  EXPECT_NEAR(hit.albedo[1], 0.2f, 1e-6f);
  EXPECT_NEAR(hit.albedo[2], 0.3f, 1e-6f);
  EXPECT_NEAR(hit.distance, 10, 1e-12);
  EXPECT_EQ(hit.normal, math::Vec3f(0.f, 0.f, 1.f));

  // Hit from below: the normal still follows the winding.
  const Hit under = caster.Intersect({{2, 3, -2}, {0, 0, -1}});
  EXPECT_EQ(under.objectId, plain);
  EXPECT_EQ(under.albedo, Albedo(0.25f, 0.5f, 0.75f));
  EXPECT_EQ(under.normal, math::Vec3f(0.f, 0.f, 1.f));

  // Panel point (−75, 25) is the centre of checker cell (0, 0); (−25, 25) of cell (1, 0).
  const Hit cell00 = caster.Intersect({{-75, 25, 100}, {0, 0, -1}});
  EXPECT_EQ(cell00.objectId, textured);
  EXPECT_NEAR(cell00.albedo[0], 0.5f * 1.f, 1e-6f);
  EXPECT_NEAR(cell00.albedo[1], 0.5f * 204 / 255.f, 1e-6f);
  EXPECT_NEAR(cell00.albedo[2], 0.5f * 153 / 255.f, 1e-6f);
  const Hit cell10 = caster.Intersect({{-25, 25, 100}, {0, 0, -1}});
  EXPECT_NEAR(cell10.albedo[0], 0.5f * 26 / 255.f, 1e-6f);
}

TEST(RayCaster, BatchesAgreeWithSingleRaysAndMissesAreMarked) {
  Scene scene;
  scene.AddProcedural(ObjectKind::kBlob, MakeBlob({40, 12, 0.15, 5}, 2.0), math::Frame4d(),
                      {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  EXPECT_EQ(caster.GetNumTriangles(), scene.GetNumTriangles());
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> u(-60, 60);
  std::vector<Ray> rays(3000);
  for (Ray& ray : rays) ray = {{u(rng), u(rng), 200}, {u(rng) / 400, u(rng) / 400, -1}};
  rays[7].direction = {0, 0, 0};                 // invalid
  rays[8] = {{0, 0, 200}, {0, 0, 1}};            // away from everything
  rays[9] = {{0, 0, std::nan("")}, {0, 0, -1}};  // invalid
  std::vector<Hit> hits(rays.size());
  caster.Intersect(rays, hits);
  int hitCount = 0;
  for (std::size_t i = 0; i < rays.size(); ++i) {
    const Hit single = caster.Intersect(rays[i]);
    EXPECT_EQ(single.objectId, hits[i].objectId);
    EXPECT_EQ(single.triangle, hits[i].triangle);
    EXPECT_EQ(single.distance, hits[i].distance);
    hitCount += hits[i].IsHit();
  }
  EXPECT_GT(hitCount, 700);
  for (int i : {7, 8, 9}) {
    EXPECT_FALSE(hits[i].IsHit());
    EXPECT_TRUE(std::isinf(hits[i].distance));
  }
  std::vector<Hit> tooFew(2);
  EXPECT_THROW(caster.Intersect(rays, tooFew), std::invalid_argument);
}

TEST(RayCaster, EmptySceneMissesEverything) {
  const RayCaster caster{Scene()};
  EXPECT_FALSE(caster.Intersect({{0, 0, 0}, {1, 0, 0}}).IsHit());
  EXPECT_FALSE(caster.Occluded({{0, 0, 0}, {100, 0, 0}}));
}

TEST(Scene, ViewerMeshesAndInvalidObjects) {
  v3d::Mesh quad(0, 4);
  for (const auto& p : {math::Vec3f(0.f, 0.f, 0.f), math::Vec3f(10.f, 0.f, 0.f),
                        math::Vec3f(10.f, 10.f, 0.f), math::Vec3f(0.f, 10.f, 0.f)}) {
    quad.AddVertex(p);
  }
  quad.AddPrim(0, 1, 2, 3);
  quad.AddVertexColors();
  quad.SetVertexColor({255, 0, 0}, 0);
  Scene scene;
  const int id = scene.AddMesh(quad, math::FTrans(0.0, 0.0, 5.0), {0.5f, 0.5f, 0.5f});
  EXPECT_EQ(scene.GetObject(id).mesh.GetNumTriangles(), 2u);
  EXPECT_EQ(scene.GetObject(id).mesh.albedo[0], Albedo(1.f, 0.f, 0.f));
  const RayCaster caster(scene);
  EXPECT_NEAR(caster.Intersect({{9, 1, 10}, {0, 0, -1}}).distance, 5, 1e-12);
  EXPECT_NEAR(caster.Intersect({{1, 9, 10}, {0, 0, -1}}).distance, 5, 1e-12);

  TriMesh broken;
  broken.positions = {{0.f, 0.f, 0.f}};
  broken.triangles = {{0u, 0u, 1u}};
  EXPECT_THROW(scene.AddMesh(broken, math::Frame4d(), {0.5f, 0.5f, 0.5f}), std::invalid_argument);
  EXPECT_THROW(scene.AddMesh(TriMesh(), math::Frame4d(), {1.5f, 0.5f, 0.5f}),
               std::invalid_argument);
  math::Frame4d sheared;
  sheared(0, 1) = 0.5;
  EXPECT_THROW(scene.AddMesh(TriMesh(), sheared, {0.5f, 0.5f, 0.5f}), std::invalid_argument);
  EXPECT_THROW(scene.GetObject(5), std::invalid_argument);
  EXPECT_THROW(scene.SetTurntable({{0, 0, 0}, {0, 0, 0}, 0}), std::invalid_argument);
}

TEST(GroundTruth, PlaneFacingTheCameraHasConstantDepth) {
  Scene scene;
  // The panel's normal turned from +z to −y: the plane y = 0 facing the camera.
  scene.AddPanel({1000, 1000}, math::FRotX(kPi / 2), {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  const Pinhole camera(40, 30, 50, 55, 19.5, 14.5, LookAt({0, -300, 0}, {0, 0, 0}, {0, 0, 1}));
  const GroundTruth truth = ComputeGroundTruth(caster, camera);
  for (std::uint32_t y = 0; y < 30; ++y) {
    for (std::uint32_t x = 0; x < 40; ++x) {
      EXPECT_NEAR(truth.depth(x, y), 300.f, 1e-4f);
      EXPECT_EQ(truth.objectId(x, y), 0);
      EXPECT_NEAR(truth.point(x, y)[1], 0, 1e-9);
      math::Vec2d pixel;
      ASSERT_TRUE(camera.Project(truth.point(x, y), pixel));
      EXPECT_NEAR(pixel[0], x, 1e-9);
      EXPECT_NEAR(pixel[1], y, 1e-9);
    }
  }
  // Image right is world +x, image down is world −z.
  EXPECT_GT(truth.point(39, 0)[0], truth.point(0, 0)[0]);
  EXPECT_LT(truth.point(0, 29)[2], truth.point(0, 0)[2]);
}

TEST(GroundTruth, SphereDepthAndBackground) {
  Scene scene;
  scene.AddProcedural(ObjectKind::kSphere, MakeSphere({30}, 1.0), math::Frame4d(),
                      {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  const Pinhole camera(41, 41, 100, 100, 20, 20, LookAt({0, 0, 200}, {0, 0, 0}, {0, 1, 0}));
  const GroundTruth truth = ComputeGroundTruth(caster, camera);
  // The centre pixel looks at the north pole vertex.
  EXPECT_NEAR(truth.depth(20, 20), 170.f, 1e-4f);
  EXPECT_EQ(truth.objectId(0, 0), -1);
  EXPECT_EQ(truth.depth(0, 0), 0.f);
}

}  // namespace
}  // namespace sim
