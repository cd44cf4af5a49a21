#include "v3d/Canvas.h"

#include <cmath>
#include <stdexcept>

#include "v3d/Display.h"
#include "v3d/Scene.h"
#include "v3d/ViewState.h"

namespace v3d {

Canvas::Canvas() : Renderable("Canvas"), m_geo(std::make_unique<Geo>()) {
  SetRenderLayer(kLayerForeground);
  m_geo->SetName("CanvasGeo");
  m_geo->SetRenderLayer(kLayerForeground);
}

Canvas::~Canvas() {
  for (auto& [layer, textures] : m_images) {
    for (auto& texture : textures) {
      if (Scene* scene = GetScene(); scene && texture->GetTextureID() >= 0) scene->RemoveTexture(texture.get());
    }
  }
}

Scene* Canvas::RequireScene(const char* method) const {
  Scene* scene = GetScene();
  if (!scene) throw std::logic_error(std::string("v3d::Canvas::") + method + " - Could not get pointer to scene.");
  return scene;
}

void Canvas::SetFontID(std::int32_t id) {
  if (!GetScene() || !GetScene()->GetFont(id)) {
    throw std::invalid_argument("v3d::Canvas::SetFontID - Invalid font ID.");
  }
  m_fontID = id;
}

void Canvas::ReleaseImages(std::int32_t layer) {
  const auto it = m_images.find(layer);
  if (it == m_images.end()) return;
  for (auto& texture : it->second) {
    if (Scene* scene = GetScene(); scene && texture->GetTextureID() >= 0) scene->RemoveTexture(texture.get());
  }
  m_images.erase(it);
}

void Canvas::ClearLayer(std::int32_t layer) {
  if (m_items.erase(layer)) m_dirty = true;
  ReleaseImages(layer);
}

void Canvas::ClearAllLayers() {
  while (!m_images.empty()) ReleaseImages(m_images.begin()->first);
  m_items.clear();
  m_dirty = true;
}

void Canvas::AddQuad(Item& item, float x0, float y0, float x1, float y1) const {
  item.corners.insert(item.corners.end(), {{x0, y0, 0.f}, {x1, y0, 0.f}, {x1, y1, 0.f}, {x0, y1, 0.f}});
}

void Canvas::AddThickLine(Item& item, float x0, float y0, float x1, float y1) const {
  const float dx = x1 - x0, dy = y1 - y0;
  const float length = std::hypot(dx, dy);
  const float half = std::max(m_penSize, 1.f) * 0.5f;
  // Unit normal times half the pen size; a zero-length line becomes a dot.
  const float nx = length > 0.f ? -dy / length * half : 0.f, ny = length > 0.f ? dx / length * half : half;
  const float ex = length > 0.f ? dx / length * half : half, ey = length > 0.f ? dy / length * half : 0.f;
  item.corners.insert(item.corners.end(), {{x0 - ex + nx, y0 - ey + ny, 0.f},
                                           {x1 + ex + nx, y1 + ey + ny, 0.f},
                                           {x1 + ex - nx, y1 + ey - ny, 0.f},
                                           {x0 - ex - nx, y0 - ey - ny, 0.f}});
}

void Canvas::Push(Item item) {
  item.color = m_penColor;
  m_items[m_layer].push_back(std::move(item));
  m_dirty = true;
  if (Scene* scene = GetScene()) scene->Redraw();
}

void Canvas::DrawRect(float x, float y, float width, float height, bool filled) {
  Item item;
  if (filled) {
    AddQuad(item, x, y, x + width, y + height);
  } else {
    AddThickLine(item, x, y, x + width, y);
    AddThickLine(item, x + width, y, x + width, y + height);
    AddThickLine(item, x + width, y + height, x, y + height);
    AddThickLine(item, x, y + height, x, y);
  }
  Push(std::move(item));
}

void Canvas::DrawLine(float x0, float y0, float x1, float y1) {
  Item item;
  AddThickLine(item, x0, y0, x1, y1);
  Push(std::move(item));
}

void Canvas::DrawImage(float x, float y, float width, float height, const img::RGBImage& image) {
  Scene* scene = RequireScene("DrawImage");
  auto texture = std::make_unique<Texture>();
  texture->SetImage(image);
  const std::int32_t id = scene->AddTexture(texture.get());
  if (id < 0) return;  // the scene's texture table is full
  Item item;
  item.kind = Kind::kImage;
  item.textureID = id;
  AddQuad(item, x, y, x + width, y + height);
  item.texCoords = {{0.f, 0.f}, {1.f, 0.f}, {1.f, 1.f}, {0.f, 1.f}};
  const Color4ub pen = m_penColor;
  m_penColor = Color4ub(255, 255, 255, 255);
  Push(std::move(item));
  m_penColor = pen;
  m_images[m_layer].push_back(std::move(texture));
}

float Canvas::DrawString(float x, float y, const std::string& text) {
  Scene* scene = RequireScene("DrawString");
  Font* font = scene->GetFont(m_fontID);
  if (!font || font->GetTextureID() < 0 || font->GetNumGlyphs() == 0) {
    throw std::logic_error("v3d::Canvas::DrawString - Could not get font.");
  }
  Item item;
  item.kind = Kind::kText;
  item.textureID = font->GetTextureID();
  const float pageW = static_cast<float>(font->GetPageWidth()), pageH = static_cast<float>(font->GetPageHeight());
  float pen = x;
  for (std::uint32_t code : DecodeUtf8(text)) {
    const Glyph* glyph = font->FindGlyph(code);
    if (!glyph) continue;
    if (glyph->width > 0 && glyph->height > 0) {
      const float x0 = std::round(pen) + glyph->xoffset, y0 = std::round(y) + glyph->yoffset;
      AddQuad(item, x0, y0, x0 + glyph->width, y0 + glyph->height);
      const float u0 = glyph->x / pageW, v0 = glyph->y / pageH;
      const float u1 = (glyph->x + glyph->width) / pageW, v1 = (glyph->y + glyph->height) / pageH;
      item.texCoords.insert(item.texCoords.end(), {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}});
    }
    pen += glyph->xadvance;
  }
  if (!item.corners.empty()) Push(std::move(item));
  return pen - x;
}

