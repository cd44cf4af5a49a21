#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "v3d/Object.h"
#include "v3d/Texture.h"

namespace v3d {

// One character of a bitmap font, in pixels of its page: the glyph's
// rectangle (x, y top-left, width, height), where it sits relative to the
// pen (xoffset right, yoffset down from the line's top) and how far the pen
// then moves.
struct Glyph {
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  std::int32_t xoffset = 0, yoffset = 0, xadvance = 0;
};

// A bitmap font of the scene: glyph metrics from a BMFont descriptor and its
// page image as an RGBA texture (white, coverage in alpha). The scene hands
// out its font ID (AddFont) and adds the page texture to its textures.
class Font : public Object {
 public:
  Font() = default;
  // Leaves its scene (its font ID stays unused).
  ~Font() override;

  std::int32_t GetFontID() const { return m_fontID; }
  // The page texture's slot in the scene, -1 before the font is added.
  std::int32_t GetTextureID() const;
  const std::string& GetName() const { return m_name; }
  void SetName(const std::string& name) { m_name = name; }

  std::int32_t GetLineHeight() const { return m_lineHeight; }
  std::int32_t GetBase() const { return m_base; }
  std::int32_t GetPageWidth() const { return m_pageWidth; }
  std::int32_t GetPageHeight() const { return m_pageHeight; }
  std::size_t GetNumGlyphs() const { return m_glyphs.size(); }
  // The glyph of a code point; characters the font lacks fall back to '?',
  // then to nothing (null).
  const Glyph* FindGlyph(std::uint32_t codePoint) const;
  // The width of a UTF-8 text in pixels (the sum of the advances).
  std::int32_t MeasureString(const std::string& text) const;
  Texture* GetTexture() const { return m_texture.get(); }

 private:
  friend class Scene;
  friend void Load(const std::filesystem::path& path, Font& font);

  std::int32_t m_fontID = -1;
  Scene* m_scene = nullptr;
  std::string m_name;
  std::int32_t m_lineHeight = 0, m_base = 0, m_pageWidth = 0, m_pageHeight = 0;
  std::map<std::uint32_t, Glyph> m_glyphs;
  std::unique_ptr<Texture> m_texture;
};

// Loads a BMFont text descriptor (".fnt") and its page image into font.
// Throws std::runtime_error: "v3d::Load - File extension is not supported."
// (another extension), "v3d::Load - Could not open file.", and
// "v3d::ParserFNT::LoadFNT - …" for broken contents, a missing page image
// or one without 4 channels ("… - Texture has wrong format."). The font is
// unchanged on failure.
void Load(const std::filesystem::path& path, Font& font);

// The code points of a UTF-8 text; a malformed byte becomes U+FFFD.
std::vector<std::uint32_t> DecodeUtf8(const std::string& text);

}  // namespace v3d
