// The display of a real GLFW window, run under a virtual X server
// (xvfb-run) with Mesa's software renderer.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <atomic>
#include <thread>

#include "v3d/ClientWnd.h"
#include "v3d/GeoTools.h"
#include "v3d/LockGuard.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

class Window : public ::testing::Test {
 protected:
  // GLFW stays initialised until the process ends: glfwTerminate unloads
  // Mesa's driver, and the few blocks the driver keeps for the process would
  // then read as leaks of an unknown module.
  static void SetUpTestSuite() { ASSERT_TRUE(glfwInit()) << "no X display: run under xvfb-run"; }

  GLFWwindow* Open(int width, int height, bool context = true) {
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_CLIENT_API, context ? GLFW_OPENGL_API : GLFW_NO_API);
    glfwWindowHint(GLFW_DEPTH_BITS, 24);
    GLFWwindow* window = glfwCreateWindow(width, height, "ClientWnd_test", nullptr, nullptr);
    EXPECT_NE(window, nullptr);
    windows.push_back(window);
    return window;
  }
  void TearDown() override {
    for (GLFWwindow* window : windows) glfwDestroyWindow(window);
  }

  std::vector<GLFWwindow*> windows;
};

TEST_F(Window, CreationReportsTheContextAndRejectsBadWindows) {
  ClientWnd display;
  try {
    display.OnCreate(nullptr, {0.f, 0.f, 0.f, 1.f});
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "v3d::ClientWnd::OnCreate - No client window handle given.");
  }
  try {
    display.OnCreate(Open(64, 64, false), {0.f, 0.f, 0.f, 1.f});
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "v3d::ClientWnd::OnCreate - Could not create rendering context.");
  }
  EXPECT_FALSE(display.IsCreated());

  ::testing::internal::CaptureStdout();
  display.OnCreate(Open(320, 240), {0.f, 0.f, 0.f, 1.f});
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("INFO: OpenGL "), std::string::npos) << out;
  EXPECT_NE(out.find(" supported.\nINFO: Maximum texture resolution for rendering is "), std::string::npos) << out;
  EXPECT_TRUE(display.IsCreated());
  EXPECT_FALSE(display.IsCurrent());  // released after initialisation
  EXPECT_EQ(display.GetViewport().width, 320);
  EXPECT_GE(display.GetGlInfo().major, 2);

  // A resize changes the viewport with no scene attached.
  Event resize;
  resize.kind = kEventResize;
  resize.width = 200;
  resize.height = 100;
  EXPECT_TRUE(display.OnEvent(resize));
  EXPECT_EQ(display.GetViewport().width, 200);
  EXPECT_EQ(display.GetViewport().height, 100);
  display.Destroy();
  EXPECT_FALSE(display.IsCreated());
}

TEST_F(Window, DrawsTheSceneAndNavigatesWithInput) {
  GLFWwindow* window = Open(320, 240);
  ClientWnd display;
  display.OnCreate(window, {0.f, 0.f, 0.f, 1.f});
  Scene scene;
  Geo box;
  CreateParallelepiped(box, {-20.f, -20.f, -20.f}, {40.f, 0.f, 0.f}, {0.f, 40.f, 0.f}, {0.f, 0.f, 40.f});
  box.GetMesh(0)->SetGlobalColor({255, 255, 255, 255});
  box.SetRenderFlags(kRenderFlagNoLighting);
  {
    LockGuard lock;
    display.SetScene(&scene);
    scene.AddNode(&box);
    auto camera = std::make_unique<Camera>();
    camera->SetFrame(math::FTrans(0.0, 0.0, -200.0));
    scene.SetCamera(0, std::move(camera));
  }
  EXPECT_TRUE(display.Tick());  // a redraw is pending after creation
  EXPECT_FALSE(display.Tick());  // nothing changed since
  img::RGBImage image = display.Capture();
  ASSERT_EQ(image.width, 320u);
  EXPECT_EQ(image(160, 120), img::RGB8::FromRGB(255, 255, 255));
  EXPECT_EQ(image(5, 5), img::RGB8::FromRGB(0, 0, 0));

  // A left drag orbits the camera about its orbit centre (the origin).
  const math::Frame4d before = scene.GetActiveCamera()->GetFrame();
  display.OnCursorPos(100, 100);
  display.OnMouseButton(GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0);
  display.OnCursorPos(110, 100);
  display.OnCursorPos(160, 100);
  display.OnMouseButton(GLFW_MOUSE_BUTTON_LEFT, GLFW_RELEASE, 0);
  const math::Frame4d after = scene.GetActiveCamera()->GetFrame();
  EXPECT_NE(before, after);
  EXPECT_NEAR(after.GetTrans().Length(), 200.0, 1e-6);
  EXPECT_TRUE(display.Tick());  // the scene changed: drawn again
  // The wheel zooms towards the cursor.
  display.OnScroll(0.0, 1.0);
  // (a fifth of the way to the point under the cursor at the orbit centre's depth)
  const double zoomed = scene.GetActiveCamera()->GetFrame().GetTrans().Length();
  EXPECT_GT(zoomed, 150.0);
  EXPECT_LT(zoomed, 170.0);

  // An event waits at most 100 ms for the viewer lock, then it is dropped.
  std::atomic<bool> held{false}, release{false};
  std::thread editor([&] {
    LockGuard lock;
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!held) std::this_thread::yield();
  Event redraw;
  redraw.kind = kEventRedraw;
  EXPECT_FALSE(display.OnEvent(redraw));
  release = true;
  editor.join();
  EXPECT_TRUE(display.OnEvent(redraw));

  {
    LockGuard lock;
    scene.RemoveNode(&box);
    display.SetScene(nullptr);
  }
  display.Destroy();
}

}  // namespace
}  // namespace v3d
