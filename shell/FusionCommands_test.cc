// The fusion page over six aligned turntable views of a lumpy blob.
#include "shell/FusionCommands.h"

#include <gtest/gtest.h>

#include <numbers>

#include "shell/testing/ShellFixture.h"
#include "surf/testing/SyntheticScans.h"

namespace shell {
namespace {

using math::Vec3d;
using testing::SettingPath;

class Fusion : public ::testing::Test {
 protected:
  Fusion()
      : m_root("FusionCommands_test"),
        m_settings(testing::MakeSettings(m_root)),
        m_language([](const std::string&) {}) {}

  // Six views of a blob of radius 30 mm, each at its true place.
  void AddViews() {
    surf::testing::ScanSpec spec;
    spec.samplesAround = 120;
    spec.viewDirection = Vec3d{1.0, 0.0, 0.6}.GetNormalized();
    auto views = surf::testing::MakeTurntableScans(m_blob, spec, 6, std::numbers::pi / 3, {0, 0, 1}, {0, 0, 0});
    for (std::size_t k = 0; k < views.scans.size(); ++k) {
      const int index = m_fusion.AddGeo(surf::GeoItem{std::shared_ptr<v3d::Geo>(std::move(views.scans[k])), {}});
      m_fusion.SetGeoFrame(index, views.truth[k].GetInverse());
    }
  }
  void Set(const std::string& key, const std::string& value) {
    m_settings->SetValue(m_settings->FindSettingElement(SettingPath("ShapeFusion/Fusion", key)), value);
  }
  template <class T>
  T Get(const std::string& key) {
    return m_settings->GetSetting<T>(SettingPath("ShapeFusion/Fusion", key)).Value();
  }
  std::unique_ptr<FusionCommands> MakeCommands() {
    return std::make_unique<FusionCommands>(*m_settings, m_language, m_fusion, m_progress,
                                            [this](const std::string& line) { m_log.push_back(line); });
  }
  std::size_t ResultTriangles() const { return m_fusion.GetGeo(-1)->GetMesh(0)->GetPrims().size() / 3; }

  testing::TemporaryRoot m_root;
  std::unique_ptr<Settings> m_settings;
  Language m_language;
  ProgressReporter m_progress;
  surf::ShapeFusion m_fusion;
  const surf::testing::LumpyBlob m_blob{30.0, 8, 7};
  std::vector<std::string> m_log;
};

TEST_F(Fusion, ParametersComeFromTheSettings) {
  const auto commands = MakeCommands();
  Set("Sharpness", "-3");
  Set("CloseHolesRelSizePercent", "50");
  Set("Resolution", "256");
  FusionParameters p = commands->ReadFusionParameters();
  EXPECT_EQ(p.resolution, 256);
  EXPECT_FLOAT_EQ(p.holeClosingSize, 0.5f);
  EXPECT_EQ(p.sharpnessWeight, 0.f);
  EXPECT_EQ(p.smoothingPasses, 8);
  EXPECT_EQ(p.resultName, "_l10n_FusionResult_DefaultName_n01l_");
  Set("Sharpness", "4");
  p = commands->ReadFusionParameters();
  EXPECT_EQ(p.sharpnessWeight, 2.f);
  EXPECT_EQ(p.smoothingPasses, 0);
}

TEST_F(Fusion, TheHoleClosingStepSetsThePercentage) {
  const auto commands = MakeCommands();
  Set("CloseHolesRelSizeStep", "9");
  EXPECT_EQ(Get<float>("CloseHolesRelSizePercent"), 100.f);
  Set("CloseHolesRelSizeStep", "-1");
  EXPECT_EQ(Get<float>("CloseHolesRelSizePercent"), 0.f);
  Set("CloseHolesRelSizeStep", "3");
  EXPECT_EQ(Get<float>("CloseHolesRelSizePercent"), 1.f);
}

TEST_F(Fusion, VertexSpacingFollowsTheResolution) {
  auto commands = MakeCommands();
  EXPECT_EQ(Get<std::string>("VertexSpacing"), "");  // no scans
  commands.reset();
  AddViews();
  Set("Resolution", "64");
  commands = MakeCommands();  // fills the text at once
  const double v64 = m_fusion.CalculateFusionVoxelSize(64, true);
  // The blob (radius 30 mm with bumps) spans 60–80 mm: a 64-cell grid has
  // cells of about a millimetre.
  EXPECT_GT(v64, 60.0 / 64 * 0.9);
  EXPECT_LT(v64, 80.0 / 64 * 1.5);
  EXPECT_EQ(Get<std::string>("VertexSpacing"), FormatVertexSpacingText(v64, m_language));
  Set("Resolution", "128");
  const double v128 = m_fusion.CalculateFusionVoxelSize(128, true);
  EXPECT_NEAR(v128, v64 / 2, v64 * 0.05);
  EXPECT_EQ(Get<std::string>("VertexSpacing"), FormatVertexSpacingText(v128, m_language));
  Set("Resolution", "2");  // refused by fusion
  EXPECT_EQ(Get<std::string>("VertexSpacing"), "");
}

TEST_F(Fusion, ABackgroundFusionMakesTheResultAndStepsFilterIt) {
  AddViews();
  Set("Resolution", "32");
  const auto commands = MakeCommands();
  Set("CloseHolesRelSizeStep", "6");  // nothing to filter yet; fuses with 100 %
  EXPECT_EQ(commands->ReadFusionParameters().holeClosingSize, 1.f);
  EXPECT_EQ(commands->GetResult(), -1);
  ASSERT_TRUE(commands->StartFusion_Async());
  EXPECT_TRUE(m_progress.IsBusy());
  EXPECT_FALSE(commands->StartFusion_Async());
  commands->Wait();
  EXPECT_TRUE(commands->Poll());
  EXPECT_FALSE(commands->Poll());
  EXPECT_FALSE(m_progress.IsBusy());
  ASSERT_NE(m_fusion.GetGeo(-1), nullptr);
  EXPECT_EQ(commands->GetResult(), m_fusion.GeoIndex2NodeID(-1));
  EXPECT_GE(commands->GetResult(), 0);
  EXPECT_EQ(m_fusion.GetGeo(-1)->GetName(), "_l10n_FusionResult_DefaultName_n01l_");
  EXPECT_TRUE(m_settings->GetSetting<bool>(SettingPath("ShapeFusion/Status", "IsFusionAvailable")).Value());

  // Step 6 (100 %) keeps every triangle; step 0 drops the unsupported ones
  // (the closed bottom the views never saw).
  const std::size_t all = m_fusion.GetUnfilteredFusionTriangles().size() / 3;
  EXPECT_EQ(ResultTriangles(), all);
  Set("CloseHolesRelSizeStep", "0");
  EXPECT_LT(ResultTriangles(), all);
  EXPECT_GT(ResultTriangles(), all / 2);
  Set("CloseHolesRelSizeStep", "7");
  EXPECT_EQ(ResultTriangles(), all);
}

TEST_F(Fusion, ACancelledFusionHasNoResult) {
  AddViews();
  Set("Resolution", "64");
  const auto commands = MakeCommands();
  m_progress.RequestCancel();
  ASSERT_TRUE(commands->StartFusion_Async());
  commands->Wait();
  EXPECT_TRUE(commands->Poll());
  EXPECT_EQ(commands->GetResult(), -1);
  EXPECT_EQ(m_fusion.GetGeo(-1), nullptr);
  EXPECT_FALSE(m_settings->GetSetting<bool>(SettingPath("ShapeFusion/Status", "IsFusionAvailable")).Value());
}

}  // namespace
}  // namespace shell
