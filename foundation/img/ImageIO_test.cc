#include "foundation/img/ImageIO.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <fstream>

namespace img {
namespace {

class ImageIOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            ("tarvelin_imageio_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::filesystem::path WritePng(const std::string& name, int w, int h, int channels,
                                 const std::vector<unsigned char>& pixels) {
    const auto path = m_dir / name;
    EXPECT_TRUE(stbi_write_png(path.c_str(), w, h, channels, pixels.data(), w * channels));
    return path;
  }
  std::filesystem::path WriteBytes(const std::string& name, const std::string& bytes) {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::filesystem::path m_dir;
};

TEST_F(ImageIOTest, GreyFromColourAveragesWithTruncation) {
  const auto path = WritePng("rgb.png", 2, 1, 3, {255, 0, 1, 10, 20, 31});
  UniImage<uint8> grey;
  ASSERT_TRUE(LoadUniImage(grey, path));
  EXPECT_EQ(grey.width, 2u);
  EXPECT_EQ(grey(0, 0), 85);  // (255 + 0 + 1) / 3
  EXPECT_EQ(grey(1, 0), 20);  // 61 / 3
}

TEST_F(ImageIOTest, ColourLoadStoresBlueGreenRedAndDropsAlpha) {
  const auto rgba = WritePng("rgba.png", 1, 1, 4, {11, 22, 33, 128});
  UniImage<RGB8> colour;
  ASSERT_TRUE(LoadUniImage(colour, rgba));
  EXPECT_EQ(colour(0, 0), RGB8::FromRGB(11, 22, 33));
  const auto grey = WritePng("grey.png", 2, 1, 1, {7, 200});
  ASSERT_TRUE(LoadUniImage(colour, grey));
  EXPECT_EQ(colour(1, 0), RGB8::FromRGB(200, 200, 200));
}

TEST_F(ImageIOTest, GreyAlphaMissingEmptyAndCorruptFilesLeaveTheImageUnchanged) {
  UniImage<uint8> image(1, 1);
  image = 42;
  UniImage<RGB8> colour(1, 1);
  const auto ga = WritePng("ga.png", 1, 1, 2, {1, 2});
  std::string png;
  {
    std::ifstream in(WritePng("ok.png", 4, 4, 1, std::vector<unsigned char>(16, 9)), std::ios::binary);
    png.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::vector<std::filesystem::path> bad = {
      ga, m_dir / "missing.png", WriteBytes("empty.png", ""), WriteBytes("garbage.png", "not an image at all"),
      WriteBytes("truncated.png", png.substr(0, png.size() / 2)), m_dir};
  for (const auto& path : bad) {
    EXPECT_FALSE(LoadUniImage(image, path)) << path;
    EXPECT_FALSE(LoadUniImage(colour, path)) << path;
    EXPECT_EQ(image.width, 1u);
    EXPECT_EQ(image(0, 0), 42);
  }
}

TEST_F(ImageIOTest, SavedImagesLoadBackExactlyForLosslessFormats) {
  UniImage<uint8> grey(5, 3);
  for (int i = 0; i < grey.size; ++i) grey.data[i] = static_cast<uint8>(i * 17);
  UniImage<RGB8> colour(3, 2);
  for (int i = 0; i < colour.size; ++i) colour.data[i] = RGB8::FromRGB(i * 40, 255 - i, i);

  UniImage<uint8> g2;
  ASSERT_TRUE(SaveBMP(grey, m_dir / "g.bmp"));
  ASSERT_TRUE(LoadUniImage(g2, m_dir / "g.bmp"));
  EXPECT_EQ(std::vector<uint8>(g2.data, g2.data + g2.size), std::vector<uint8>(grey.data, grey.data + grey.size));
  ASSERT_TRUE(SavePNG(grey, m_dir / "g.png"));
  ASSERT_TRUE(LoadUniImage(g2, m_dir / "g.png"));
  EXPECT_EQ(g2(4, 2), grey(4, 2));

  UniImage<RGB8> c2;
  ASSERT_TRUE(SavePNG(colour, m_dir / "c.png"));
  ASSERT_TRUE(LoadUniImage(c2, m_dir / "c.png"));
  for (int i = 0; i < colour.size; ++i) EXPECT_EQ(c2.data[i], colour.data[i]);

  UniImage<RGB8> flat(16, 16);
  flat = RGB8::FromRGB(200, 100, 50);
  ASSERT_TRUE(SaveJPEG(flat, m_dir / "c.jpg", 95));
  ASSERT_TRUE(LoadUniImage(c2, m_dir / "c.jpg"));
  EXPECT_NEAR(c2(8, 8).r, 200, 3);
  EXPECT_NEAR(c2(8, 8).b, 50, 3);
}

TEST_F(ImageIOTest, SavingFailsForUnwritablePathsAndEmptyImages) {
  UniImage<uint8> grey(2, 2);
  grey = 1;
  EXPECT_FALSE(SavePNG(grey, m_dir / "no" / "such" / "dir.png"));
  EXPECT_FALSE(SaveBMP(UniImage<uint8>(), m_dir / "empty.bmp"));
  EXPECT_FALSE(std::filesystem::exists(m_dir / "empty.bmp"));
}

TEST(ConvertImageRGBToGray, EveryModeOnAHandWorkedPixel) {
  UniImage<RGB8> c(1, 1);
  c(0, 0) = RGB8::FromRGB(100, 50, 255);
  EXPECT_EQ(ConvertImageRGBToGray(c, 0)(0, 0), 135);  // 405 / 3
  EXPECT_EQ(ConvertImageRGBToGray(c, 1)(0, 0), 100);
  EXPECT_EQ(ConvertImageRGBToGray(c, 2)(0, 0), 50);
  EXPECT_EQ(ConvertImageRGBToGray(c, 3)(0, 0), 255);
  EXPECT_EQ(ConvertImageRGBToGray(c, 4)(0, 0), 85);  // 30 + 30 + 25.5 truncated
  EXPECT_EQ(ConvertImageRGBToGray(c, 9)(0, 0), 135);
}

}  // namespace
}  // namespace img
