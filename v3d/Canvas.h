#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "v3d/Color.h"
#include "v3d/Geo.h"
#include "v3d/Texture.h"

namespace v3d {

// A 2D overlay in pixel coordinates of the viewport (origin top-left, y
// down): rectangles, lines, images and strings in numbered layers, drawn in
// the foreground layer (lower layer numbers first, items of a layer in the
// order they were drawn) through a geometry node named "CanvasGeo".
//
// Images and the font's page are textures of the canvas's scene, so
// DrawImage and DrawString need the canvas to be in a scene. Not thread-safe
// (viewer data, LockGuard).
class Canvas : public Renderable {
 public:
  Canvas();
  ~Canvas() override;

  // Later drawing goes to this layer (0 by default).
  void SetLayer(std::int32_t layer) { m_layer = layer; }
  void ClearLayer(std::int32_t layer);
  void ClearAllLayers();

  void SetPenColor(const Color4ub& color) { m_penColor = color; }
  // Width of lines and outlines in pixels.
  void SetPenSize(float size) { m_penSize = size; }
  // Throws std::invalid_argument "v3d::Canvas::SetFontID - Invalid font ID."
  // unless id names a font of the canvas's scene.
  void SetFontID(std::int32_t id);
  std::int32_t GetFontID() const { return m_fontID; }

  // A rectangle with its top-left corner at (x, y), filled with the pen
  // colour or outlined with the pen size.
  void DrawRect(float x, float y, float width, float height, bool filled = true);
  void DrawLine(float x0, float y0, float x1, float y1);
  // The image stretched over the rectangle. Throws std::logic_error
  // "v3d::Canvas::DrawImage - Could not get pointer to scene." outside a scene.
  void DrawImage(float x, float y, float width, float height, const img::RGBImage& image);
  // A UTF-8 text with the top of its line at (x, y), in the pen colour.
  // Returns its width in pixels. Throws std::logic_error
  // "v3d::Canvas::DrawString - Could not get pointer to scene." or
  // "v3d::Canvas::DrawString - Could not get font.".
  float DrawString(float x, float y, const std::string& text);
  // The width and line height of a text in the canvas's font (0, 0 without one).
  void MeasureString(const std::string& text, float& width, float& height) const;

  void Render(const RenderPass& pass) override;
  // The geometry the canvas draws (rebuilt when the items changed).
  const Geo& GetGeo() const;

 private:
  enum class Kind { kColored, kImage, kText };
  struct Item {
    Kind kind = Kind::kColored;
    std::int32_t textureID = -1;
    std::vector<math::Vec3f> corners;  // quads, 4 corners each
    std::vector<math::Vec2f> texCoords;
    Color4ub color;
  };

  Scene* RequireScene(const char* method) const;
  void AddQuad(Item& item, float x0, float y0, float x1, float y1) const;
  void AddThickLine(Item& item, float x0, float y0, float x1, float y1) const;
  void Push(Item item);
  void Rebuild() const;
  void ReleaseImages(std::int32_t layer);

  std::int32_t m_layer = 0;
  Color4ub m_penColor{255, 255, 255, 255};
  float m_penSize = 1.f;
  std::int32_t m_fontID = -1;
  std::map<std::int32_t, std::vector<Item>> m_items;
  std::map<std::int32_t, std::vector<std::unique_ptr<Texture>>> m_images;
  mutable std::unique_ptr<Geo> m_geo;
  mutable bool m_dirty = true;
};

}  // namespace v3d
