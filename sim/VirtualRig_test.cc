#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "cam/CameraModelFunctions.h"
#include "cam/CameraModelTsai.h"
#include "scan/SLSingleColorPattern.h"
#include "sim/VirtualRig.h"

namespace sim {
namespace {

// A clock the test moves by hand.
struct ManualClock {
  std::shared_ptr<std::atomic<double>> now = std::make_shared<std::atomic<double>>(0.0);
  vid::SecondsClock Get() const {
    return [n = now] { return n->load(); };
  }
};

std::shared_ptr<LightImage> Uniform(std::uint32_t w, std::uint32_t h, float value) {
  auto light = std::make_shared<LightImage>(w, h);
  *light = math::Vec3f{value, value, value};
  return light;
}

TEST(VirtualProjector, WeightsFollowTheTimesPatternsWereShown) {
  ManualClock clock;
  VirtualProjector projector({16, 8, 2.2, 0.0}, clock.Get());
  clock.now->store(1.0);
  projector.Show(Uniform(16, 8, 1.0f));
  clock.now->store(2.0);
  projector.Show(Uniform(16, 8, 0.5f));
  const auto both = projector.GetShownDuring(1.5, 2.5);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].image.serial, 1u);
  EXPECT_DOUBLE_EQ(both[0].weight, 0.5);
  EXPECT_EQ(both[1].image.serial, 2u);
  EXPECT_DOUBLE_EQ(both[1].weight, 0.5);
  // Before the first pattern the projector was dark (serial 0).
  const auto early = projector.GetShownDuring(0.0, 1.25);
  ASSERT_EQ(early.size(), 2u);
  EXPECT_EQ(early[0].image.serial, 0u);
  EXPECT_DOUBLE_EQ(early[0].weight, 0.8);
  EXPECT_EQ(projector.GetShownDuring(1.7, 1.7).front().image.serial, 1u);
  EXPECT_THROW(projector.Show(Uniform(8, 8, 1.0f)), std::invalid_argument);
}

TEST(VirtualProjector, PatternsBecomeLinearLightThroughTheDisplayGamma) {
  VirtualProjector projector({16, 8, 2.2, 0.0});
  projector.DisplayPatterns({}, {std::make_shared<scan::SLSingleColorPattern>(128, 255, 0)});
  const ShownImage shown = projector.GetCurrent();
  const math::Vec3f light = (*shown.light)(3, 4);
  EXPECT_NEAR(light[0], std::pow(128.0 / 255.0, 2.2), 1e-6);
  EXPECT_FLOAT_EQ(light[1], 1.0f);
  EXPECT_FLOAT_EQ(light[2], 0.0f);
  EXPECT_TRUE(projector.DisplaySetupPattern());
  EXPECT_FLOAT_EQ((*projector.GetCurrent().light)(0, 0)[0], 0.5f);
}

TEST(VirtualProjector, SamplesLightBilinearlyBetweenPixelPositions) {
  LightImage light(3, 2);
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 3; ++x) light(x, y) = math::Vec3f{float(x), float(y), float(x + 10 * y)};
  const math::Vec3f v = VirtualProjector::SampleLight(light, 1.25, 0.5);
  EXPECT_FLOAT_EQ(v[0], 1.25f);
  EXPECT_FLOAT_EQ(v[1], 0.5f);
  EXPECT_FLOAT_EQ(v[2], 6.25f);
  EXPECT_FLOAT_EQ(VirtualProjector::SampleLight(light, 2.0, 1.0)[2], 12.0f);
  EXPECT_FLOAT_EQ(VirtualProjector::SampleLight(light, 2.01, 0.0)[0], 0.0f);  // outside
}

