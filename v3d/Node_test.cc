#include "v3d/Node.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "v3d/Camera.h"
#include "v3d/Light.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

void ExpectFrameNear(const math::Frame4d& a, const math::Frame4d& b, double tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tolerance) << "element " << i;
}

TEST(Node, DefaultsAndText) {
  Node node;
  EXPECT_EQ(node.GetName(), "Node");
  EXPECT_EQ(node.GetNodeID(), -1);
  EXPECT_EQ(node.GetIndex(), -1);
  EXPECT_EQ(node.GetVisibility(), 0x7FFFFFFFu);
  EXPECT_EQ(node.GetFrame(), math::Frame4d());
  EXPECT_EQ(node.ToString(), "0 1 1");
  node.IncVersion();
  node.SetName("marker");
  node.SetFrame(math::FTrans(1.0, 2.0, 3.0));
  node.SetFrame(node.GetFrame());
  EXPECT_EQ(node.ToString(), "1 3 2");
  EXPECT_FALSE(node.GetGuid().IsNull());
  EXPECT_NE(node.GetGuid(), Node().GetGuid());
  EXPECT_EQ(Renderable().GetName(), "Renderable");
  EXPECT_EQ(Renderable().GetRenderLayer(), 2);
}

TEST(Node, FramesRelativeToAReferenceNode) {
  Scene scene;
  Node a, b, child;
  scene.AddNode(&a);
  scene.AddNode(&b);
  scene.AddNode(&child, &a);
  math::Frame4d root_T_a = math::FRotZ(std::numbers::pi / 2);
  root_T_a.SetTrans(10.0, 0.0, 0.0);
  math::Frame4d root_T_b = math::FRotX(0.4);
  root_T_b.SetTrans(0.0, -3.0, 7.0);
  a.SetFrame(root_T_a);
  b.SetFrame(root_T_b);

  // Given as b_T_child: the stored frame is a_T_child, the world frame the
  // product through b.
  const math::Frame4d b_T_child = math::FTrans(1.0, 2.0, 3.0) * math::FRotY(0.7);
  const std::uint32_t counter = child.GetFrameCounter();
  child.SetFrame(b_T_child, &b);
  EXPECT_EQ(child.GetFrameCounter(), counter + 1);
  ExpectFrameNear(child.GetWorldFrame(), root_T_b * b_T_child, 1e-12);
  ExpectFrameNear(child.GetFrame(), root_T_a.GetInverse() * root_T_b * b_T_child, 1e-12);

  // The parent as reference, or none: taken as it is.
  child.SetFrame(b_T_child, &a);
  EXPECT_EQ(child.GetFrame(), b_T_child);
  child.SetFrame(b_T_child);
  EXPECT_EQ(child.GetFrame(), b_T_child);
  // A point of the child lands where both paths put it.
  const math::Vec3d p(1.0, 1.0, 1.0);
  const math::Vec3d world = child.GetWorldFrame() * p;
  const math::Vec3d expected = root_T_a * (b_T_child * p);
  EXPECT_NEAR(world[0], expected[0], 1e-12);
  EXPECT_NEAR(world[1], expected[1], 1e-12);
  EXPECT_NEAR(world[2], expected[2], 1e-12);
  for (Node* n : {&child, &a, &b}) scene.RemoveNode(n);
}

TEST(Node, RecursiveVisibility) {
  Scene scene;
  Node a, b, c;
  scene.AddNode(&a);
  scene.AddNode(&b, &a);
  scene.AddNode(&c, &b);
  a.SetVisibility(0x2);
  EXPECT_EQ(b.GetVisibility(), 0x7FFFFFFFu);
  a.SetVisibility(0x4, true);
  EXPECT_EQ(b.GetVisibility(), 0x4u);
  EXPECT_EQ(c.GetVisibility(), 0x4u);
  scene.SetGlobalVisibility(0x3);
  EXPECT_FALSE(c.IsVisible());
  scene.SetGlobalVisibility(0x4);
  EXPECT_TRUE(c.IsVisible());
  for (Node* n : {&c, &b, &a}) scene.RemoveNode(n);
}

TEST(Camera, FieldOfView) {
  Camera camera;
  EXPECT_EQ(camera.GetName(), "Camera");
  EXPECT_TRUE(camera.IsPerspective());
  EXPECT_GT(camera.GetNumMeshes(), 0u);
  EXPECT_TRUE(camera.GetMesh(0)->HasVertexNormals());
  const float v = 0.8f;
  camera.SetFov(v, 0.f);
  // Square viewport (and a zero height): the horizontal angle is the vertical.
  EXPECT_NEAR(camera.GetFov(600, 600).horizontal, v, 1e-6f);
  EXPECT_NEAR(camera.GetFov(600, 0).horizontal, v, 1e-6f);
  EXPECT_EQ(camera.GetFov(600, 600).vertical, v);
  // Aspect 2: 2·tan(atan(0.4) / 2).
  EXPECT_NEAR(camera.GetFov(1200, 600).horizontal, 2.0 * std::tan(std::atan(0.4) / 2.0), 1e-6);
  camera.SetPerspective(false);
  camera.SetFov(300.f, 200.f);
  EXPECT_EQ(camera.GetFov(1200, 600).vertical, 300.f);
  EXPECT_EQ(camera.GetFov(1200, 600).horizontal, 200.f);
  camera.SetOrbitCenter(math::Vec3f(1.f, 2.f, 3.f));
  EXPECT_EQ(camera.GetOrbitCenter(), math::Vec3f(1.f, 2.f, 3.f));
}

TEST(Light, DefaultsAndColours) {
  Light light;
  EXPECT_EQ(light.GetName(), "Light");
  EXPECT_TRUE(light.IsEnabled());
  light.Enable(false);
  EXPECT_FALSE(light.IsEnabled());
  light.SetDiffuse(Color4f(Color4ub(255, 0, 51, 255)));
  EXPECT_EQ(light.GetDiffuse(), Color4f(1.f, 0.f, 0.2f, 1.f));
  light.SetSpecular(Color4f(0.5f, 0.5f, 0.5f));
  EXPECT_EQ(light.GetSpecular().a, 1.f);
  EXPECT_EQ(light.GetBoundingBox().GetMin(), math::Vec3f(-5.f, -5.f, -5.f));
}

TEST(Color4ub, ComparesAllFourBytes) {
  EXPECT_NE(Color4ub(1, 2, 3, 4), Color4ub(1, 2, 3, 5));
  EXPECT_EQ(Color4ub(1, 2, 3, 4), Color4ub(1, 2, 3, 4));
  const Color4ub c(10, 20, 30);
  EXPECT_EQ(c.R(), 10);
  EXPECT_EQ(c.G(), 20);
  EXPECT_EQ(c.B(), 30);
  EXPECT_EQ(c.A(), 255);
  const std::uint8_t bytes[4] = {10, 20, 30, 255};
  EXPECT_EQ(std::memcmp(&c, bytes, 4), 0);
}

}  // namespace
}  // namespace v3d
