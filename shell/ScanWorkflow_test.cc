#include "shell/ScanWorkflow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "scan/ImageFilter.h"
#include "scan/SLCodedLightScan.h"
#include "cam/CameraModelTsai.h"
#include "scan/SLPSKScan.h"
#include "scan/SLSingleColorPattern.h"
#include "shell/ScanSetup.h"
#include "shell/SettingPath.h"
#include "shell/testing/ShellFixture.h"
#include "shell/VirtualRigScanner.h"
#include "sim/VirtualRig.h"

namespace shell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path ShareDir() { return TARVELIN_SHARE_DIR; }

// A data root with the shipped schema and strings, its settings and language.
class ShellFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(ShareDir() / "xaml" / "Strings_English.xaml", m_root / "xaml" / "Strings_English.xaml");
    SettingsOptions options;
    options.root = m_root;
    options.computerName = "host";
    options.userName = "user";
    options.log = [this](const std::string& line) { m_logLines.push_back(line); };
    m_settings = std::make_unique<Settings>(options);
    std::string error;
    ASSERT_TRUE(m_language.LoadFromRoot(m_root, "English", error)) << error;
  }
  void TearDown() override { m_settings.reset(); }

  template <class T>
  void Set(const char* titlePath, const T& value) {
    m_settings->GetSetting<T>(SettingPath(titlePath)).SetValue(value);
  }
  template <class T>
  T Get(const char* titlePath) {
    return m_settings->GetSetting<T>(SettingPath(titlePath)).Value();
  }

  testing::TemporaryRoot m_folder{"ScanWorkflow_test"};
  const fs::path m_root = m_folder.GetPath();
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

// --- The pattern window

// A display that renders what it is shown into a frame buffer.
class RenderingDisplay : public scan::SLPatternDisplay {
 public:
  std::vector<double> DisplayPatterns(const utils::ProgressCallback&,
                                      const std::vector<scan::SLPatternPtr>& patterns) override {
    for (const auto& pattern : patterns) pattern->Render(frame);
    return std::vector<double>(patterns.size(), 0.0);
  }
  bool DisplaySetupPattern() override { return ++setupShown > 0; }
  scan::SLRenderImage frame{4, 3};
  int setupShown = 0;
};

