#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "scan/SLPatternSequence.h"
#include "scan/SLSingleColorPattern.h"
#include "scan/SLStripePatterns.h"

namespace scan {
namespace {

using Bytes = std::array<std::uint8_t, 4>;

Bytes At(const SLRenderImage& image, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = image.Pixel(x, y);
  return {p[0], p[1], p[2], p[3]};
}

// The reflected binary Gray code of n.
std::uint32_t Gray(std::uint32_t n) { return n ^ (n >> 1); }

TEST(SLBinaryGrayCodePattern, LevelsShowTheBitsOfTheGrayCodeOfTheHalfPeriodIndex) {
  const auto sequence = MakeGrayCodeSequence(true, 1024, 600, false, 16);
  ASSERT_EQ(sequence->PatternCount(), 7u);  // ⌈log2(1024 / 8)⌉
  for (std::uint32_t level = 0; level < 7; ++level) {
    const auto& pattern = static_cast<const SLBinaryGrayCodePattern&>(*sequence->Patterns()[level]);
    EXPECT_EQ(pattern.Level(), level);
    for (std::uint32_t p = 0; p < 1024; ++p) {
      const std::uint32_t bit = (Gray(p / 8) >> (6 - level)) & 1;
      ASSERT_EQ(pattern.IntensityAt(p), (Bytes{std::uint8_t(255 * bit), std::uint8_t(255 * bit),
                                               std::uint8_t(255 * bit), 255}))
          << "level " << level << " p " << p;
    }
  }
  // The finest level changes every 8 pixels.
  const auto& finest = static_cast<const SLBinaryGrayCodePattern&>(*sequence->Patterns()[6]);
  EXPECT_EQ(finest.IntensityAt(7)[0], finest.IntensityAt(0)[0]);
  EXPECT_NE(finest.IntensityAt(8)[0], finest.IntensityAt(7)[0]);
}

TEST(SLBinaryGrayCodePattern, InverseIsTheExactComplement) {
  const auto normal = MakeGrayCodeSequence(false, 640, 480, false, 20);
  const auto inverse = MakeGrayCodeSequence(false, 640, 480, true, 20);
  ASSERT_EQ(normal->PatternCount(), inverse->PatternCount());
  for (std::uint32_t level = 0; level < normal->PatternCount(); ++level) {
    auto& a = static_cast<SLBinaryGrayCodePattern&>(*normal->Patterns()[level]);
    auto& b = static_cast<SLBinaryGrayCodePattern&>(*inverse->Patterns()[level]);
    a.SetBrightness(200);
    b.SetBrightness(200);
    for (std::uint32_t p = 0; p < 480; ++p) ASSERT_EQ(a.IntensityAt(p)[0] + b.IntensityAt(p)[0], 200);
  }
  EXPECT_THROW(SLBinaryGrayCodePattern(true, 16, 3, 0, 2), std::invalid_argument);
}

TEST(SLBinaryGrayCodePattern, ExtentWithinOnePeriodGivesOnePattern) {
  EXPECT_EQ(MakeGrayCodeSequence(true, 16, 100, false, 16)->PatternCount(), 1u);  // L = 1
  EXPECT_EQ(MakeGrayCodeSequence(true, 5, 100, false, 16)->PatternCount(), 1u);   // L < 0
  EXPECT_EQ(MakeGrayCodeSequence(true, 17, 100, false, 16)->PatternCount(), 2u);
}

TEST(SLSineWavePattern, ChannelsCarryThirdsOfALevel) {
  SLSineWavePattern sine(true, 16.0, 0.0);
  EXPECT_EQ(sine.IntensityAt(0), (Bytes{255, 255, 255, 255}));
  // p = 4 is a quarter period: c = 127.5 → red 127, green ⌊127.83⌋, blue ⌊128.17⌋.
  EXPECT_EQ(sine.IntensityAt(4), (Bytes{127, 127, 128, 255}));
  // Gamma 2 at a quarter period: 0.25 · 255 = 63.75.
  sine.SetGamma(2.0);
  EXPECT_EQ(sine.IntensityAt(4), (Bytes{63, 64, 64, 255}));
  sine.SetProjectorGamma(4.0);
  EXPECT_DOUBLE_EQ(sine.GetGamma(), 0.25);
}

TEST(SLSineWavePattern, PhaseShiftsTheStripesBackwards) {
  SLSineWavePattern shifted(true, 16.0, 0.25);
  SLSineWavePattern plain(true, 16.0, 0.0);
  for (std::uint32_t p = 0; p < 32; ++p) EXPECT_EQ(shifted.IntensityAt(p), plain.IntensityAt(p + 4));
}

TEST(SLAxisAlignedStripedPattern, RenderCopiesRowsAndColumnsAndAppliesTheMask) {
  SLSineWavePattern vertical(true, 10.0, 0.1);
  SLRenderImage image(23, 13);  // odd height: the doubling copy leaves a remainder
  image.SetColorChannelMaskToColorChannels(9);  // red and alpha
  vertical.Render(image);
  for (std::uint32_t y = 0; y < 13; ++y) {
    for (std::uint32_t x = 0; x < 23; ++x) {
      const Bytes rgba = vertical.IntensityAt(x);
      ASSERT_EQ(At(image, x, y), (Bytes{0, 0, rgba[0], 255})) << x << "," << y;
    }
  }
  SLSineWavePattern horizontal(false, 10.0, 0.1);
  image.SetColorChannelMaskToColorChannels(15);
  horizontal.Render(image);
  for (std::uint32_t y = 0; y < 13; ++y) {
    const Bytes rgba = horizontal.IntensityAt(y);
    for (std::uint32_t x = 0; x < 23; ++x) ASSERT_EQ(At(image, x, y), (Bytes{rgba[2], rgba[1], rgba[0], 255}));
  }
}

TEST(SLPSKPattern, SymbolIsTheModularGrayDigitOfItsLevel) {
  const std::uint32_t S = 3, L = 4;
  const double period = 12.0;
  for (std::uint32_t level = 0; level < L; ++level) {
    SLPSKPattern pattern(true, period, level, L, S, 0.0);
    for (std::uint32_t p = 0; p < 300; ++p) {
      // Digits of n = ⌊p / (period/2)⌋ in base S, level 0 most significant.
      const std::uint32_t n = p / 6;
      const std::uint32_t weight = static_cast<std::uint32_t>(std::pow(S, L - level - 1));
      const std::uint32_t digit = (n / weight) % S;
      const std::uint32_t above = level == 0 ? 0 : (n / (weight * S)) % S;
      ASSERT_EQ(pattern.SymbolAt(p), (digit + S - above) % S) << level << " " << p;
      const double c = 0.5 * std::cos(2 * std::numbers::pi * (p / period - double(pattern.SymbolAt(p)) / S)) + 0.5;
      ASSERT_EQ(pattern.IntensityAt(p)[0], std::uint8_t(int(255 * c)));
    }
  }
}

TEST(SLPSKPatternSequence, LevelsAndPhases) {
  // ⌈log(2·1920/16)/log 4 + 1⌉ = ⌈4.95⌉ = 5 levels; level 0 is left out.
  SLPSKPatternSequence two(true, 16, 1920, 1080, 4, 2);
  EXPECT_EQ(two.LevelCount(), 5u);
  ASSERT_EQ(two.PatternCount(), 8u);
  const auto& first = static_cast<const SLPSKPattern&>(*two.Patterns()[0]);
  const auto& second = static_cast<const SLPSKPattern&>(*two.Patterns()[1]);
  EXPECT_EQ(first.Level(), 1u);
  EXPECT_DOUBLE_EQ(first.Phase(), 0.0);
  EXPECT_DOUBLE_EQ(second.Phase(), 0.25);  // not 0.5
  SLPSKPatternSequence three(false, 16, 1920, 1080, 4, 3);
  EXPECT_DOUBLE_EQ(static_cast<const SLPSKPattern&>(*three.Patterns()[2]).Phase(), 2.0 / 3.0);
  // 2·8/16 = 1: log = 0, levelCount 1 < 2: empty.
  EXPECT_EQ(SLPSKPatternSequence(true, 16, 8, 8, 4, 2).PatternCount(), 0u);
}

TEST(SLSingleColorPattern, NamedColoursGammaAndMask) {
  auto red = SLSingleColorPattern::RedPattern();
  SLRenderImage image(3, 2);
  red->Render(image);
  EXPECT_EQ(At(image, 2, 1), (Bytes{0, 0, 255, 255}));
  auto grey = SLSingleColorPattern::GrayPattern(128);
  grey->SetGamma(2.0);
  grey->SetBrightness(200);
  // ⌊255·(128/255)²·200/255⌋ = ⌊50.40⌋
  EXPECT_EQ(grey->BGRA(), (Bytes{50, 50, 50, 255}));
  image.SetColorChannelMaskToColorChannels(10);  // green and alpha
  SLSingleColorPattern::WhitePattern()->Render(image);
  EXPECT_EQ(At(image, 0, 0), (Bytes{0, 255, 0, 255}));
  const auto colours = SLSingleColorPattern::ColorSequence();
  ASSERT_EQ(colours->PatternCount(), 4u);
  EXPECT_EQ(static_cast<SLSingleColorPattern&>(*colours->Patterns()[0]).BGRA(), (Bytes{0, 0, 0, 255}));
  EXPECT_EQ(static_cast<SLSingleColorPattern&>(*colours->Patterns()[3]).BGRA(), (Bytes{255, 0, 0, 255}));
}

TEST(SLSetupPattern, FrameCrossHairAndTiles) {
  SLSetupPattern setup(0.5);
  EXPECT_DOUBLE_EQ(setup.Scale(), 1.0);
  SLRenderImage image(101, 81);
  setup.Render(image);
  const Bytes white{255, 255, 255, 0};
  const Bytes black{0, 0, 0, 0};
  EXPECT_EQ(At(image, 0, 40), white);
  EXPECT_EQ(At(image, 99, 40), white);
  EXPECT_EQ(At(image, 30, 80), white);
  EXPECT_EQ(At(image, 50, 10), black);   // centre column
  EXPECT_EQ(At(image, 10, 40), black);   // centre row
  EXPECT_EQ(At(image, 10, 41), white);   // first white band (2 rows)
  EXPECT_EQ(At(image, 10, 42), white);
  EXPECT_EQ(At(image, 10, 43), black);   // then 2 black rows
  EXPECT_EQ(At(image, 10, 45), white);   // then 4 white rows
  EXPECT_EQ(At(image, 10, 36), black);   // 40 − 1 − 2 − 1
  // Tile (0, 1) (odd sum) varies along x with period 1: every value is cos(2πi) = 1.
  EXPECT_EQ(At(image, 7, 3), (Bytes{255, 255, 255, 0}));
  // Masked render keeps only blue.
  image.SetColorChannelMaskToColorChannels(4);
  setup.Render(image);
  EXPECT_EQ(At(image, 0, 40), (Bytes{255, 0, 0, 0}));
}

}  // namespace
}  // namespace scan
