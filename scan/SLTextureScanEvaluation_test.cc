#include <gtest/gtest.h>

#include "scan/SLSingleColorPattern.h"
#include "scan/SLTextureScanEvaluation.h"

namespace scan {
namespace {

img::UniImagePtr<img::uint8> Grey(std::uint8_t value) {
  auto image = std::make_shared<img::UniImage<img::uint8>>(2, 2);
  *image = value;
  return image;
}

TEST(SLTextureScanEvaluation, FourFramesMinusBlack) {
  const auto sequence = SLSingleColorPattern::ColorSequence();
  SLScannedImagesStore store;
  const std::uint8_t values[4] = {40, 30, 100, 250};  // black, red, green, blue
  for (int i = 0; i < 3; ++i) store.AddGrayImage(sequence->Patterns()[i], Grey(values[i]));
  SLTextureScanEvaluation texture(sequence);
  texture.Evaluate(store);
  EXPECT_FALSE(texture.GetTexture());  // capture cancelled after three frames
  store.AddGrayImage(sequence->Patterns()[3], Grey(values[3]));
  texture.Evaluate(store);
  ASSERT_TRUE(texture.GetTexture());
  EXPECT_EQ((*texture.GetTexture())(1, 1), img::RGB8::FromRGB(0, 60, 210));
}

TEST(SLTextureScanEvaluation, OneColourFrameIsCopied) {
  const auto sequence = MakeTextureSequence(1);
  SLScannedImagesStore store;
  SLTextureScanEvaluation texture(sequence);
  texture.Evaluate(store);
  EXPECT_FALSE(texture.GetTexture());
  auto frame = std::make_shared<img::UniImage<img::RGB8>>(3, 1);
  (*frame)(2, 0) = img::RGB8::FromRGB(1, 2, 3);
  store.AddColorImage(sequence->Patterns()[0], frame);
  texture.Evaluate(store);
  ASSERT_TRUE(texture.GetTexture());
  EXPECT_NE(texture.GetTexture(), frame);
  EXPECT_EQ((*texture.GetTexture())(2, 0), img::RGB8::FromRGB(1, 2, 3));
  // Two patterns: no texture.
  auto two = std::make_shared<SLPatternSequence>();
  two->AddPattern(SLSingleColorPattern::WhitePattern());
  two->AddPattern(SLSingleColorPattern::BlackPattern());
  SLTextureScanEvaluation none(two);
  none.Evaluate(store);
  EXPECT_FALSE(none.GetTexture());
}

TEST(WhiteBalance, ApplyKeepsTheHue) {
  img::UniImage<img::RGB8> image(1, 1);
  image.data[0] = img::RGB8::FromRGB(200, 100, 50);
  ApplyWhiteBalance(image, 2, 1, 1);
  EXPECT_EQ(image.data[0], img::RGB8::FromRGB(255, 63, 31));
}

TEST(WhiteBalance, GreyImageGivesEqualFactors) {
  img::UniImage<img::RGB8> image(40, 40);
  for (std::uint32_t y = 0; y < 40; ++y) {
    for (std::uint32_t x = 0; x < 40; ++x) {
      const auto v = std::uint8_t(50 + x + y);
      image(x, y) = img::RGB8::FromRGB(v, v, v);
    }
  }
  double r, g, b;
  ComputeWhiteBalanceParams(r, g, b, image);
  // Samples at x, y = 10, 15, 20, 25 (up to 29): the brightest is 50 + 25 + 25.
  EXPECT_DOUBLE_EQ(g, 254.0 / 100.0);
  EXPECT_DOUBLE_EQ(r, g);
  EXPECT_DOUBLE_EQ(b, g);
}

TEST(WhiteBalance, ChannelsAreEqualisedToGreenWithAGainLimit) {
  img::UniImage<img::RGB8> image(20, 20);
  image = img::RGB8::FromRGB(50, 100, 10);
  double r, g, b;
  ComputeWhiteBalanceParams(r, g, b, image);
  // gR = 2, gB = min(6, 10) = 6; s = 254 / max(100, 100, 60).
  EXPECT_DOUBLE_EQ(g, 2.54);
  EXPECT_DOUBLE_EQ(r, 2 * 2.54);
  EXPECT_DOUBLE_EQ(b, 6 * 2.54);
}

}  // namespace
}  // namespace scan
