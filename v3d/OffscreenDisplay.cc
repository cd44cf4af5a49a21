#include "v3d/OffscreenDisplay.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "v3d/LockGuard.h"

namespace v3d {
namespace {

[[noreturn]] void Fail(const std::string& text) {
  throw std::runtime_error("v3d::OffscreenDisplay - " + text + " (EGL error 0x" + [] {
    char code[16];
    std::snprintf(code, sizeof code, "%04X", eglGetError());
    return std::string(code);
  }() + ")");
}

// The surfaceless display, initialised on first use and kept for the whole
// process: EGL counts no references, so terminating it for one picture would
// pull the driver from under every other offscreen display alive.
EGLDisplay SurfacelessDisplay() {
  static const EGLDisplay display = [] {
    const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!extensions || std::string(extensions).find("EGL_MESA_platform_surfaceless") == std::string::npos) {
      throw std::runtime_error(
          "v3d::OffscreenDisplay - EGL has no surfaceless platform (Mesa's EGL, libegl-mesa0, is needed).");
    }
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) Fail("eglGetPlatformDisplayEXT is missing");
    EGLDisplay surfaceless = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (surfaceless == EGL_NO_DISPLAY || !eglInitialize(surfaceless, &major, &minor)) {
      Fail("The surfaceless EGL display cannot be initialised");
    }
    return surfaceless;
  }();
  return display;
}

}  // namespace

struct OffscreenDisplay::Egl {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;
};

OffscreenDisplay::OffscreenDisplay(int width, int height, const Color4f& clearColor) : m_egl(std::make_unique<Egl>()) {
  if (width < 1 || height < 1 || width > 16384 || height > 16384) {
    throw std::invalid_argument("v3d::OffscreenDisplay - The picture size must be 1…16384 pixels on each side.");
  }
  m_egl->display = SurfacelessDisplay();
  try {
    if (!eglBindAPI(EGL_OPENGL_API)) Fail("EGL offers no desktop OpenGL");
    const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_RED_SIZE,     8,               EGL_GREEN_SIZE,      8,
                                 EGL_BLUE_SIZE,    8,               EGL_ALPHA_SIZE,      8,
                                 EGL_DEPTH_SIZE,   24,              EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(m_egl->display, attributes, &m_egl->config, 1, &count) || count < 1) {
      Fail("No RGBA8 pbuffer configuration with a 24-bit depth buffer");
    }
    // A compatibility context (the viewer draws with fixed-function calls).
    m_egl->context = eglCreateContext(m_egl->display, m_egl->config, EGL_NO_CONTEXT, nullptr);
    if (m_egl->context == EGL_NO_CONTEXT) Fail("Could not create an OpenGL context");
    Resize(width, height);
    ContextScope context(this);
    InitGL(clearColor);
  } catch (...) {
    if (m_egl->surface != EGL_NO_SURFACE) eglDestroySurface(m_egl->display, m_egl->surface);
    if (m_egl->context != EGL_NO_CONTEXT) eglDestroyContext(m_egl->display, m_egl->context);
    eglMakeCurrent(m_egl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    throw;
  }
}

OffscreenDisplay::~OffscreenDisplay() {
  SetScene(nullptr);
  {
    ContextScope context(this);
    ReleaseGL();
  }
  eglMakeCurrent(m_egl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroySurface(m_egl->display, m_egl->surface);
  eglDestroyContext(m_egl->display, m_egl->context);
}

void OffscreenDisplay::Resize(int width, int height) {
  const EGLint attributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
  EGLSurface surface = eglCreatePbufferSurface(m_egl->display, m_egl->config, attributes);
  if (surface == EGL_NO_SURFACE) Fail("Could not create a " + std::to_string(width) + " x " + std::to_string(height) + " pbuffer");
  const bool wasCurrent = IsCurrent();
  if (m_egl->surface != EGL_NO_SURFACE) {
    if (wasCurrent) eglMakeCurrent(m_egl->display, surface, surface, m_egl->context);
    eglDestroySurface(m_egl->display, m_egl->surface);
  }
  m_egl->surface = surface;
  SetViewport({0, 0, width, height});
}

bool OffscreenDisplay::IsCurrent() const {
  return m_egl->context != EGL_NO_CONTEXT && eglGetCurrentContext() == m_egl->context;
}

bool OffscreenDisplay::HasContext() const { return m_egl->context != EGL_NO_CONTEXT; }

void OffscreenDisplay::SwitchContext(bool on) {
  if (on) {
    if (!eglMakeCurrent(m_egl->display, m_egl->surface, m_egl->surface, m_egl->context)) {
      std::fprintf(stderr, "Error: MakeCurrent - Call to eglMakeCurrent failed.\n");
    }
  } else {
    eglMakeCurrent(m_egl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
}

img::RGBImage OffscreenDisplay::Render() {
  LockGuard lock;
  ContextScope context(this);
  RenderScene();
  return ReadPixels();
}

}  // namespace v3d