TEST(PatternWindow, ColourMaskReachesTheProjector) {
  auto display = std::make_shared<RenderingDisplay>();
  int raised = 0;
  MaskedPatternWindow window(display, 800, 600, [&] { ++raised; });
  EXPECT_EQ(window.GetWidth(), 800u);
  EXPECT_EQ(window.GetHeight(), 600u);
  const auto white = std::make_shared<scan::SLSingleColorPattern>(200, 150, 100);
  auto shownBytes = [&](std::uint32_t mask) {
    window.SetColorMask(mask);
    window.GetPatternDisplay()->DisplayPatterns({}, {white});
    const std::uint8_t* p = display->frame.Pixel(2, 1);
    return std::array<int, 4>{p[2], p[1], p[0], p[3]};  // r, g, b, a
  };
  EXPECT_EQ(shownBytes(15), (std::array<int, 4>{200, 150, 100, 255}));
  EXPECT_EQ(shownBytes(PatternColorMask("red")), (std::array<int, 4>{200, 0, 0, 255}));
  EXPECT_EQ(shownBytes(PatternColorMask("green")), (std::array<int, 4>{0, 150, 0, 255}));
  EXPECT_EQ(shownBytes(PatternColorMask("blue")), (std::array<int, 4>{0, 0, 100, 255}));
  // The frame buffer's own mask is left as it was.
  EXPECT_EQ(display->frame.channelMask, (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
  EXPECT_TRUE(window.ShowSetupPattern());
  window.BringToFront();
  EXPECT_EQ(raised, 1);
  EXPECT_THROW(MaskedPatternWindow(nullptr, 10, 10), std::invalid_argument);
  EXPECT_THROW(MaskedPatternWindow(display, 0, 10), std::invalid_argument);
}

// --- Result meshes of a synthetic depth map

// An 80 × 60 camera at the world origin looking along +z.
std::shared_ptr<cam::CameraModelTsai> TestCamera() {
  auto camera = std::make_shared<cam::CameraModelTsai>();
  camera->SetIntrinsics(40.0, 30.0, 100.0, 1.0, 0.0);
  camera->SetResolution(80, 60);
  return camera;
}

// Depth per pixel (mm, camera z) and quality bytes.
ResultSurface SyntheticSurface(const std::function<float(std::uint32_t x, std::uint32_t y)>& depth,
                               const std::function<std::uint8_t(std::uint32_t x, std::uint32_t y)>& quality) {
  auto depthImage = std::make_unique<img::UniImage<float>>(80, 60);
  auto qualityImage = std::make_unique<img::UniImage<std::uint8_t>>(80, 60);
  for (std::uint32_t y = 0; y < 60; ++y)
    for (std::uint32_t x = 0; x < 80; ++x) {
      (*depthImage)(x, y) = depth(x, y);
      (*qualityImage)(x, y) = quality(x, y);
    }
  ResultSurface surface;
  surface.depthMap =
      std::make_shared<surf::DepthMap>(std::move(depthImage), std::move(qualityImage), TestCamera()->CloneModel());
  surface.available = true;
  surface.cameraIndex = 0;
  surface.texture = std::make_shared<img::UniImage<img::RGB8>>(80, 60);
  surface.textureCameraModel = TestCamera();
  return surface;
}

ResultMeshParameters TestParameters() {
  ResultMeshParameters p;
  p.smoothIterations = 0;
  p.qualityLimit = 75;
  return p;
}

math::Vec2d PixelOf(const std::vector<float>& vertices, std::size_t i) {
  math::Vec2d pixel;
  TestCamera()->CameraPointToPixel(pixel, {vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]});
  return pixel;
}

TEST(ResultMesh, QualityLimitDepthRangeAndTextureCoordinates) {
  // A wall at 500 mm; columns 30…39 decoded badly (quality 75, at the limit).
  const auto surface = SyntheticSurface([](auto, auto) { return 500.0f; },
                                        [](std::uint32_t x, auto) { return x >= 30 && x < 40 ? 75 : 200; });
  ResultMesh mesh;
  ASSERT_TRUE(BuildResultMesh(surface, TestParameters(), {}, std::nullopt, mesh));
  EXPECT_EQ(mesh.vertices.size() / 3, 70u * 60u);
  EXPECT_EQ(mesh.texture, surface.texture);
  ASSERT_EQ(mesh.textureCoordinates.size(), 2 * (mesh.vertices.size() / 3));
  for (std::size_t i = 0; i < mesh.vertices.size() / 3; ++i) {
    EXPECT_NEAR(mesh.vertices[3 * i + 2], 500.0f, 1e-3f);
    const math::Vec2d pixel = PixelOf(mesh.vertices, i);
    EXPECT_TRUE(pixel[0] < 29.5 || pixel[0] > 39.5) << pixel[0];
    // The pixel centre of pixel (x, y) is texture coordinate ((x + 0.5)/w, (y + 0.5)/h).
    EXPECT_NEAR(mesh.textureCoordinates[2 * i], (pixel[0] + 0.5) / 80.0, 1e-5);
    EXPECT_NEAR(mesh.textureCoordinates[2 * i + 1], (pixel[1] + 0.5) / 60.0, 1e-5);
    EXPECT_NEAR(pixel[0], std::round(pixel[0]), 1e-3);
  }
  ResultMeshParameters near = TestParameters();
  near.maxDepth = 450.0;
  EXPECT_FALSE(BuildResultMesh(surface, near, {}, std::nullopt, mesh));
  EXPECT_TRUE(mesh.vertices.empty());
  near.maxDepth = 550.0;
  near.minDepth = 450.0;
  EXPECT_TRUE(BuildResultMesh(surface, near, {}, std::nullopt, mesh));
}

TEST(ResultMesh, BackgroundRemoval) {
  const auto object = SyntheticSurface([](std::uint32_t x, auto) { return x < 40 ? 500.0f : 700.0f; },
                                       [](auto, auto) { return 200; });
  const auto wall = SyntheticSurface([](auto, auto) { return 700.0f; }, [](auto, auto) { return 200; });
  ResultMesh mesh;
  ASSERT_TRUE(BuildResultMesh(object, TestParameters(), {wall.depthMap.get(), 2.0}, std::nullopt, mesh));
  // What stands in front of the wall stays; the wall itself goes.
  EXPECT_EQ(mesh.vertices.size() / 3, 40u * 60u);
  for (std::size_t i = 2; i < mesh.vertices.size(); i += 3) EXPECT_NEAR(mesh.vertices[i], 500.0f, 1e-3f);
  // A background of another size is not used.
  auto small = std::make_unique<surf::DepthMap>(std::make_unique<img::UniImage<float>>(8, 6),
                                                std::make_unique<img::UniImage<std::uint8_t>>(8, 6),
                                                TestCamera()->CloneModel());
  ASSERT_TRUE(BuildResultMesh(object, TestParameters(), {small.get(), 2.0}, std::nullopt, mesh));
  EXPECT_EQ(mesh.vertices.size() / 3, 80u * 60u);
}

TEST(ResultMesh, CalibrationPanelIsCutAwayAndTextureCoordinatesFollow) {
  // The object (left, 500 mm) in front of a panel (right, 600 mm).
  const auto surface = SyntheticSurface([](std::uint32_t x, auto) { return x < 40 ? 500.0f : 600.0f; },
                                        [](auto, auto) { return 200; });
  ResultMeshParameters p = TestParameters();
  p.removeCalibPlanes = true;
  BackgroundPlanes planes;
  planes.left = math::Planef({0.0f, 0.0f, 600.0f}, {0.0f, 0.0f, -1.0f});  // normal towards the scanner
  ResultMesh all, cut;
  ASSERT_TRUE(BuildResultMesh(surface, TestParameters(), {}, planes, all));
  EXPECT_EQ(all.vertices.size() / 3, 80u * 60u);
  ASSERT_TRUE(BuildResultMesh(surface, p, {}, planes, cut));
  ASSERT_EQ(cut.vertices.size() / 3, 40u * 60u);
  ASSERT_EQ(cut.textureCoordinates.size(), 2u * 40u * 60u);
  EXPECT_EQ(cut.textureCoordinates, ComputeTextureCoordinates(cut.vertices, *TestCamera()));
  for (std::uint32_t index : cut.indices) EXPECT_LT(index, 40u * 60u);
  // A plane behind everything takes nothing.
  planes.left = math::Planef({0.0f, 0.0f, 900.0f}, {0.0f, 0.0f, -1.0f});
  ASSERT_TRUE(BuildResultMesh(surface, p, {}, planes, cut));
  EXPECT_EQ(cut.vertices.size() / 3, 80u * 60u);
}

// --- Scans of the virtual rig

// The workflow on a virtual rig of the shipped setups at a quarter of its
// image sizes, with a fresh scan list.
class RigWorkflow : public ShellFixture {
 protected:
  void TearDown() override {
    m_workflow.reset();
    m_bundle = ScannerBundle{};
    ShellFixture::TearDown();
  }

  void MakeRig(const std::string& name, const std::string& scene = {}) {
    const fs::path folder = m_root / "rigs" / name;
    fs::create_directories(folder);
    fs::copy_file(ShareDir() / "rigs" / name / "rig.tarvelinsetup", folder / "rig.tarvelinsetup");
    if (scene.empty())
      fs::copy_file(ShareDir() / "rigs" / name / "scene.json", folder / "scene.json");
    else
      std::ofstream(folder / "scene.json") << scene;
    const DataRoot root(m_root);
    const scan::HardwareSetupIO unused;
    CommandLine commandLine;
    commandLine.rigImageScale = kScale;
    const ScannerContext context{root, unused, folder / "rig.tarvelinsetup", {}, commandLine, [](const std::string&) {}, nullptr, nullptr};
    m_bundle = CreateVirtualRigScanner(context);
    m_rig = GetVirtualRig(m_bundle);
    ASSERT_NE(m_rig, nullptr);

    ScanWorkflow::Collaborators c;
    c.settings = m_settings.get();
    c.language = &m_language;
    c.progress = &m_progress;
    c.fusion = &m_fusion;
    c.scanner = m_bundle.scanner;
    c.patternWindow = m_bundle.patternWindow;
    c.notify = [this](const std::string& text, const std::string& title) { m_notes.push_back(title + ": " + text); };
    c.log = [this](const std::string& line) { m_logLines.push_back(line); };
    c.updateSystemCalibration = [this] {
      ++m_updates;
      return m_updateResult;
    };
    c.refreshScanList = [this] { ++m_refreshes; };
    m_workflow = std::make_unique<ScanWorkflow>(c);
    m_workflow->SetScanDoneHandler([this] { ++m_done; });
    Set<std::string>("Scan/ScanMode", "single");
  }

  // Pumps the workflow (as the main loop does) until pred holds.
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::seconds timeout = 60s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      m_workflow->Pump();
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  bool ScanToEnd() {
    const int done = m_done;
    return PumpUntil([&] { return m_done > done; });
  }

  // Depth errors (mm, camera z) of world vertices against camera 0's true
  // surface at the pixel each vertex projects to.
  std::vector<double> DepthErrors(const std::vector<math::Vec3f>& vertices) const {
    const auto& camera = *m_rig->GetCameraModel(0);
    const auto& truth = m_rig->GetCamera(0)->GetGroundTruth().depth;
    std::vector<double> errors;
    for (const auto& v : vertices) {
      const math::Vec3d p = camera.GetFrame_cTw().MultP(math::Vec3d{v[0], v[1], v[2]});
      math::Vec2d pixel;
      if (!camera.CameraPointToPixel(pixel, p)) return {};
      const long x = std::lround(pixel[0]), y = std::lround(pixel[1]);
      if (x < 0 || y < 0 || x >= long(truth.width) || y >= long(truth.height) || !(truth(x, y) > 0.0f)) {
        errors.push_back(1e9);  // no surface there at all
        continue;
      }
      errors.push_back(std::abs(p[2] - truth(x, y)));
    }
    return errors;
  }

  static double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    const auto k = std::size_t(p * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
    return values[k];
  }

  static constexpr double kScale = 0.25;
  ScannerBundle m_bundle;
  sim::VirtualRig* m_rig = nullptr;
  ProgressReporter m_progress;
  surf::ShapeFusion m_fusion;
  std::unique_ptr<ScanWorkflow> m_workflow;
  std::vector<std::string> m_notes;
  int m_done = 0, m_updates = 0, m_updateResult = 0, m_refreshes = 0;
};

TEST_F(RigWorkflow, FullScanAddsATexturedScanOnTheTrueSurface) {
  MakeRig("default", testing::kFastVaseScene);
  ASSERT_EQ(m_workflow->ScanStart(), 0);
  EXPECT_TRUE(Get<bool>("Scan/Status/IsCurrentlyScanning"));
  EXPECT_EQ(Get<int>("StructuredLight/PatternCount"), int(m_workflow->GetScanDefinition()->PatternCount()));
  ASSERT_TRUE(ScanToEnd());
  ASSERT_EQ(m_workflow->GetState(), ScanWorkflow::State::kConverted);
  EXPECT_FALSE(Get<bool>("Scan/Status/IsCurrentlyScanning"));
  EXPECT_TRUE(Get<bool>("Scan/Status/IsScanDataAvailable"));
  EXPECT_TRUE(Get<bool>("Scan/Status/IsTextureAvailable"));
  EXPECT_TRUE(m_workflow->GetSurface(kSurfaceCamera0).available);
  EXPECT_FALSE(m_workflow->GetSurface(kSurfaceStereo).available);
  EXPECT_EQ(m_updates, 0);  // UpdateSystemCalibration is off

  const auto footprint = m_workflow->GetSurface(0).depthMap->GetPixelSizeAtDepth(400.0f)[0];
  ASSERT_EQ(m_workflow->ScanAddToFusion(), 0);
  EXPECT_EQ(m_refreshes, 1);
  EXPECT_EQ(Get<int>("Scan/ScanIndex"), 2);
  EXPECT_FALSE(Get<bool>("Scan/Status/IsScanDataAvailable"));
  ASSERT_EQ(m_fusion.GetNumGeos(), 1);
  EXPECT_TRUE(m_fusion.HasTexture(0));
  const v3d::Geo* geo = m_fusion.GetGeo(0);
  EXPECT_EQ(geo->GetName(), "Scan1");
  const auto& vertices = geo->GetMesh(0)->GetVertexCoords();
  const std::vector<double> errors = DepthErrors(vertices);
  ASSERT_EQ(errors.size(), vertices.size());
  // At a quarter of the image size a camera pixel covers about 0.7 mm of
  // the vase; the decoding noise of the rig's cameras (2 grey levels) puts
  // most points within a small fraction of that, while pixels mixing the
  // silhouette with the background stray further.
  EXPECT_GT(vertices.size(), 5000u);
  EXPECT_LT(Percentile(errors, 0.5), 0.1 * footprint);
  EXPECT_LT(Percentile(errors, 0.95), 0.5 * footprint);
  // Nothing more to add.
  EXPECT_EQ(m_workflow->ScanAddToFusion(), -104);
  EXPECT_EQ(m_progress.GetResult(), -104);
}

TEST_F(RigWorkflow, OneOrientationSynthesisesTheOtherDirection) {
  MakeRig("default", testing::kFastVaseScene);
  Set<std::string>("StructuredLight/PatternParameters/Orientation", "horizontal");
  Set<bool>("Scan/AutoGrabTexture", false);
  Set<std::string>("Scan/ScanName", "Part#-#");
  Set<int>("Scan/ScanIndex", 7);
  ASSERT_EQ(m_workflow->ScanStart(), 0);
  ASSERT_TRUE(ScanToEnd());
  const auto result = m_bundle.scanner->GetEvaluationResult(0);
  ASSERT_TRUE(result && result->CorrespondencesX());
  EXPECT_FALSE(result->CorrespondencesY());
  ASSERT_TRUE(m_workflow->GetSurface(kSurfaceCamera0).available);
  EXPECT_FALSE(Get<bool>("Scan/Status/IsTextureAvailable"));
  const auto footprint = m_workflow->GetSurface(0).depthMap->GetPixelSizeAtDepth(400.0f)[0];
  ASSERT_EQ(m_workflow->ScanAddToFusion(), 0);
  EXPECT_EQ(m_fusion.GetGeo(0)->GetName(), "Part7-7");
  EXPECT_FALSE(m_fusion.HasTexture(0));
  EXPECT_EQ(Get<int>("Scan/ScanIndex"), 8);
  // The points lie on the light planes of the measured columns.
  const std::vector<double> errors = DepthErrors(m_fusion.GetGeo(0)->GetMesh(0)->GetVertexCoords());
  EXPECT_GT(errors.size(), 5000u);
  EXPECT_LT(Percentile(errors, 0.5), 0.1 * footprint);
  EXPECT_LT(Percentile(errors, 0.95), 0.5 * footprint);
}

TEST(DepthConversion, MissingDirectionIsTheDefaultUnitPhase) {
  scan::SLScanEvaluationResult result;
  auto quality = std::make_shared<img::UniImage<float>>(5, 4);
  *quality = 1.0f;
  auto x = std::make_shared<img::UniImage<float>>(5, 4);
  *x = 0.5f;
  result.SetQuality(quality);
  result.SetCorrespondencesX(x);
  img::UniImagePtr<float> phaseX, phaseY;
  bool measuredX = false, measuredY = true;
  ASSERT_TRUE(CompletePhaseImages(result, phaseX, phaseY, measuredX, measuredY));
  EXPECT_TRUE(measuredX);
  EXPECT_FALSE(measuredY);
  EXPECT_EQ(phaseX, x);
  ASSERT_TRUE(phaseY);
  const auto expected = scan::SLScan::GenerateDefaultUnitPhaseY(5, 4);
  for (std::uint32_t py = 0; py < 4; ++py)
    for (std::uint32_t px = 0; px < 5; ++px) EXPECT_EQ((*phaseY)(px, py), (*expected)(px, py));
  result.SetQuality(nullptr);
  EXPECT_FALSE(CompletePhaseImages(result, phaseX, phaseY, measuredX, measuredY));
}

TEST_F(RigWorkflow, UncalibratedScannerRefusesToScan) {
  MakeRig("default", testing::kFastVaseScene);
  m_bundle.scanner->SetProjectorModel(nullptr);
  EXPECT_EQ(m_workflow->ScanStart(), -501);
  EXPECT_EQ(m_progress.GetResult(), -501);
  EXPECT_FALSE(m_workflow->IsJobRunning());
  EXPECT_FALSE(Get<bool>("Scan/Status/IsCurrentlyScanning"));
  ASSERT_EQ(m_notes.size(), 1u);
  EXPECT_EQ(m_notes[0], m_language.Get("_l10n_Title_Scan_n01l_") + ": " +
                            m_language.Get("_l10n_Error_ScannerNotCalibrated_n01l_"));
  // Background mode needs a model on every camera.
  Set<std::string>("Scan/ScanMode", "background");
  m_bundle.scanner->SetCameraModel(nullptr, 0);
  m_bundle.scanner->RemoveCamera(0);
  EXPECT_EQ(m_workflow->ScanStart(), -501);
}

TEST_F(RigWorkflow, CancelDuringCaptureReturnsToIdleWithNothingToAdd) {
  MakeRig("default", testing::kFastVaseScene);
  m_progress.StartSession(2);
  ASSERT_EQ(m_workflow->ScanStart(), 0);
  EXPECT_TRUE(m_progress.IsBusy());
  ASSERT_TRUE(PumpUntil([&] { return m_bundle.scanner->GetCompletedPatternCount() >= 4; }));
  EXPECT_EQ(m_workflow->GetState(), ScanWorkflow::State::kCapturing);
  EXPECT_GT(m_progress.GetOverallProgress(), 0.0);
  m_progress.RequestCancel();  // the user's cancel, seen by the capture's progress
  ASSERT_TRUE(PumpUntil([&] { return m_workflow->GetState() == ScanWorkflow::State::kIdle; }, 10s));
  EXPECT_FALSE(m_workflow->IsJobRunning());
  EXPECT_FALSE(m_progress.IsBusy());
  EXPECT_EQ(m_done, 0);
  EXPECT_FALSE(m_bundle.scanner->GetEvaluationResult(0));
  EXPECT_FALSE(Get<bool>("Scan/Status/IsCurrentlyScanning"));
  EXPECT_EQ(m_workflow->ScanAddToFusion(), -104);
  EXPECT_EQ(m_fusion.GetNumGeos(), 0);

  // A new scan starts afresh and can be cancelled through the workflow.
  ASSERT_EQ(m_workflow->ScanStart(), 0);
  m_workflow->Cancel();
  EXPECT_EQ(m_workflow->GetState(), ScanWorkflow::State::kIdle);
  EXPECT_FALSE(m_workflow->IsJobRunning());
  m_workflow->Pump();
  EXPECT_EQ(m_done, 0);
}

TEST_F(RigWorkflow, CancelDuringEvaluationReturnsToIdleWithNothingToAdd) {
  MakeRig("default", testing::kFastVaseScene);
  ASSERT_EQ(m_workflow->ScanStart(), 0);
  ASSERT_TRUE(PumpUntil([&] { return m_workflow->GetState() == ScanWorkflow::State::kEvaluating; }));
  m_workflow->Cancel();
  EXPECT_EQ(m_workflow->GetState(), ScanWorkflow::State::kIdle);
  EXPECT_FALSE(m_workflow->IsJobRunning());
  EXPECT_FALSE(m_progress.IsBusy());
  EXPECT_FALSE(Get<bool>("Scan/Status/IsCurrentlyScanning"));
  for (int i = 0; i < 20; ++i) m_workflow->Pump();
  EXPECT_EQ(m_done, 0);
  EXPECT_EQ(m_workflow->ScanAddToFusion(), -104);
  EXPECT_EQ(m_fusion.GetNumGeos(), 0);
}

TEST_F(RigWorkflow, NothingToAddBeforeAnyScan) {
  MakeRig("default", testing::kFastVaseScene);
  EXPECT_EQ(m_workflow->ScanAddToFusion(), -104);
  EXPECT_EQ(m_progress.GetResult(), -104);
  EXPECT_EQ(Get<int>("Scan/ScanIndex"), 1);
  EXPECT_EQ(m_refreshes, 0);
  // Cancelling an idle workflow leaves other background work alone.
  m_progress.SetBusy(true);
  m_workflow->Cancel();
  EXPECT_TRUE(m_progress.IsBusy());
}

// The stereo rig: a background scan runs although the projector model is
// missing (the two cameras triangulate without it) and never triggers the
// system-calibration update; a later scan of the same scene with background
// removal on finds nothing but background.
TEST_F(RigWorkflow, BackgroundScanWithoutCalibrationThenRemovesWhatItSaw) {
  MakeRig("stereo", testing::kFastVaseScene);
  ASSERT_EQ(m_bundle.scanner->GetCameraCount(), 2u);
  const auto projector = m_bundle.scanner->GetProjectorModel();
  m_bundle.scanner->SetProjectorModel(nullptr);
  ASSERT_FALSE(m_bundle.scanner->IsCalibrated());
  Set<bool>("Calibration/UpdateSystemCalibration", true);
  Set<bool>("Scan/AutoGrabTexture", false);
  Set<std::string>("Scan/ScanMode", "background");

  ASSERT_EQ(m_workflow->ScanStart(), 0);
  // Texture is captured for the background when the calibration update is on.
  EXPECT_NE(m_bundle.scanner->GetTextureCaptureMode(), 0);
  EXPECT_TRUE(m_workflow->GetScanDefinition() &&
              dynamic_cast<scan::SLCodedLightScan&>(*m_workflow->GetScanDefinition()).TextureSequence());
  EXPECT_TRUE(Get<bool>("Scan/Status/IsCurrentScanBackground"));
  ASSERT_TRUE(ScanToEnd());
  EXPECT_EQ(m_updates, 0);
  ASSERT_TRUE(m_workflow->GetSurface(kSurfaceStereo).available);
  EXPECT_FALSE(m_workflow->GetSurface(kSurfaceCamera0).available);  // no projector model
  ASSERT_NE(m_workflow->GetBackgroundDepthMap(kSurfaceStereo), nullptr);
  EXPECT_TRUE(Get<bool>("BackgroundRemoval/BackgroundScanAvailable"));

  // The controller switches removal on after a background scan.
  Set<bool>("BackgroundRemoval/BackgroundRemovalEnabled", true);
  Set<std::string>("Scan/ScanMode", "single");
  m_bundle.scanner->SetProjectorModel(projector);
  m_updateResult = 1;
  ASSERT_EQ(m_workflow->ScanStart(), 0);
  ASSERT_TRUE(ScanToEnd());
  EXPECT_EQ(m_updates, 1);
  EXPECT_TRUE(m_workflow->IsRecalibrationNeeded());
  ASSERT_FALSE(m_notes.empty());
  EXPECT_EQ(m_notes.back(), "Calibration: Stereo camera system might need to be recalibrated.");
  m_workflow->ResetPendingCalibrationUpdate();
  EXPECT_FALSE(m_workflow->IsRecalibrationNeeded());
  // Every surface is available, and (almost) all of it is background.
  for (int id : {kSurfaceCamera0, kSurfaceCamera1, kSurfaceStereo})
    EXPECT_TRUE(m_workflow->GetSurface(id).available) << id;
  ResultMesh removed, kept;
  m_workflow->CreateResultMesh(kSurfaceStereo, removed);
  Set<bool>("BackgroundRemoval/BackgroundRemovalEnabled", false);
  EXPECT_TRUE(m_workflow->CreateResultMesh(kSurfaceStereo, kept));
  EXPECT_GT(kept.vertices.size(), 3u * 3000u);
  // Only stray pixels where the background had no depth stay.
  EXPECT_LT(removed.vertices.size(), kept.vertices.size() / 100);
  Set<bool>("BackgroundRemoval/BackgroundRemovalEnabled", true);
  const int added = m_workflow->ScanAddToFusion();
  if (added >= 0) {
    EXPECT_LT(m_fusion.GetGeo(added)->GetMesh(0)->GetNumVertices(), kept.vertices.size() / 300);
  }
}

}  // namespace
}  // namespace shell
