#pragma once

#include <memory>

#include "foundation/img/UniImage.h"
#include "v3d/GlDisplay.h"

namespace v3d {

// A display without a window: an OpenGL compatibility context of Mesa's EGL
// surfaceless platform (no X server, no device) drawing into a pbuffer of
// the viewport's size. The same GlDisplay code draws here as in a window.
//
// Not thread-safe; use it from one thread at a time (the context is made
// current on the calling thread for each call).
class OffscreenDisplay : public GlDisplay {
 public:
  // Creates the context and a width × height pbuffer and initialises OpenGL
  // (printing the INFO lines). Throws std::runtime_error with the reason
  // when EGL, the platform or an OpenGL context is not available.
  OffscreenDisplay(int width, int height, const Color4f& clearColor = {0.f, 0.f, 0.f, 1.f});
  ~OffscreenDisplay() override;

  bool IsCurrent() const override;
  // A new pbuffer size (the viewport follows).
  void Resize(int width, int height);
  // Renders the attached scene (taking the viewer lock) and returns the
  // picture, top row first.
  img::RGBImage Render();

 protected:
  void SwitchContext(bool on) override;
  bool HasContext() const override;

 private:
  struct Egl;
  std::unique_ptr<Egl> m_egl;
};

}  // namespace v3d
