// Camera navigation checked by projecting known points before and after.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "v3d/Camera.h"
#include "v3d/GeoTools.h"
#include "v3d/Navigation.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

constexpr int kWidth = 800, kHeight = 600;

math::Vec2d Pixel(const Camera& camera, const math::Vec3d& world) {
  math::Vec2d pixel;
  EXPECT_TRUE(MakeViewState(camera, kWidth, kHeight).Project(world, pixel));
  return pixel;
}

double Distance(const Camera& camera, const math::Vec3d& point) {
  return (camera.GetFrame().GetTrans() - point).Length();
}

TEST(Navigation, FitShowsTheWholeBoxAndCentresIt) {
  const math::Vec3d low(-10.0, 5.0, 0.0), high(50.0, 25.0, 80.0);
  const math::Vec3d centre = (low + high) * 0.5;
  const double radius = (high - low).Length() * 0.5;
  for (int v = 0; v <= static_cast<int>(StandardView::kIsometric); ++v) {
    Camera camera;
    SetStandardView(camera, static_cast<StandardView>(v), low, high, kWidth, kHeight);
    const math::Vec2d c = Pixel(camera, centre);
    EXPECT_NEAR(c[0], kWidth / 2.0, 1e-6);
    EXPECT_NEAR(c[1], kHeight / 2.0, 1e-6);
    EXPECT_FLOAT_EQ(camera.GetOrbitCenter()[0], static_cast<float>(centre[0]));
    // The bounding sphere's silhouette (angular radius asin(r / d)) fits the
    // vertical field of view with 2 % to spare.
    const double half = std::asin(radius / Distance(camera, centre));
    EXPECT_NEAR(std::tan(half) / std::tan(camera.GetFov(kWidth, kHeight).vertical / 2), 1.0, 0.05) << v;
    for (int k = 0; k < 8; ++k) {
      const math::Vec3d corner(k & 1 ? high[0] : low[0], k & 2 ? high[1] : low[1], k & 4 ? high[2] : low[2]);
      const math::Vec2d p = Pixel(camera, corner);
      EXPECT_GE(p[0], 0.0);
      EXPECT_LE(p[0], kWidth);
      EXPECT_GE(p[1], 0.0);
      EXPECT_LE(p[1], kHeight);
    }
  }
  // The front view looks along +y with z up on screen (pixel y decreasing).
  Camera front;
  SetStandardView(front, StandardView::kFront, low, high, kWidth, kHeight);
  EXPECT_LT(Pixel(front, centre + math::Vec3d(0.0, 0.0, 10.0))[1], kHeight / 2.0);
  EXPECT_GT(Pixel(front, centre + math::Vec3d(10.0, 0.0, 0.0))[0], kWidth / 2.0);
}

TEST(Navigation, ZoomKeepsThePointUnderTheCursor) {
  const math::Vec3d low(-50.0, -50.0, -50.0), high(50.0, 50.0, 50.0);
  Camera camera;
  SetViewAngles(camera, 0.3, 0.2, low, high, kWidth, kHeight);
  const ViewState before = MakeViewState(camera, kWidth, kHeight);
  const math::Vec2d cursor(600.5, 150.5);
  // The point under the cursor at the orbit centre's depth.
  math::Vec3d origin, direction;
  before.Ray(cursor, origin, direction);
  const double depth = before.camera_T_world.MultP(math::Vec3d(camera.GetOrbitCenter()))[2];
  const math::Vec3d target = origin + direction * (depth / math::Dot(direction, camera.GetFrame().MultV(math::Vec3d(0.0, 0.0, 1.0))));
  const double distance = Distance(camera, target);
  ZoomCamera(camera, 2.0, cursor, before);
  const math::Vec2d after = Pixel(camera, target);
  EXPECT_NEAR(after[0], cursor[0], 1e-6);
  EXPECT_NEAR(after[1], cursor[1], 1e-6);
  EXPECT_NEAR(Distance(camera, target), distance * 0.64, 1e-6 * distance);
}