void Canvas::MeasureString(const std::string& text, float& width, float& height) const {
  width = height = 0.f;
  const Font* font = GetScene() ? GetScene()->GetFont(m_fontID) : nullptr;
  if (!font) return;
  width = static_cast<float>(font->MeasureString(text));
  height = static_cast<float>(font->GetLineHeight());
}

// One mesh per run of items of the same kind and texture, in drawing order.
void Canvas::Rebuild() const {
  m_geo->Clear();
  Mesh* mesh = nullptr;
  Kind kind = Kind::kColored;
  std::int32_t textureID = -1;
  for (const auto& [layer, items] : m_items) {
    for (const Item& item : items) {
      if (!mesh || item.kind != kind || item.textureID != textureID) {
        mesh = m_geo->AddMesh(4);
        mesh->AddVertexColors();
        if (item.kind != Kind::kColored) mesh->AddVertexTexCoords();
        mesh->SetTextureID(item.textureID);
        kind = item.kind;
        textureID = item.textureID;
      }
      for (std::size_t i = 0; i < item.corners.size(); ++i) {
        const std::uint32_t v = mesh->AddVertex(item.corners[i]);
        mesh->SetVertexColor(item.color, v);
        if (!item.texCoords.empty()) mesh->mGetVertexTexCoords()[v] = item.texCoords[i];
        if (i % 4 == 3) {
          auto& prims = mesh->mGetPrims();
          prims.insert(prims.end(), {v - 3, v - 2, v - 1, v});
        }
      }
    }
  }
  m_dirty = false;
}

const Geo& Canvas::GetGeo() const {
  if (m_dirty) Rebuild();
  return *m_geo;
}

void Canvas::Render(const RenderPass& pass) {
  if (!pass.display || pass.layer != GetRenderLayer() || (GetVisibility() & pass.visibilityMask) == 0) return;
  const std::uint32_t flags = GetEffectiveRenderFlags(pass.flags) | kRenderFlagNoLighting | kRenderFlagNoDepthTest;
  pass.display->DrawGeo(GetGeo(), {flags & ~(kRenderFlagWireframe | kRenderFlagPoints | kRenderFlagFlat), 1.f});
}

}  // namespace v3d
