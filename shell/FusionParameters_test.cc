#include "shell/FusionParameters.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "shell/Language.h"

namespace shell {
namespace {

TEST(FusionParameters, SharpnessGivesTheWeightOrSmoothingPasses) {
  EXPECT_EQ(ComputeSharpnessWeight(-3), 0.f);
  EXPECT_EQ(ComputeSmoothingPasses(-3), 8);
  EXPECT_EQ(ComputeSharpnessWeight(4), 2.f);
  EXPECT_EQ(ComputeSmoothingPasses(4), 0);
  EXPECT_EQ(ComputeSharpnessWeight(0), 0.f);
  EXPECT_EQ(ComputeSmoothingPasses(0), 0);
  EXPECT_EQ(ComputeSmoothingPasses(-1), 2);
  EXPECT_EQ(ComputeSharpnessWeight(1), 0.5f);
  // A far negative setting saturates instead of shifting out of range.
  EXPECT_EQ(ComputeSmoothingPasses(-30), 1 << 30);
  EXPECT_EQ(ComputeSmoothingPasses(-1000), 1 << 30);
}

TEST(FusionParameters, HoleClosingStepsClampToTheTable) {
  const float table[7] = {0.f, 0.01f, 0.1f, 1.f, 10.f, 50.f, 100.f};
  for (int step = 0; step < 7; ++step) EXPECT_EQ(CloseHolesPercentForStep(step), table[step]) << step;
  EXPECT_EQ(ClampCloseHolesStep(9), 6);
  EXPECT_EQ(CloseHolesPercentForStep(9), 100.f);
  EXPECT_EQ(ClampCloseHolesStep(-1), 0);
  EXPECT_EQ(CloseHolesPercentForStep(-1), 0.f);
  EXPECT_EQ(CloseHolesPercentForStep(7), 100.f);
}

TEST(FusionParameters, VertexSpacingTextHasThreeSignificantFigures) {
  const Language keys([](const std::string&) {});
  EXPECT_EQ(FormatVertexSpacingText(0.123456, keys), "--> _l10n_ShapeFusion_VertexSpacing_n01l_: 0.123 mm");
  EXPECT_EQ(FormatVertexSpacingText(1.23456, keys), "--> _l10n_ShapeFusion_VertexSpacing_n01l_: 1.23 mm");
  EXPECT_EQ(FormatVertexSpacingText(0.0998765, keys), "--> _l10n_ShapeFusion_VertexSpacing_n01l_: 0.0999 mm");
  EXPECT_EQ(FormatVertexSpacingText(123.456, keys), "--> _l10n_ShapeFusion_VertexSpacing_n01l_: 123 mm");
  EXPECT_EQ(FormatVertexSpacingText(0.0, keys), "");
  EXPECT_EQ(FormatVertexSpacingText(-0.5, keys), "");
  Language english([](const std::string&) {});
  std::string error;
  ASSERT_TRUE(english.Load(std::filesystem::path(TARVELIN_SHARE_DIR) / "xaml" / "Strings_English.xaml", error))
      << error;
  EXPECT_EQ(FormatVertexSpacingText(0.5, english), "--> Vertex spacing: 0.5 mm");
}

}  // namespace
}  // namespace shell
