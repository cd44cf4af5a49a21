#include "v3d/ClientWnd.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "v3d/LockGuard.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

ClientWnd* FromWindow(GLFWwindow* window) { return static_cast<ClientWnd*>(glfwGetWindowUserPointer(window)); }

std::uint32_t ModifiersOf(int mods) {
  std::uint32_t bits = 0;
  if (mods & GLFW_MOD_SHIFT) bits |= kModifierShift;
  if (mods & GLFW_MOD_CONTROL) bits |= kModifierControl;
  if (mods & GLFW_MOD_ALT) bits |= kModifierAlt;
  return bits;
}

// Key codes of events: printable keys as their upper-case ASCII code, the
// control keys as ASCII (Escape 27, Enter 13, Tab 9, Backspace 8, Delete
// 127), other keys 0x1000 + their GLFW code.
std::int32_t KeyCodeOf(int key) {
  switch (key) {
    case GLFW_KEY_ESCAPE:
      return 27;
    case GLFW_KEY_ENTER:
    case GLFW_KEY_KP_ENTER:
      return 13;
    case GLFW_KEY_TAB:
      return 9;
    case GLFW_KEY_BACKSPACE:
      return 8;
    case GLFW_KEY_DELETE:
      return 127;
    default:
      if (key >= 32 && key < 127) return key;
      if (key >= GLFW_KEY_KP_0 && key <= GLFW_KEY_KP_9) return '0' + (key - GLFW_KEY_KP_0);
      return 0x1000 + key;
  }
}

}  // namespace

ClientWnd::~ClientWnd() { Destroy(); }

void ClientWnd::OnCreate(GLFWwindow* window, const Color4f& clearColor, const ClientWndOptions& options) {
  if (!window) throw std::invalid_argument("v3d::ClientWnd::OnCreate - No client window handle given.");
  if (glfwGetWindowAttrib(window, GLFW_CLIENT_API) == GLFW_NO_API) {
    throw std::runtime_error("v3d::ClientWnd::OnCreate - Could not create rendering context.");
  }
  m_window = window;
  m_options = options;
  int width = 0, height = 0, windowWidth = 0, windowHeight = 0;
  glfwGetFramebufferSize(window, &width, &height);
  glfwGetWindowSize(window, &windowWidth, &windowHeight);
  m_scaleX = windowWidth > 0 ? static_cast<double>(width) / windowWidth : 1.0;
  m_scaleY = windowHeight > 0 ? static_cast<double>(height) / windowHeight : 1.0;
  SetViewport({0, 0, width, height});
  {
    ContextScope context(this);
    InitGL(clearColor);
  }
  if (options.installCallbacks) {
    glfwSetWindowUserPointer(window, this);
    glfwSetCursorPosCallback(window, [](GLFWwindow* w, double x, double y) { FromWindow(w)->OnCursorPos(x, y); });
    glfwSetMouseButtonCallback(window, [](GLFWwindow* w, int button, int action, int mods) {
      FromWindow(w)->OnMouseButton(button, action, mods);
    });
    glfwSetScrollCallback(window, [](GLFWwindow* w, double dx, double dy) { FromWindow(w)->OnScroll(dx, dy); });
    glfwSetKeyCallback(window, [](GLFWwindow* w, int key, int, int action, int mods) {
      FromWindow(w)->OnKey(key, action, mods);
    });
    glfwSetFramebufferSizeCallback(window,
                                   [](GLFWwindow* w, int width, int height) { FromWindow(w)->OnFramebufferSize(width, height); });
    glfwSetWindowRefreshCallback(window, [](GLFWwindow* w) { FromWindow(w)->SetRedrawPending(); });
  }
  m_lastTimer = std::chrono::steady_clock::now();
  m_redrawPending = true;
  m_created = true;
}

void ClientWnd::Destroy() {
  if (!m_window) return;
  SetScene(nullptr);
  m_created = false;  // stops the timer
  {
    ContextScope context(this);
    ReleaseGL();
  }
  if (m_options.installCallbacks && glfwGetWindowUserPointer(m_window) == this) {
    glfwSetCursorPosCallback(m_window, nullptr);
    glfwSetMouseButtonCallback(m_window, nullptr);
    glfwSetScrollCallback(m_window, nullptr);
    glfwSetKeyCallback(m_window, nullptr);
    glfwSetFramebufferSizeCallback(m_window, nullptr);
    glfwSetWindowRefreshCallback(m_window, nullptr);
    glfwSetWindowUserPointer(m_window, nullptr);
  }
  m_window = nullptr;
}

bool ClientWnd::IsCurrent() const { return m_window && glfwGetCurrentContext() == m_window; }

