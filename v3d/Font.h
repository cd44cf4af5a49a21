#pragma once

#include <cstdint>
#include <string>

#include "v3d/Object.h"

namespace v3d {

// A bitmap font of the scene. The scene hands out its font ID (AddFont);
// the glyph texture is a texture of the scene. The font file loader and
// the glyph metrics belong to the display.
class Font : public Object {
 public:
  Font() = default;
  // Leaves its scene (its font ID stays unused).
  ~Font() override;

  std::int32_t GetFontID() const { return m_fontID; }
  std::int32_t GetTextureID() const { return m_textureID; }
  void SetTextureID(std::int32_t id) { m_textureID = id < 0 ? -1 : id; }
  const std::string& GetName() const { return m_name; }
  void SetName(const std::string& name) { m_name = name; }

 private:
  friend class Scene;
  std::int32_t m_fontID = -1;
  Scene* m_scene = nullptr;
  std::int32_t m_textureID = -1;
  std::string m_name;
};

}  // namespace v3d
