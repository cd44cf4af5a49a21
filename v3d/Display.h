#pragma once

#include <cstdint>
#include <string>

#include "foundation/math/Vec.h"
#include "v3d/Object.h"

namespace v3d {

class Geo;
class Texture;
struct TextureRegion;

// How one drawing of a Geo differs from its plain form.
struct GeoDrawParams {
  std::uint32_t flags = 0;  // the effective render flags (RenderFlag)
  float scale = 1.f;        // uniform scale of the Geo's coordinates (constant-size markers)
};

// A surface point found under the cursor.
struct SurfacePick {
  std::int32_t nodeID = -1;  // the Geo that was hit
  std::int32_t meshIndex = -1;
  std::int64_t primIndex = -1;
  math::Vec3d world;        // the point, world coordinates (mm)
  math::Vec3d local;        // the point in the Geo's own coordinates
  math::Vec3d normal;       // the face normal in world coordinates
  double pixelDistance = 0.0;  // from the cursor to the pixel that hit
};

// A compiled shader program; all zero when the context has no OpenGL 2.0.
struct ProgramBuild {
  bool supported = false;
  std::uint32_t vertexShader = 0, fragmentShader = 0, program = 0;
  std::string log;  // compiler and linker messages
};

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

  // Draws the Geo's meshes with the current transformation (the renderer
  // sets it before it calls the node's Render). A display that cannot draw
  // ignores the call.
  virtual void DrawGeo(const Geo& geo, const GeoDrawParams& params) {}
  // The surface point of the scene layer under pixel (x, y) or, if none is
  // there, under the nearest pixel within radius pixels. False when nothing
  // is within reach or the display cannot pick.
  virtual bool PickSurface(std::int32_t x, std::int32_t y, float radius, SurfacePick& pick) { return false; }
  // Compiles and links a program (context current). Unsupported without
  // OpenGL 2.0; object names of 0 mark the step that failed.
  virtual ProgramBuild BuildProgram(const std::string& vertexSource, const std::string& fragmentSource) {
    return {};
  }
  virtual void DeleteProgram(const ProgramBuild& build) {}

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
