// Frame rate of the 3D view on a mesh file: the first frame (vertex buffers
// and texture uploaded) and steady orbiting (the camera turns 2° about the
// orbit centre per frame), at the view's size, in an offscreen EGL context
// or (--window) in a GLFW window. Prints frames per second.
//
//   ViewerFrameRate MESH [--width 1280] [--height 960] [--frames 120] [--window]

#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <numbers>
#include <string>

#include "surf/files/MeshFormats.h"
#include "v3d/ClientWnd.h"
#include "v3d/LockGuard.h"
#include "v3d/Navigation.h"
#include "v3d/OffscreenDisplay.h"
#include "v3d/Scene.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Options {
  std::string mesh;
  int width = 1280, height = 960, frames = 120;
  bool window = false;
};

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&](int& value) {
      if (i + 1 >= argc) return false;
      value = std::atoi(argv[++i]);
      return value > 0;
    };
    if (arg == "--width") {
      if (!next(options.width)) return false;
    } else if (arg == "--height") {
      if (!next(options.height)) return false;
    } else if (arg == "--frames") {
      if (!next(options.frames)) return false;
    } else if (arg == "--window") {
      options.window = true;
    } else if (options.mesh.empty()) {
      options.mesh = arg;
    } else {
      return false;
    }
  }
  return !options.mesh.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::cerr << "usage: ViewerFrameRate MESH [--width 1280] [--height 960] [--frames 120] [--window]\n";
    return 2;
  }
  surf::GeoItem item;
  const auto loadStart = Clock::now();
  if (!surf::LoadMesh(options.mesh, item)) return 1;
  const double loadSeconds = Seconds(loadStart);
  std::size_t triangles = 0;
  for (const auto& mesh : *item.geo) triangles += mesh->GetNumPrims();

  GLFWwindow* window = nullptr;
  std::unique_ptr<v3d::GlDisplay> display;
  if (options.window) {
    if (!glfwInit()) {
      std::cerr << "Error: no window system (run under xvfb-run)\n";
      return 1;
    }
    glfwWindowHint(GLFW_DEPTH_BITS, 24);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    window = glfwCreateWindow(options.width, options.height, "ViewerFrameRate", nullptr, nullptr);
    if (!window) {
      std::cerr << "Error: no OpenGL window\n";
      return 1;
    }
    glfwSwapInterval(0);
    auto wnd = std::make_unique<v3d::ClientWnd>();
    wnd->OnCreate(window, {0.16f, 0.17f, 0.19f, 1.f});
    display = std::move(wnd);
  } else {
    display = std::make_unique<v3d::OffscreenDisplay>(options.width, options.height, v3d::Color4f{0.16f, 0.17f, 0.19f, 1.f});
  }
  std::cout << "renderer: " << display->GetGlInfo().renderer << "\n";

  v3d::Scene scene;
  std::vector<std::unique_ptr<v3d::Texture>> textures;
  auto frame = [&] {
    v3d::LockGuard lock;
    v3d::ContextScope context(display.get());
    display->RenderScene();
    if (window) {
      glfwSwapBuffers(window);
    }
    display->Finish();
  };

  const auto firstStart = Clock::now();
  {
    v3d::LockGuard lock;
    display->SetScene(&scene);
    for (const auto& texture : item.textures) {
      const std::int32_t id = scene.AddTexture(texture.get());
      for (const auto& mesh : *item.geo) {
        if (item.GetMeshTexture(*mesh) == texture.get()) mesh->SetTextureID(id);
      }
    }
    scene.AddNode(item.geo.get());
    math::Vec3d low, high;
    v3d::ComputeSceneBounds(scene, low, high);
    auto camera = std::make_unique<v3d::Camera>();
    v3d::SetViewAngles(*camera, 0.5, 0.4, low, high, options.width, options.height);
    scene.SetCamera(0, std::move(camera));
  }
  frame();
  const double firstSeconds = Seconds(firstStart);

  // Steady orbiting: the camera turns, the meshes stay on the display.
  const double step = 2.0 * std::numbers::pi / 180.0 * options.height / std::numbers::pi;  // 2° in drag pixels
  const auto orbitStart = Clock::now();
  double slowest = 0.0;
  for (int i = 0; i < options.frames; ++i) {
    const auto frameStart = Clock::now();
    {
      v3d::LockGuard lock;
      v3d::OrbitCamera(*scene.GetActiveCamera(), step, 0.0, options.height);
    }
    frame();
    if (window) glfwPollEvents();
    slowest = std::max(slowest, Seconds(frameStart));
  }
  const double orbitSeconds = Seconds(orbitStart);
  std::printf("mesh: %s, %zu triangles, %zu textures (loaded in %.2f s)\n", options.mesh.c_str(), triangles,
              item.textures.size(), loadSeconds);
  std::printf("view: %d x %d, %s\n", options.width, options.height, window ? "GLFW window" : "offscreen (EGL)");
  std::printf("first frame: %.3f s (%.2f frames per second)\n", firstSeconds, 1.0 / firstSeconds);
  std::printf("draws without back faces (closed meshes): %zu of %d frames\n",
              display->GetNumCulledDraws(), options.frames + 1);
  std::printf("steady orbiting: %.2f frames per second (%d frames in %.2f s, slowest %.3f s)\n",
              options.frames / orbitSeconds, options.frames, orbitSeconds, slowest);
  {
    v3d::LockGuard lock;
    scene.RemoveNode(item.geo.get());
    for (const auto& texture : item.textures) scene.RemoveTexture(texture.get());
    display->SetScene(nullptr);
  }
  display.reset();
  if (window) {
    glfwDestroyWindow(window);
    glfwTerminate();
  }
  return 0;
}