void ClientWnd::SwitchContext(bool on) {
  if (!m_window) return;
  glfwMakeContextCurrent(on ? m_window : nullptr);
  if (on && glfwGetCurrentContext() != m_window) {
    std::fprintf(stderr, "Error: MakeCurrent - Call to glfwMakeContextCurrent failed.\n");
  }
}

void ClientWnd::DrawFrame() {
  RenderScene();
  if (m_options.swapBuffers) glfwSwapBuffers(m_window);
}

bool ClientWnd::OnEvent(const Event& event) {
  LockGuard lock(std::chrono::milliseconds(100));
  if (!lock.OwnsLock()) return false;
  ContextScope context(this);
  switch (event.kind) {
    case kEventRedraw:
      m_redrawPending = false;
      DrawFrame();
      return true;
    case kEventResize:
      SetViewport({event.x, event.y, event.width, event.height});
      glViewport(event.x, event.y, event.width, event.height);
      m_redrawPending = true;
      return true;
    default:
      return GetScene() && GetScene()->OnEvent(event);
  }
}

bool ClientWnd::Tick() {
  if (!m_created) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - m_lastTimer >= std::chrono::milliseconds(1)) {
    m_lastTimer = now;
    OnEvent(MakeInputEvent(kEventTimer));
  }
  const bool changed = GetScene() && GetScene()->GetRedrawID() != GetDrawnRedrawID();
  if (!m_redrawPending && !changed) return false;
  Event redraw;
  redraw.kind = kEventRedraw;
  return OnEvent(redraw);
}

void ClientWnd::RunUntilClosed() {
  while (m_window && !glfwWindowShouldClose(m_window)) {
    glfwWaitEventsTimeout(0.001);
    Tick();
  }
}

img::RGBImage ClientWnd::Capture() {
  LockGuard lock;
  ContextScope context(this);
  RenderScene();
  glReadBuffer(GL_BACK);
  return ReadPixels();
}

Event ClientWnd::MakeInputEvent(std::int32_t kind) const {
  Event event;
  event.kind = kind;
  event.x = static_cast<std::int32_t>(std::floor(m_cursorX * m_scaleX));
  event.y = static_cast<std::int32_t>(std::floor(m_cursorY * m_scaleY));
  event.width = GetViewport().width;
  event.height = GetViewport().height;
  event.modifiers = m_buttons | m_keyModifiers;
  return event;
}

void ClientWnd::OnCursorPos(double x, double y) {
  m_cursorX = x;
  m_cursorY = y;
  Event event = MakeInputEvent(kEventMouse);
  event.subKind = kMouseMove;
  OnEvent(event);
}

void ClientWnd::OnMouseButton(int button, int action, int mods) {
  const std::uint32_t bit = button == GLFW_MOUSE_BUTTON_LEFT    ? kModifierLeftButton
                            : button == GLFW_MOUSE_BUTTON_RIGHT ? kModifierRightButton
                            : button == GLFW_MOUSE_BUTTON_MIDDLE ? kModifierMiddleButton
                                                                 : 0u;
  if (action == GLFW_PRESS) {
    m_buttons |= bit;
  } else {
    m_buttons &= ~bit;
  }
  m_keyModifiers = ModifiersOf(mods);
  Event event = MakeInputEvent(kEventMouse);
  event.subKind = action == GLFW_PRESS ? kMouseButtonDown : kMouseButtonUp;
  event.key = button;
  OnEvent(event);
}

void ClientWnd::OnScroll(double, double dy) {
  Event event = MakeInputEvent(kEventWheel);
  event.key = static_cast<std::int32_t>(std::lround(dy));
  if (event.key == 0 && dy != 0.0) event.key = dy > 0.0 ? 1 : -1;
  OnEvent(event);
}

void ClientWnd::OnKey(int key, int action, int mods) {
  m_keyModifiers = ModifiersOf(mods);
  if (action == GLFW_RELEASE) return;
  Event event = MakeInputEvent(kEventKey);
  event.key = KeyCodeOf(key);
  OnEvent(event);
}

void ClientWnd::OnFramebufferSize(int width, int height) {
  int windowWidth = 0, windowHeight = 0;
  glfwGetWindowSize(m_window, &windowWidth, &windowHeight);
  m_scaleX = windowWidth > 0 ? static_cast<double>(width) / windowWidth : 1.0;
  m_scaleY = windowHeight > 0 ? static_cast<double>(height) / windowHeight : 1.0;
  Event event;
  event.kind = kEventResize;
  event.width = width;
  event.height = height;
  OnEvent(event);
}

}  // namespace v3d
