// BMFont loading: the shipped font, and files that are not fonts.
#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "v3d/Font.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

namespace fs = std::filesystem;

const fs::path kShipped = fs::path(TARVELIN_SOURCE_SHARE_DIR) / "fonts" / "DejaVuSans-20.fnt";

class TempDir {
 public:
  TempDir() : m_path(fs::temp_directory_path() / ("tarvelin-font-" + std::to_string(::getpid()))) {
    fs::create_directories(m_path);
  }
  ~TempDir() { fs::remove_all(m_path); }
  fs::path operator/(const std::string& name) const { return m_path / name; }

 private:
  fs::path m_path;
};

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// A page of the given channel count, w × h, all bytes 255.
void WritePage(const fs::path& path, int w, int h, int channels) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * channels, 255);
  ASSERT_TRUE(stbi_write_png(path.string().c_str(), w, h, channels, pixels.data(), w * channels));
}

std::string Descriptor(const std::string& chars, const std::string& common = "lineHeight=12 base=10 scaleW=16 scaleH=16") {
  return "info face=\"Test\" size=10\ncommon " + common + " pages=1\npage id=0 file=\"page.png\"\n" + chars;
}

std::string ErrorOf(const fs::path& path) {
  Font font;
  try {
    Load(path, font);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(Font, LoadsTheShippedFont) {
  Font font;
  Load(kShipped, font);
  EXPECT_EQ(font.GetName(), "DejaVu Sans");
  EXPECT_EQ(font.GetLineHeight(), 24);
  EXPECT_EQ(font.GetNumGlyphs(), 98u);
  // The descriptor's own line for "A" gives the expected metrics.
  std::ifstream in(kShipped);
  std::string line;
  while (std::getline(in, line) && line.rfind("char id=65 ", 0) != 0) {
  }
  Glyph expected;
  ASSERT_EQ(std::sscanf(line.c_str(), "char id=65 x=%d y=%d width=%d height=%d xoffset=%d yoffset=%d xadvance=%d",
                        &expected.x, &expected.y, &expected.width, &expected.height, &expected.xoffset,
                        &expected.yoffset, &expected.xadvance),
            7)
      << line;
  const Glyph* a = font.FindGlyph('A');
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->x, expected.x);
  EXPECT_EQ(a->width, expected.width);
  EXPECT_EQ(a->xadvance, expected.xadvance);
  EXPECT_EQ(font.MeasureString("AA"), 2 * expected.xadvance);
  // Degree sign (two UTF-8 bytes) is a glyph; a character the font lacks falls back to '?'.
  EXPECT_NE(font.FindGlyph(0xB0), nullptr);
  EXPECT_EQ(font.FindGlyph(0x4E2D), font.FindGlyph('?'));
  ASSERT_NE(font.GetTexture(), nullptr);
  EXPECT_EQ(font.GetTexture()->GetFormat(), gl::kRgba);
  EXPECT_EQ(font.GetTexture()->GetWidth(), font.GetPageWidth());
  // A glyph's middle is covered (alpha), the page's corner is not.
  const auto& data = font.GetTexture()->GetData();
  const std::size_t mid = (static_cast<std::size_t>(a->y + a->height - 2) * font.GetPageWidth() + a->x + 1) * 4;
  EXPECT_GT(data[mid + 3], 0);

  // In a scene the page is a texture of the scene.
  Scene scene;
  const std::int32_t id = scene.AddFont(&font);
  EXPECT_EQ(scene.GetFont(id), &font);
  EXPECT_EQ(scene.GetTexture(font.GetTextureID()), font.GetTexture());
}

TEST(Font, Utf8Decoding) {
  EXPECT_EQ(DecodeUtf8("a\xC2\xB0"), (std::vector<std::uint32_t>{'a', 0xB0}));
  EXPECT_EQ(DecodeUtf8("\xE2\x82\xAC"), (std::vector<std::uint32_t>{0x20AC}));
  EXPECT_EQ(DecodeUtf8("\xC2"), (std::vector<std::uint32_t>{0xFFFD}));
  EXPECT_EQ(DecodeUtf8("\xFFz"), (std::vector<std::uint32_t>{0xFFFD, 'z'}));
}

TEST(Font, FilesThatAreNotFontsGiveTheirReason) {
  TempDir dir;
  WritePage(dir / "page.png", 16, 16, 4);
  EXPECT_EQ(ErrorOf(dir / "font.txt"), "v3d::Load - File extension is not supported.");
  EXPECT_EQ(ErrorOf(dir / "missing.fnt"), "v3d::Load - Could not open file.");

  const std::string glyph = "chars count=1\nchar id=65 x=0 y=0 width=8 height=8 xoffset=0 yoffset=0 xadvance=9 page=0\n";
  WriteText(dir / "good.fnt", Descriptor(glyph));
  EXPECT_EQ(ErrorOf(dir / "good.fnt"), "");
  WriteText(dir / "GOOD.FNT", Descriptor(glyph));
  EXPECT_EQ(ErrorOf(dir / "GOOD.FNT"), "");

  WritePage(dir / "rgb.png", 16, 16, 3);
  std::string text = Descriptor(glyph);
  text.replace(text.find("page.png"), 8, "rgb.png");
  WriteText(dir / "rgb.fnt", text);
  EXPECT_EQ(ErrorOf(dir / "rgb.fnt"), "v3d::ParserFNT::LoadFNT - Texture has wrong format.");

  const std::string prefix = "v3d::ParserFNT::LoadFNT - ";
  const std::pair<std::string, std::string> broken[] = {
      {Descriptor(glyph).substr(0, 30), "The \"common\" line is missing."},
      {Descriptor("chars count=0\n"), "The font has no characters."},
      {Descriptor(glyph, "lineHeight=x base=10 scaleW=16 scaleH=16"), "\"lineHeight\" of line \"common\" is not a number"},
      {Descriptor("char id=66 x=12 y=0 width=8 height=8 xoffset=0 yoffset=0 xadvance=9\n"), "Character 66 lies outside"},
      {Descriptor("chars count=2\n" + glyph.substr(glyph.find('\n') + 1)), "\"chars count\" says 2 but 1"},
      {Descriptor(glyph, "lineHeight=12 base=10 scaleW=32 scaleH=16"), "The page image is 16 x 16"},
      {"common lineHeight=12 base=10 scaleW=16 scaleH=16\npage id=0 file=\"none.png\"\n" + glyph, "Could not read the page image"},
      {"common lineHeight=12 base=10 scaleW=16 scaleH=16\npage id=0 file=\"page.png\n" + glyph, "Unterminated quoted value"},
      {std::string("common lineHeight=12\0\x01\x02", 23), "not a text descriptor"},
  };
  for (const auto& [contents, reason] : broken) {
    WriteText(dir / "broken.fnt", contents);
    const std::string error = ErrorOf(dir / "broken.fnt");
    EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
  // A font keeps what it had when a later load fails.
  Font font;
  Load(dir / "good.fnt", font);
  EXPECT_THROW(Load(dir / "broken.fnt", font), std::runtime_error);
  EXPECT_EQ(font.GetNumGlyphs(), 1u);
  EXPECT_EQ(font.FindGlyph('A')->xadvance, 9);
}

}  // namespace
}  // namespace v3d
