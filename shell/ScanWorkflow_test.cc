#include "shell/ScanWorkflow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "scan/ImageFilter.h"
#include "scan/SLCodedLightScan.h"
#include "scan/SLPSKScan.h"
#include "shell/ScanSetup.h"
#include "shell/SettingPath.h"
#include "shell/VirtualRigScanner.h"
#include "sim/VirtualRig.h"

namespace shell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path ShareDir() { return TARVELIN_SHARE_DIR; }

fs::path TempFolder(const std::string& name) {
  const fs::path folder = fs::temp_directory_path() / ("ScanWorkflow_test_" + name + "_" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// A data root with the shipped schema and strings, its settings and language.
class ShellFixture : public testing::Test {
 protected:
  void SetUp() override {
    m_root = TempFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_root / "xaml");
    for (const char* file : {"Settings.xaml", "Strings_English.xaml"})
      fs::copy_file(ShareDir() / "xaml" / file, m_root / "xaml" / file);
    SettingsOptions options;
    options.root = m_root;
    options.computerName = "host";
    options.userName = "user";
    options.log = [this](const std::string& line) { m_logLines.push_back(line); };
    m_settings = std::make_unique<Settings>(options);
    std::string error;
    ASSERT_TRUE(m_language.LoadFromRoot(m_root, "English", error)) << error;
  }
  void TearDown() override {
    m_settings.reset();
    fs::remove_all(m_root);
  }

  template <class T>
  void Set(const char* titlePath, const T& value) {
    m_settings->GetSetting<T>(SettingPath(titlePath)).SetValue(value);
  }
  template <class T>
  T Get(const char* titlePath) {
    return m_settings->GetSetting<T>(SettingPath(titlePath)).Value();
  }

  fs::path m_root;
  std::vector<std::string> m_logLines;
  std::unique_ptr<Settings> m_settings;
  Language m_language{[](const std::string&) {}};
};

// --- Settings → scan definition and acquisition

TEST(ScanSetup, QualityLimitOfQualityCheck) {
  EXPECT_EQ(QualityLimit(1.0), 252);  // trunc(252.45)
  EXPECT_EQ(QualityLimit(1.02), 255);
  EXPECT_EQ(QualityLimit(3.0), 255);
  EXPECT_EQ(QualityLimit(0.0), 0);
  EXPECT_EQ(QualityLimit(-0.5), 0);
  EXPECT_EQ(QualityLimit(0.3), 75);  // trunc(75.735)
  EXPECT_EQ(QualityLimit(std::nan("")), 0);
}

TEST(ScanSetup, OrientationNames) {
  EXPECT_EQ(ScanOrientation("vertical"), 0);
  EXPECT_EQ(ScanOrientation("horizontal"), 1);
  EXPECT_EQ(ScanOrientation("both"), kBothOrientations);
  EXPECT_EQ(ScanOrientation("diagonal"), kBothOrientations);
}

TEST(ScanSetup, PatternColorMasks) {
  EXPECT_EQ(PatternColorMask("red"), 9u);
  EXPECT_EQ(PatternColorMask("green"), 10u);
  EXPECT_EQ(PatternColorMask("blue"), 12u);
  EXPECT_EQ(PatternColorMask("white"), 15u);
  EXPECT_EQ(PatternColorMask("Red"), 15u);
}

PatternSettings Coded() {
  PatternSettings s;
  s.patternMode = "coded";
  s.orientation = "both";
  return s;
}

TEST(ScanSetup, CodedLightBothOrientationsInOrderOneThenZero) {
  const auto definition = BuildScanDefinition(Coded(), 640, 480, false, false);
  const auto* coded = dynamic_cast<const scan::SLCodedLightScan*>(definition.get());
  ASSERT_NE(coded, nullptr);
  EXPECT_EQ(coded->ProjectorWidth(), 640u);
  EXPECT_EQ(coded->ProjectorHeight(), 480u);
  EXPECT_EQ(coded->ShiftCount(), 4u);
  EXPECT_EQ(coded->Period(), 16u);
  EXPECT_EQ(coded->MinContrast(), 5.0f);
  // Orientation 1 (projector columns) is shown first.
  const auto& first = definition->Sequences().front();
  const auto& one = coded->Orientation(1);
  EXPECT_TRUE(first == one.graySequence || first == one.phaseSequence || first == one.inverseGraySequence);
  ASSERT_TRUE(coded->Orientation(0).phaseSequence);
  EXPECT_EQ(definition->Sequences().back(), coded->Orientation(0).inverseGraySequence);
  EXPECT_FALSE(coded->TextureSequence());
}

TEST(ScanSetup, InverseModeIsInverted) {
  PatternSettings s = Coded();
  s.inverse = true;
  auto definition = BuildScanDefinition(s, 640, 480, false, false);
  EXPECT_EQ(dynamic_cast<scan::SLCodedLightScan&>(*definition).GrayThreshold(), 0u);  // against inverse patterns
  s.inverse = false;
  definition = BuildScanDefinition(s, 640, 480, false, false);
  EXPECT_EQ(dynamic_cast<scan::SLCodedLightScan&>(*definition).GrayThreshold(), 1u);  // against the mean
  EXPECT_FALSE(dynamic_cast<scan::SLCodedLightScan&>(*definition).Orientation(1).inverseGraySequence);
}

TEST(ScanSetup, PskSingleOrientationWithTexture) {
  PatternSettings s = Coded();
  s.patternMode = "psk";
  s.orientation = "vertical";
  s.symbolCount = 3;
  s.shiftsPerLevel = 2;
  s.minContrast = 7.0f;
  const auto plain = BuildScanDefinition(s, 800, 600, false, false);
  const auto textured = BuildScanDefinition(s, 800, 600, true, true);
  const auto* psk = dynamic_cast<const scan::SLPSKScan*>(textured.get());
  ASSERT_NE(psk, nullptr);
  EXPECT_EQ(psk->SymbolCount(), 3u);
  EXPECT_EQ(psk->ShiftsPerLevel(), 2u);
  EXPECT_EQ(psk->MinContrast(), 7.0f);
  EXPECT_TRUE(psk->Orientation(0).phaseSequence);
  EXPECT_FALSE(psk->Orientation(1).phaseSequence);
  ASSERT_TRUE(psk->TextureSequence());
  // The colour flag asks for one colour frame.
  EXPECT_EQ(textured->PatternCount(), plain->PatternCount() + 1);
  const auto grey = BuildScanDefinition(s, 800, 600, true, false);
  EXPECT_GT(grey->PatternCount(), textured->PatternCount());
}

TEST(ScanSetup, BrightnessAndGammaOnEveryPattern) {
  PatternSettings s = Coded();
  s.brightness = 200;
  s.projectorGamma = 2.5;
  const auto definition = BuildScanDefinition(s, 320, 240, true, false);
  for (const auto& pattern : definition->AllPatterns()) {
    EXPECT_EQ(pattern->GetBrightness(), 200);
    EXPECT_DOUBLE_EQ(pattern->GetGamma(), 1.0 / 2.5);
  }
}

TEST(ScanSetup, BadCountsAndSizesThrow) {
  PatternSettings s = Coded();
  EXPECT_THROW(BuildScanDefinition(s, 0, 480, false, false), std::invalid_argument);
  s.shifts = -4;
  EXPECT_THROW(BuildScanDefinition(s, 640, 480, false, false), std::invalid_argument);
}

using AcquisitionTest = ShellFixture;

TEST_F(AcquisitionTest, SyncModesAndSkipCount) {
  Set<double>("StructuredLight/Acquisition/MaxPatternHoldingTime", 1500.0);
  Set<double>("StructuredLight/Acquisition/MovementDetection/RestDuration", 250.0);
  Set<bool>("StructuredLight/Acquisition/MovementDetection/WaitForObjectRest", true);
  Set<double>("StructuredLight/Acquisition/ImageContentSensitivity", 80.0);
  Set<int>("StructuredLight/PatternParameters/NoiseReduction", 2);
  auto p = ReadAcquisitionParameters(*m_settings, false);
  EXPECT_DOUBLE_EQ(p.maxPatternHoldingTime, 1.5);
  EXPECT_DOUBLE_EQ(p.restDuration, 0.25);
  EXPECT_TRUE(p.waitForMotionFirst);
  EXPECT_EQ(p.imageContentSensitivity, 80);
  EXPECT_EQ(p.noiseReduction, 2);
  EXPECT_EQ(p.imageSkipCount, scan::ImageFilter::SuggestImageSkipCount(false));
  EXPECT_EQ(ReadAcquisitionParameters(*m_settings, true).imageSkipCount,
            scan::ImageFilter::SuggestImageSkipCount(true));

  Set<std::string>("StructuredLight/Acquisition/ImageSkipCount", "4");
  EXPECT_EQ(ReadAcquisitionParameters(*m_settings, true).imageSkipCount, 4);
  Set<std::string>("StructuredLight/Acquisition/ImageSkipCount", "many");
  EXPECT_EQ(ReadAcquisitionParameters(*m_settings, false).imageSkipCount,
            scan::ImageFilter::SuggestImageSkipCount(false));
  Set<std::string>("StructuredLight/Acquisition/ImageSkipCount", "4");

  Set<std::string>("StructuredLight/Acquisition/SyncMode", "FixedRate");
  p = ReadAcquisitionParameters(*m_settings, false);
  EXPECT_EQ(p.imageContentSensitivity, 0);
  EXPECT_EQ(p.imageSkipCount, 0);
  EXPECT_DOUBLE_EQ(p.maxPatternHoldingTime, 1.5);
  EXPECT_EQ(p.noiseReduction, 2);

  Set<std::string>("StructuredLight/Acquisition/SyncMode", "UseEveryImage");
  p = ReadAcquisitionParameters(*m_settings, false);
  EXPECT_EQ(p.imageContentSensitivity, 100);
  EXPECT_EQ(p.imageSkipCount, 0);
  EXPECT_EQ(p.noiseReduction, 0);
  EXPECT_EQ(p.maxPatternHoldingTime, 0.0);
  EXPECT_EQ(p.restDuration, 0.0);

  Set<std::string>("StructuredLight/Acquisition/SyncMode", "ImageContent");
  Set<bool>("StructuredLight/Acquisition/UseHardwareTrigger", true);
  p = ReadAcquisitionParameters(*m_settings, false);
  EXPECT_TRUE(p.useHardwareTrigger);
  EXPECT_EQ(p.imageSkipCount, 0);
}

TEST_F(AcquisitionTest, ResultMeshParametersFromSettings) {
  auto p = ResultMeshParameters::Read(*m_settings);
  // Schema defaults: CalibScale 60, DepthThresholdFactor 0.5, QualityCheck 0.3.
  EXPECT_FLOAT_EQ(p.maxDepthJump, 7.5f);
  EXPECT_FLOAT_EQ(p.planeDistanceScale, 1.5f);
  EXPECT_EQ(p.qualityLimit, 75);
  EXPECT_EQ(p.smoothIterations, 1);
  EXPECT_DOUBLE_EQ(p.minFragmentRatio, 0.01);
  EXPECT_EQ(p.minDepth, std::numeric_limits<double>::lowest());
  EXPECT_EQ(p.maxDepth, std::numeric_limits<double>::max());
  EXPECT_FALSE(p.removeCalibPlanes);

  Set<double>("StructuredLight/ResultFiltering/MinDepth", 300.0);
  Set<double>("StructuredLight/ResultFiltering/MaxDepth", 500.0);
  Set<double>("StructuredLight/ResultFiltering/QualityCheck", 1.0);
  Set<double>("Calibration/CalibScale", 100.0);
  Set<double>("Tesselation/DepthThresholdFactor", 0.2);
  p = ResultMeshParameters::Read(*m_settings);
  EXPECT_EQ(p.minDepth, 300.0);
  EXPECT_EQ(p.maxDepth, 500.0);
  EXPECT_EQ(p.qualityLimit, 252);
  EXPECT_FLOAT_EQ(p.maxDepthJump, 5.0f);
  EXPECT_FLOAT_EQ(p.planeDistanceScale, 2.5f);

  const auto b = p.ForBackgroundScan();
  EXPECT_EQ(b.smoothIterations, 2);
  EXPECT_EQ(b.qualityLimit, 25);
  EXPECT_DOUBLE_EQ(b.minFragmentRatio, 0.001);
  EXPECT_EQ(b.minDepth, std::numeric_limits<double>::lowest());
  EXPECT_EQ(b.maxDepth, std::numeric_limits<double>::max());
  EXPECT_FLOAT_EQ(b.maxDepthJump, 5.0f);
}

}  // namespace
}  // namespace shell