TEST(Navigation, OrbitTurnsAboutTheOrbitCentre) {
  const math::Vec3d low(0.0, 0.0, 0.0), high(100.0, 100.0, 100.0);
  Camera camera;
  SetStandardView(camera, StandardView::kFront, low, high, kWidth, kHeight);
  const math::Vec3d centre(camera.GetOrbitCenter());
  const double distance = Distance(camera, centre);
  // Half a viewport height of horizontal drag turns by π/2: the camera moves
  // from −y of the centre to the side.
  OrbitCamera(camera, kHeight / 2.0, 0.0, kHeight);
  EXPECT_NEAR(Distance(camera, centre), distance, 1e-9 * distance);
  const math::Vec2d c = Pixel(camera, centre);
  EXPECT_NEAR(c[0], kWidth / 2.0, 1e-6);
  EXPECT_NEAR(c[1], kHeight / 2.0, 1e-6);
  const math::Vec3d offset = camera.GetFrame().GetTrans() - centre;
  EXPECT_NEAR(std::abs(offset[0]), distance, 1e-6 * distance);
  EXPECT_NEAR(offset[1], 0.0, 1e-6 * distance);
  // Dragging back returns the camera.
  OrbitCamera(camera, -kHeight / 2.0, 0.0, kHeight);
  EXPECT_NEAR(camera.GetFrame().GetTrans()[1], centre[1] - distance, 1e-6 * distance);
}

TEST(Navigation, PanMovesTheOrbitPlaneWithTheCursor) {
  const math::Vec3d low(0.0, 0.0, 0.0), high(100.0, 100.0, 100.0);
  Camera camera;
  SetViewAngles(camera, 0.5, 0.4, low, high, kWidth, kHeight);
  const math::Vec3d centre(camera.GetOrbitCenter());
  const math::Vec2d before = Pixel(camera, centre);
  PanCamera(camera, 40.0, -25.0, MakeViewState(camera, kWidth, kHeight));
  const math::Vec2d after = Pixel(camera, centre);  // the old centre followed the cursor
  EXPECT_NEAR(after[0] - before[0], 40.0, 1e-6);
  EXPECT_NEAR(after[1] - before[1], -25.0, 1e-6);
  const math::Vec2d newCentre = Pixel(camera, math::Vec3d(camera.GetOrbitCenter()));
  EXPECT_NEAR(newCentre[0], kWidth / 2.0, 1e-5);
}

// The camera's own event handling: a left drag orbits, the wheel zooms,
// "F" fits; the scene's switch stops rotation.
TEST(Navigation, CameraEventsNavigate) {
  Scene scene;
  Geo box;
  CreateParallelepiped(box, {0.f, 0.f, 0.f}, {100.f, 0.f, 0.f}, {0.f, 50.f, 0.f}, {0.f, 0.f, 20.f});
  scene.AddNode(&box);
  scene.SetCamera(0, std::make_unique<Camera>());
  Camera& camera = *scene.GetActiveCamera();
  Event key;
  key.kind = kEventKey;
  key.key = 'F';
  key.width = kWidth;
  key.height = kHeight;
  ASSERT_TRUE(scene.OnEvent(key));
  EXPECT_NEAR(camera.GetOrbitCenter()[0], 50.f, 1e-4f);
  const math::Frame4d fitted = camera.GetFrame();

  Event move = key;
  move.kind = kEventMouse;
  move.subKind = kMouseMove;
  move.modifiers = kModifierLeftButton;
  move.x = 100;
  move.y = 100;
  EXPECT_FALSE(scene.OnEvent(move));  // anchors the drag
  move.x = 160;
  EXPECT_TRUE(scene.OnEvent(move));
  Camera expected;
  expected.SetFrame(fitted);
  expected.SetOrbitCenter(camera.GetOrbitCenter());
  OrbitCamera(expected, 60.0, 0.0, kHeight);
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(camera.GetFrame().data()[k], expected.GetFrame().data()[k], 1e-9);

  scene.SetAllowCameraRotation(false);
  const math::Frame4d held = camera.GetFrame();
  move.x = 220;
  EXPECT_FALSE(scene.OnEvent(move));
  EXPECT_EQ(camera.GetFrame(), held);

  Event wheel = key;
  wheel.kind = kEventWheel;
  wheel.key = 1;
  wheel.x = kWidth / 2;
  wheel.y = kHeight / 2;
  const double before = Distance(camera, math::Vec3d(camera.GetOrbitCenter()));
  EXPECT_TRUE(scene.OnEvent(wheel));
  EXPECT_LT(Distance(camera, math::Vec3d(camera.GetOrbitCenter())), before);
  scene.RemoveNode(&box);
}

}  // namespace
}  // namespace v3d
