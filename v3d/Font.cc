#include "v3d/Font.h"

#include <stb_image.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "v3d/Scene.h"

namespace v3d {
namespace {

[[noreturn]] void Fail(const std::string& text) {
  throw std::runtime_error("v3d::ParserFNT::LoadFNT - " + text);
}

// The key=value pairs of one descriptor line; values may be quoted.
std::unordered_map<std::string, std::string> ParsePairs(const std::string& line, std::string& tag) {
  std::unordered_map<std::string, std::string> pairs;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  };
  skipBlanks();
  const std::size_t tagStart = i;
  while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  tag = line.substr(tagStart, i - tagStart);
  while (true) {
    skipBlanks();
    if (i >= line.size()) break;
    const std::size_t keyStart = i;
    while (i < line.size() && line[i] != '=' && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const std::string key = line.substr(keyStart, i - keyStart);
    if (i >= line.size() || line[i] != '=') {
      pairs[key] = "";
      continue;
    }
    ++i;
    std::string value;
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string::npos) Fail("Unterminated quoted value of \"" + key + "\".");
      value = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      const std::size_t valueStart = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      value = line.substr(valueStart, i - valueStart);
    }
    pairs[key] = value;
  }
  return pairs;
}

std::int32_t ToInt(const std::unordered_map<std::string, std::string>& pairs, const std::string& key,
                   const std::string& tag, bool required = true) {
  const auto it = pairs.find(key);
  if (it == pairs.end()) {
    if (required) Fail("Line \"" + tag + "\" lacks \"" + key + "\".");
    return 0;
  }
  try {
    std::size_t used = 0;
    const long value = std::stol(it->second, &used);
    if (used != it->second.size() || value < -100000 || value > 100000) throw std::out_of_range(key);
    return static_cast<std::int32_t>(value);
  } catch (const std::exception&) {
    Fail("\"" + key + "\" of line \"" + tag + "\" is not a number: \"" + it->second + "\".");
  }
}

}  // namespace

Font::~Font() {
  if (m_scene) m_scene->ForgetFont(this);
}

std::int32_t Font::GetTextureID() const { return m_texture ? m_texture->GetTextureID() : -1; }

const Glyph* Font::FindGlyph(std::uint32_t codePoint) const {
  auto it = m_glyphs.find(codePoint);
  if (it == m_glyphs.end()) it = m_glyphs.find('?');
  return it == m_glyphs.end() ? nullptr : &it->second;
}

std::int32_t Font::MeasureString(const std::string& text) const {
  std::int32_t width = 0;
  for (std::uint32_t code : DecodeUtf8(text)) {
    if (const Glyph* glyph = FindGlyph(code)) width += glyph->xadvance;
  }
  return width;
}

std::vector<std::uint32_t> DecodeUtf8(const std::string& text) {
  std::vector<std::uint32_t> codes;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) {
      codes.push_back(0xFFFD);
      ++i;
      continue;
    }
    std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next >> 6) != 2) ok = false;
      code = (code << 6) | (next & 0x3F);
    }
    codes.push_back(ok ? code : 0xFFFD);
    i += ok ? extra + 1 : 1;
  }
  return codes;
}

void Load(const std::filesystem::path& path, Font& font) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".fnt") throw std::runtime_error("v3d::Load - File extension is not supported.");
  std::ifstream in(path);
  if (!in) throw std::runtime_error("v3d::Load - Could not open file.");

  bool haveCommon = false;
  std::int32_t lineHeight = 0, base = 0, scaleW = 0, scaleH = 0, declaredCount = -1;
  std::string pageFile, face;
  std::map<std::uint32_t, Glyph> glyphs;
  std::string line, tag;
  while (std::getline(in, line)) {
    if (line.find('\0') != std::string::npos) Fail("The file is not a text descriptor.");
    const auto pairs = ParsePairs(line, tag);
    if (tag == "info") {
      if (auto it = pairs.find("face"); it != pairs.end()) face = it->second;
    } else if (tag == "common") {
      lineHeight = ToInt(pairs, "lineHeight", tag);
      base = ToInt(pairs, "base", tag);
      scaleW = ToInt(pairs, "scaleW", tag);
      scaleH = ToInt(pairs, "scaleH", tag);
      if (lineHeight < 1 || scaleW < 1 || scaleH < 1) Fail("Line height and page size must be positive.");
      haveCommon = true;
    } else if (tag == "page") {
      if (ToInt(pairs, "id", tag) != 0) continue;  // one page is used
      const auto it = pairs.find("file");
      if (it == pairs.end() || it->second.empty()) Fail("Line \"page\" lacks \"file\".");
      pageFile = it->second;
    } else if (tag == "chars") {
      declaredCount = ToInt(pairs, "count", tag);
    } else if (tag == "char") {
      if (!haveCommon) Fail("A \"char\" line comes before the \"common\" line.");
      const std::int32_t id = ToInt(pairs, "id", tag);
      if (ToInt(pairs, "page", tag, false) != 0) continue;
      Glyph glyph{ToInt(pairs, "x", tag),       ToInt(pairs, "y", tag),       ToInt(pairs, "width", tag),
                  ToInt(pairs, "height", tag),  ToInt(pairs, "xoffset", tag), ToInt(pairs, "yoffset", tag),
                  ToInt(pairs, "xadvance", tag)};
      if (id < 0 || glyph.x < 0 || glyph.y < 0 || glyph.width < 0 || glyph.height < 0 ||
          glyph.x + glyph.width > scaleW || glyph.y + glyph.height > scaleH) {
        Fail("Character " + std::to_string(id) + " lies outside the page.");
      }
      glyphs[static_cast<std::uint32_t>(id)] = glyph;
    }
  }
  if (!haveCommon) Fail("The \"common\" line is missing.");
  if (pageFile.empty()) Fail("The \"page\" line is missing.");
  if (glyphs.empty()) Fail("The font has no characters.");
  if (declaredCount >= 0 && static_cast<std::size_t>(declaredCount) != glyphs.size()) {
    Fail("\"chars count\" says " + std::to_string(declaredCount) + " but " + std::to_string(glyphs.size()) +
         " characters were read.");
  }

  const std::filesystem::path pagePath = path.parent_path() / pageFile;
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load(pagePath.string().c_str(), &width, &height, &channels, 0);
  if (!pixels) Fail("Could not read the page image " + pagePath.string() + ".");
  std::unique_ptr<stbi_uc, void (*)(void*)> owned(pixels, stbi_image_free);
  if (channels != 4) throw std::runtime_error("v3d::ParserFNT::LoadFNT - Texture has wrong format.");
  if (width != scaleW || height != scaleH) {
    Fail("The page image is " + std::to_string(width) + " x " + std::to_string(height) + ", the descriptor says " +
         std::to_string(scaleW) + " x " + std::to_string(scaleH) + ".");
  }
  auto texture = std::make_unique<Texture>();
  texture->ChangeImage(width, height, gl::kRgba, gl::kUnsignedByte, pixels);

  if (font.m_texture && font.m_scene && font.m_texture->GetTextureID() >= 0) {
    font.m_scene->RemoveTexture(font.m_texture.get());
  }
  font.m_lineHeight = lineHeight;
  font.m_base = base;
  font.m_pageWidth = scaleW;
  font.m_pageHeight = scaleH;
  font.m_glyphs = std::move(glyphs);
  font.m_texture = std::move(texture);
  if (font.m_name.empty()) font.m_name = face;
  if (font.m_scene) font.m_scene->AddTexture(font.m_texture.get());
}

}  // namespace v3d
