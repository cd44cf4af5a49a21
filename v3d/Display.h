#pragma once

#include <cstdint>

#include "v3d/Object.h"

namespace v3d {

class Texture;
struct TextureRegion;

// The view that a scene is attached to: it owns one OpenGL context and does
// every OpenGL call of the scene, its nodes and its textures. The scene and
// its elements never call OpenGL themselves; they go through this interface,
// always between MakeCurrent(true) and MakeCurrent(false) on the calling
// thread (see ContextScope). A concrete display (a window with its context)
// implements it; tests implement it with a recording double.
//
// The texture operations return false (or a name of 0) on failure; the
// texture turns failures into its error messages.
class Display : public Object {
 public:
  struct Viewport {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
  };

  // on: make the context current on the calling thread; off: release it.
  virtual void MakeCurrent(bool on) = 0;
  // True when this display's context is the calling thread's current one.
  virtual bool IsCurrent() const = 0;

  // A new texture object name (glGenTextures), 0 on failure.
  virtual std::uint32_t GenTexture() = 0;
  virtual void DeleteTexture(std::uint32_t name) = 0;
  virtual bool BindTexture(std::uint32_t name) = 0;
  // Filters and environment mode of the bound texture.
  virtual bool SetupTextureParameters(const Texture& texture) = 0;
  // Allocates the bound texture's storage at its allocated size.
  virtual bool InitTexture(const Texture& texture) = 0;
  // Uploads a region of the texture's data (in image pixels) into the bound
  // texture, scaled to the allocated size.
  virtual bool TexSubImage(const Texture& texture, const TextureRegion& region) = 0;

  const Viewport& GetViewport() const { return m_viewport; }
  void SetViewport(const Viewport& viewport) { m_viewport = viewport; }

 private:
  Viewport m_viewport;
};

// Makes a display's context current for a scope; a null display does nothing.
class ContextScope {
 public:
  explicit ContextScope(Display* display) : m_display(display) {
    if (m_display) m_display->MakeCurrent(true);
  }
  ~ContextScope() {
    if (m_display) m_display->MakeCurrent(false);
  }
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;

 private:
  Display* m_display;
};

}  // namespace v3d