// A camera and a projector 400 mm above a grey floor panel, the projector
// 100 mm to the side; optionally a small occluding panel in the projector's
// light.
struct FloorRig {
  explicit FloorRig(bool occluder, vid::SecondsClock clock = {}, double noise = 0.0) {
    scene.AddPanel({400, 400}, math::Frame4d(), {0.5f, 0.5f, 0.5f}, "floor");
    if (occluder) {
      math::Frame4d pose;
      pose = math::FTrans(50.0, 0.0, 200.0);  // halfway to the projector above the origin
      scene.AddPanel({10, 10}, pose, {0.5f, 0.5f, 0.5f}, "occluder");
    }
    auto camera = std::make_shared<cam::CameraModelTsai>();
    camera->SetIntrinsics(40, 30, 100, 1.0, 0.0);
    camera->SetResolution(80, 60);
    camera->SetFrame_wTc(LookAt({0, 0, 400}, {0, 0, 0}, {0, 1, 0}));
    auto projectorModel = std::make_shared<cam::CameraModelTsai>();
    projectorModel->SetIntrinsics(64, 48, 200, 1.0, 0.0);
    projectorModel->SetResolution(128, 96);
    projectorModel->SetFrame_wTc(LookAt({100, 0, 400}, {0, 0, 0}, {0, 1, 0}));
    projectorModel->ScaleToResolution(1, 1);
    projector = std::make_shared<VirtualProjector>(VirtualProjector::Options{128, 96, 1.0, 0.0}, clock);
    VirtualCamera::Options o;
    o.noiseSigma = noise;
    o.latencyMs = 40;
    o.exposureMs = 10;
    o.referenceExposureMs = 10;
    cameraModel = camera;
    this->camera = std::make_shared<VirtualCamera>(camera, projectorModel, projector, o);
    this->camera->SetScene(RayCaster(scene));
  }
  Scene scene;
  std::shared_ptr<cam::CameraModel> cameraModel;
  std::shared_ptr<VirtualProjector> projector;
  std::shared_ptr<VirtualCamera> camera;
};

// cos of the incidence at the floor's origin for the projector at (100, 0, 400).
const double kCosine = 400.0 / std::sqrt(100.0 * 100.0 + 400.0 * 400.0);

TEST(VirtualCamera, LevelIsAlbedoTimesAmbientPlusShadedProjectorLight) {
  ManualClock clock;
  FloorRig rig(false, clock.Get());
  clock.now->store(1.0);
  rig.projector->Show(Uniform(128, 96, 1.0f));
  const auto frame = rig.camera->RenderFrame(2.0, false);
  const double expected = 255.0 * 0.5 * (0.05 + kCosine);
  EXPECT_NEAR(frame[30 * 80 + 40], expected, 0.6);
  EXPECT_EQ(rig.camera->GetPixelViews()(40, 30), std::uint8_t(PixelView::kLit));
  EXPECT_NEAR(rig.camera->GetGroundTruth().depth(40, 30), 400.0, 1e-6);
}

TEST(VirtualCamera, AFrameAcrossASwitchBlendsBothPatternsOneLatencyLate) {
  ManualClock clock;
  FloorRig rig(false, clock.Get());
  clock.now->store(1.0);
  rig.projector->Show(Uniform(128, 96, 1.0f));
  clock.now->store(2.0);
  rig.projector->Show(Uniform(128, 96, 0.0f));
  const std::size_t centre = 30 * 80 + 40;
  // Exposure window [t − 0.05, t − 0.04]: before, across and after the switch.
  EXPECT_NEAR(rig.camera->RenderFrame(2.039, false)[centre], 255.0 * 0.5 * (0.05 + kCosine), 0.6);
  EXPECT_NEAR(rig.camera->RenderFrame(2.045, false)[centre], 255.0 * 0.5 * (0.05 + 0.5 * kCosine), 0.6);
  EXPECT_NEAR(rig.camera->RenderFrame(2.051, false)[centre], 255.0 * 0.5 * 0.05, 0.6);
}

TEST(VirtualCamera, APointTheProjectorCannotSeeGetsOnlyAmbientLight) {
  FloorRig rig(true);
  rig.projector->Show(Uniform(128, 96, 1.0f));
  // The occluder at (50, 0, 200) shadows the floor around the origin.
  EXPECT_EQ(rig.camera->GetPixelViews()(40, 30), std::uint8_t(PixelView::kShadowed));
  const auto frame = rig.camera->RenderFrame(rig.projector->Now() + 1.0, false);
  // The camera sees the shadow beside the occluder, which hides the image centre.
  math::Vec2d shadow;
  ASSERT_TRUE(cam::WorldPointToPixel(shadow, {-4.0, 0.0, 0.0}, *rig.cameraModel));
  const auto x = std::uint32_t(std::lround(shadow[0])), y = std::uint32_t(std::lround(shadow[1]));
  EXPECT_EQ(rig.camera->GetPixelViews()(x, y), std::uint8_t(PixelView::kShadowed));
  EXPECT_NEAR(frame[y * 80 + x], 255.0 * 0.5 * 0.05, 0.6);
  EXPECT_EQ(rig.camera->GetPixelViews()(20, 15), std::uint8_t(PixelView::kLit));
}

