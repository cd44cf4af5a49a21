#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/img/UniImage.h"
#include "v3d/Color.h"
#include "v3d/Display.h"

namespace v3d {

class Scene;

// What the current OpenGL context offers.
struct GlInfo {
  int major = 0, minor = 0;  // the highest version reported on the INFO line
  bool shaders = false;      // OpenGL 2.0: the renderer's GLSL program
  bool buffers = false;      // OpenGL 1.5: vertex buffer objects
  std::int32_t maxTextureSize = 0;
  std::string vendor, renderer, version;
};

// The OpenGL side of a view on whatever context its subclass provides (a
// GLFW window, an offscreen EGL context): texture storage, the scene's
// rendering in four layers (background, scene, markers, foreground),
// vertex buffers cached per mesh GUID and re-uploaded only when one of the
// mesh's change counters moved, the renderer's GLSL program (per-vertex
// colour, texture, flat or smooth shading) with a fixed-function fallback
// below OpenGL 2.0, and picking.
//
// Context rules: every call that touches OpenGL needs the context current on
// the calling thread; MakeCurrent nests (only the outermost release
// releases). Rendering and event handling hold the viewer lock (LockGuard).
class GlDisplay : public Display {
 public:
  GlDisplay();
  ~GlDisplay() override;

  void MakeCurrent(bool on) final;

  // Attaches the scene (Scene::SetDisplay with this display; a previous
  // scene is detached). Null detaches.
  void SetScene(Scene* scene);
  Scene* GetScene() const { return m_scene; }

  // OpenGL initialisation with the context current: depth test (LEQUAL,
  // clear depth 1), clear colour, blending, material (specular 1, shininess
  // 40, colour material), lighting, unpack alignment 1, GLEW, normal
  // rescaling (GL_NORMALIZE below 1.2), then the lines "INFO: OpenGL X.Y
  // supported." and "INFO: Maximum texture resolution for rendering is NxN"
  // on standard output. Throws std::runtime_error when the context offers no
  // usable OpenGL.
  void InitGL(const Color4f& clearColor);
  const GlInfo& GetGlInfo() const { return m_info; }
  void SetClearColor(const Color4f& color) { m_clearColor = color; }

  // Draws the attached scene into the current framebuffer, viewport-sized
  // (context current, viewer lock held). The scene's active camera gives the
  // view; without one only the background is cleared.
  void RenderScene();
  // The redraw ID of the scene at the end of the last frame.
  std::uint32_t GetDrawnRedrawID() const { return m_drawnRedrawID; }
  // Waits until OpenGL has finished every command given (context current).
  void Finish();
  // The viewport's pixels of the current read buffer, top row first.
  img::RGBImage ReadPixels() const;

  // Loads a BMFont file and makes it the font of the default canvas (labels
  // of data tips and links). Throws what v3d::Load throws.
  void LoadDefaultFont(const std::string& path);

  // Vertex-buffer uploads (whole meshes or changed arrays) since creation.
  std::size_t GetNumUploads() const;
  std::size_t GetNumCachedMeshes() const;
  // Draws of closed meshes without their back faces since creation.
  std::size_t GetNumCulledDraws() const;

  // Display interface.
  std::uint32_t GenTexture() override;
  void DeleteTexture(std::uint32_t name) override;
  bool BindTexture(std::uint32_t name) override;
  bool SetupTextureParameters(const Texture& texture) override;
  bool InitTexture(const Texture& texture) override;
  bool TexSubImage(const Texture& texture, const TextureRegion& region) override;
  void DrawGeo(const Geo& geo, const GeoDrawParams& params) override;
  bool PickSurface(std::int32_t x, std::int32_t y, float radius, SurfacePick& pick) override;
  ProgramBuild BuildProgram(const std::string& vertexSource, const std::string& fragmentSource) override;
  void DeleteProgram(const ProgramBuild& build) override;

 protected:
  // The context switch of the subclass (on: make current; off: release).
  virtual void SwitchContext(bool on) = 0;
  virtual bool HasContext() const = 0;
  // Deletes every OpenGL object of the display (context current); call it
  // before destroying the context.
  void ReleaseGL();

 private:
  // Binds the renderer's program variant (bit 0 lighting, 1 flat, 2
  // texture), compiling it on first use; false when shaders fail.
  bool UseVariant(int index);

  struct Impl;
  std::unique_ptr<Impl> m_impl;
  Scene* m_scene = nullptr;
  GlInfo m_info;
  Color4f m_clearColor{0.f, 0.f, 0.f, 1.f};
  std::uint32_t m_drawnRedrawID = 0;
  int m_currentDepth = 0;
};

}  // namespace v3d
