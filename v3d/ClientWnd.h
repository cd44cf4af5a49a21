#pragma once

#include <chrono>
#include <cstdint>

#include "v3d/Color.h"
#include "v3d/Event.h"
#include "v3d/GlDisplay.h"

struct GLFWwindow;

namespace v3d {

struct ClientWndOptions {
  // Install GLFW callbacks on the window that feed OnEvent. An application
  // that installs its own (or a UI library that chains them, like Dear
  // ImGui's GLFW backend installed afterwards) can call the On… translators
  // itself instead.
  bool installCallbacks = true;
  // Draw swaps the buffers; off when the application draws more (a UI) over
  // the scene and swaps itself.
  bool swapBuffers = true;
};

// The display of a GLFW window with an OpenGL compatibility context: it
// turns the window's input into scene events, drives the 1 ms timer and
// draws the scene when it changed.
//
// Threads: the window's thread calls everything here; event handling and
// drawing take the viewer lock for at most 100 ms (an event that cannot get
// it is dropped and the next timer tick comes again), and every OpenGL call
// is bracketed by MakeCurrent.
class ClientWnd : public GlDisplay {
 public:
  ClientWnd() = default;
  ~ClientWnd() override;

  // Takes the window's context: makes it current, initialises OpenGL with
  // the clear colour (the INFO lines), releases it, starts the timer.
  // Throws std::invalid_argument "v3d::ClientWnd::OnCreate - No client
  // window handle given." for a null window and std::runtime_error
  // "v3d::ClientWnd::OnCreate - Could not create rendering context." for a
  // window without an OpenGL context.
  void OnCreate(GLFWwindow* window, const Color4f& clearColor, const ClientWndOptions& options = {});
  // Detaches the scene, stops the timer, frees the OpenGL objects, removes
  // the callbacks and forgets the window (which stays the caller's).
  void Destroy();
  bool IsCreated() const { return m_created; }
  GLFWwindow* GetWindow() const { return m_window; }

  bool IsCurrent() const override;

  // Kind 3 (redraw) draws the scene and clears the redraw-pending flag;
  // kind 5 (resize) sets the viewport (with or without a scene); the other
  // kinds go to the scene. False when the viewer lock was not free within
  // 100 ms or nothing handled the event.
  bool OnEvent(const Event& event);

  // The 1 ms timer: call it from the window's loop. Sends a timer event when
  // a millisecond has passed since the last one, then draws when the scene
  // changed or a redraw is pending. True when a frame was drawn.
  bool Tick();
  // Polls the window's events with a 1 ms timeout and ticks until the
  // window is asked to close.
  void RunUntilClosed();
  void SetRedrawPending() { m_redrawPending = true; }
  bool IsRedrawPending() const { return m_redrawPending; }
  // Draws the scene into the back buffer (not shown) and returns its pixels.
  img::RGBImage Capture();

  // Translators of GLFW input (window coordinates in screen units).
  void OnCursorPos(double x, double y);
  void OnMouseButton(int button, int action, int mods);
  void OnScroll(double dx, double dy);
  void OnKey(int key, int action, int mods);
  void OnFramebufferSize(int width, int height);

 protected:
  void SwitchContext(bool on) override;
  bool HasContext() const override { return m_window != nullptr; }

 private:
  Event MakeInputEvent(std::int32_t kind) const;
  void DrawFrame();

  GLFWwindow* m_window = nullptr;
  ClientWndOptions m_options;
  bool m_created = false;
  bool m_redrawPending = true;
  std::chrono::steady_clock::time_point m_lastTimer;
  double m_cursorX = 0.0, m_cursorY = 0.0;
  double m_scaleX = 1.0, m_scaleY = 1.0;  // framebuffer pixels per window unit
  std::uint32_t m_buttons = 0;             // EventModifier bits of the held buttons
  std::uint32_t m_keyModifiers = 0;
};

}  // namespace v3d