TEST(VirtualCamera, NoiseHasTheConfiguredSpread) {
  FloorRig rig(false, {}, 2.0);
  rig.projector->Show(Uniform(128, 96, 0.5f));
  const double t = rig.projector->Now() + 1.0;
  const auto clean = rig.camera->RenderFrame(t, false);
  const auto noisy = rig.camera->RenderFrame(t, true);
  double sum = 0.0, sumSquares = 0.0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    const double d = double(noisy[i]) - double(clean[i]);
    sum += d;
    sumSquares += d * d;
  }
  const double n = double(clean.size());
  EXPECT_NEAR(sum / n, 0.0, 0.1);
  // Rounding both frames adds about 2 · 1/12 to the variance.
  EXPECT_NEAR(std::sqrt(sumSquares / n - (sum / n) * (sum / n)), std::sqrt(4.0 + 1.0 / 6.0), 0.15);
}

class CountingStore : public vid::ImageStore {
 public:
  bool PushImage(vid::ImagePtr image) override {
    if (image && image->format.width == 80 && image->format.height == 60) ++frames;
    return true;
  }
  std::atomic<int> frames{0};
};

TEST(VirtualCamera, DeliversFramesOnItsOwnThreadWhileCapturing) {
  FloorRig rig(false);
  EXPECT_EQ(rig.camera->GetFormat().mediaSubtype, vid::subtype::Y800);
  auto store = std::make_shared<CountingStore>();
  rig.camera->StartCapture(store, nullptr);
  EXPECT_TRUE(rig.camera->IsCapturing());
  const std::uint64_t seen = rig.camera->GetFrameCount();
  EXPECT_TRUE(rig.camera->WaitForFrameAfter(seen + 2, 2.0));
  rig.camera->StopCapture();
  const int delivered = store->frames.load();
  EXPECT_GE(delivered, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(store->frames.load(), delivered);
}

TEST(VirtualCamera, PropertiesAreRangeChecked) {
  FloorRig rig(false);
  EXPECT_TRUE(rig.camera->SetProperty("exposure", vid::Property(20.0)));
  EXPECT_DOUBLE_EQ(rig.camera->GetProperty("exposure").value, 20.0);
  EXPECT_FALSE(rig.camera->SetProperty("exposure", vid::Property(5000.0)));
  EXPECT_FALSE(rig.camera->SetProperty("gain", vid::Property(1.0, vid::Property::kAuto)));
  EXPECT_FALSE(rig.camera->SetProperty("focus", vid::Property(1.0)));
  EXPECT_FALSE(rig.camera->GetProperty("focus").valid);
  // Twice the exposure doubles the level.
  rig.projector->Show(Uniform(128, 96, 0.25f));
  const auto frame = rig.camera->RenderFrame(rig.projector->Now() + 1.0, false);
  EXPECT_NEAR(frame[30 * 80 + 40], 2.0 * 255.0 * 0.5 * (0.05 + 0.25 * kCosine), 1.0);
}

#ifdef TARVELIN_SHARE_DIR
TEST(VirtualRig, ShippedSetupsAreTheOnesTheCodeDescribes) {
  for (const bool stereo : {false, true}) {
    const std::string path = std::string(TARVELIN_SHARE_DIR) + "/rigs/" + (stereo ? "stereo" : "default") + "/" +
                             kRigSetupFile;
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), scan::WriteHardwareSetup(MakeShippedRigSetup(stereo))) << path;
  }
}
#endif

TEST(VirtualRig, ShippedGeometryHasTheAdvertisedDistanceAndAngle) {
  const auto setup = MakeShippedRigSetup(false);
  const math::Vec3d camera = setup.cameras[0].cameraModel->GetFrame_wTc().MultP(math::Vec3d{0, 0, 0});
  const math::Vec3d projector = setup.projector.projectorModel->GetFrame_wTc().MultP(math::Vec3d{0, 0, 0});
  EXPECT_NEAR(camera.Length(), 400.0, 1e-9);
  const double angle = std::acos(Dot(camera, projector) / (camera.Length() * projector.Length())) * 180.0 / M_PI;
  EXPECT_NEAR(angle, 20.0, 1.0);
}

}  // namespace
}  // namespace sim
