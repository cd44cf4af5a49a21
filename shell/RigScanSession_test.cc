// Scans of a reduced default rig (a quarter of the image sizes, fast
// cameras) by the shell's workflow on the rig product, checked against the
// analytic blob.
#include "shell/RigScanSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "cam/CameraModelTsai.h"
#include "devices/felvar/ProjectorFelvar.h"
#include "shell/SettingPath.h"
#include "sim/Procedural.h"
#include "sim/RigSetup.h"
#include "sim/VirtualRig.h"

namespace shell {
namespace {

using sim::RigScan;
using sim::RigScanStatus;
using sim::TurntableSet;
constexpr double kDeg = std::numbers::pi / 180.0;

RigScanSession::Options ReducedRig(const std::string& rig, const std::string& object) {
  RigScanSession::Options options;
  options.rigFolder = sim::ResolveRigFolder(rig);
  scan::HardwareSetupIO setup;
  sim::SceneDescription description;
  std::string error;
  EXPECT_TRUE(sim::LoadRigFolder(options.rigFolder, setup, description, error)) << error;
  EXPECT_TRUE(sim::SetSingleObject(object, description, error)) << error;
  sim::UseFastCameras(description);
  options.scene = description;
  options.imageScale = 0.25;
  return options;
}

// The fraction of the scan's vertices that lie within tolerance (mm) of the
// analytic blob placed by the scan's true object pose.
double FractionOnBlob(const RigScan& scan, double tolerance) {
  const sim::BlobShape blob{sim::BlobSpec{}};
  const math::Frame4d objectFromWorld = scan.world_T_object.GetInverse();
  std::size_t on = 0;
  for (const auto& p : scan.mesh.positions) {
    const math::Vec3d q = objectFromWorld.MultP(math::Vec3d(p));
    on += std::abs(q.Length() - blob.Radius(q.GetNormalized())) <= tolerance;
  }
  return scan.mesh.positions.empty() ? 0.0 : double(on) / double(scan.mesh.positions.size());
}

class RigScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_session = new RigScanSession(ReducedRig("default", "blob"));
    std::string error;
    if (!s_session->Start(error)) {
      ADD_FAILURE() << error;
      delete s_session;
      s_session = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete s_session;
    s_session = nullptr;
  }
  static RigScanSession* s_session;
};
RigScanSession* RigScanTest::s_session = nullptr;

TEST_F(RigScanTest, TurntableSetLiesOnTheBlobAtItsTruePoses) {
  ASSERT_TRUE(s_session);
  EXPECT_EQ(s_session->GetProduct(), "Virtual");
  // Four frames dropped after each pattern change: with the default two, a
  // loaded machine's fast cameras take frames that mix two patterns in some
  // views (then only 85 % of the vertices lay on the blob).
  RigScanOptions options;
  options.imageSkipCount = 4;
  const TurntableSet set = s_session->ScanTurntable(2, 10.0 * kDeg, 90.0 * kDeg, options);
  ASSERT_EQ(set.status, RigScanStatus::kSuccess) << set.error;
  ASSERT_EQ(set.scans.size(), 2u);
  for (const RigScan& scan : set.scans) {
    EXPECT_GT(scan.mesh.positions.size(), 5000u);
    EXPECT_EQ(scan.mesh.normals.size(), scan.mesh.positions.size());
    EXPECT_TRUE(scan.mesh.colors.empty());
    EXPECT_EQ(scan.triangulation, "camera-projector");
    // Pixels four times the full rig's: depth errors several times its
    // 0.035 mm (0.38 mm measured here, the grazing blob flanks included).
    EXPECT_LT(scan.depthScore.rms, 0.6);
    EXPECT_GT(scan.decoding[0].decodedFractionOfVisible, 0.95);
    // The tessellated blob lies within 0.05 mm of the analytic one; 0.6 mm
    // is about four times the depth p99.
    EXPECT_GT(FractionOnBlob(scan, 0.6), 0.99);
  }
  // The poses: turns about the vertical axis through the origin.
  EXPECT_NEAR(set.scans[0].turntableAngle, 10.0 * kDeg, 1e-12);
  EXPECT_NEAR(set.scans[1].turntableAngle, 100.0 * kDeg, 1e-12);
  const math::Frame4d relative = sim::TrueRelativePose(set.scans[0], set.scans[1]);
  const math::Frame4d expected = math::FRotZ(90.0 * kDeg);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(relative(r, c), expected(r, c), 1e-12);
  // The second view shows another side: its points, taken back by the first
  // view's pose, do not lie on the blob.
  RigScan mixed;
  mixed.mesh.positions = set.scans[1].mesh.positions;
  mixed.world_T_object = set.scans[0].world_T_object;
  EXPECT_LT(FractionOnBlob(mixed, 0.6), 0.5);
}

TEST_F(RigScanTest, TextureGivesColoursCoordinatesAndImage) {
  ASSERT_TRUE(s_session);
  RigScanOptions options;
  options.texture = true;
  // As above: a loaded machine's fast cameras otherwise mix the texture
  // frames (red, green, blue and black light) with their neighbours.
  options.imageSkipCount = 4;
  const RigScan scan = s_session->Scan(0.0, options);
  ASSERT_EQ(scan.status, RigScanStatus::kSuccess) << scan.error;
  EXPECT_EQ(scan.mesh.colors.size(), scan.mesh.positions.size());
  EXPECT_EQ(scan.mesh.texCoords.size(), scan.mesh.positions.size());
  EXPECT_EQ(scan.mesh.texture.width, s_session->GetRig().GetCameraModel(0)->GetResX());
  EXPECT_TRUE(scan.mesh.IsValid());
  // Grey texture of a grey object: lit and far from black.
  double sum = 0.0;
  for (const auto& c : scan.mesh.colors) sum += c.r;
  EXPECT_GT(sum / double(scan.mesh.colors.size()), 30.0);  // 47 measured
  EXPECT_GT(scan.seconds.capture, 0.0);
  // Both orientations: 8 Gray codes with inverses for 1920 … (scaled) columns,
  // 4 shifts each, plus the texture frame: the count the workflow's
  // definition gives and stores in the settings.
  EXPECT_EQ(scan.patternCount,
            std::uint32_t(s_session->GetApplication()
                              .GetSettings()
                              .GetSetting<int>(SettingPath("StructuredLight/PatternCount"))
                              .Value()));
  EXPECT_GT(scan.patternCount, 20u);
}

TEST_F(RigScanTest, CancellationAndBadRequestsStopCleanly) {
  ASSERT_TRUE(s_session);
  int calls = 0;
  const RigScan cancelled = s_session->Scan(0.0, {}, [&](double) { return ++calls > 3; });
  EXPECT_EQ(cancelled.status, RigScanStatus::kCancelled);
  EXPECT_TRUE(cancelled.mesh.positions.empty());

  const TurntableSet set =
      s_session->ScanTurntable(3, 0.0, 1.0, {}, [](double f) { return f > 0.5; });
  EXPECT_EQ(set.status, RigScanStatus::kCancelled);
  EXPECT_LE(set.scans.size(), 2u);

  RigScanOptions noObject;
  noObject.objectId = 5;
  const RigScan missing = s_session->Scan(0.0, noObject);
  EXPECT_EQ(missing.status, RigScanStatus::kFailed);
  EXPECT_EQ(missing.error, "the scene has no object 5");
  EXPECT_EQ(s_session->Scan(std::nan(""), {}).status, RigScanStatus::kFailed);
  EXPECT_EQ(s_session->ScanTurntable(0, 0.0, 1.0, {}).status, RigScanStatus::kFailed);

  // A scan after the cancelled ones still works: the workflow went back to idle.
  RigScanOptions fast;
  fast.imageSkipCount = 4;
  EXPECT_EQ(s_session->Scan(0.0, fast).status, RigScanStatus::kSuccess);
}

// The product follows the rig: two cameras give the stereo variant, whose
// two-camera surface is the one scored; the stereo variant refuses a rig
// with one camera and names the profile to choose; a product that is no
// rig is named.
TEST(RigScanSession, ProductsOfTheRig) {
  std::string error;
  RigScanSession stereo(ReducedRig("stereo", "sphere"));
  ASSERT_TRUE(stereo.Start(error)) << error;
  EXPECT_EQ(stereo.GetProduct(), "VirtualStereo");
  EXPECT_EQ(stereo.GetRig().GetCameraCount(), 2u);
  RigScanOptions options;
  options.imageSkipCount = 4;
  const RigScan scan = stereo.Scan(0.0, options);
  ASSERT_EQ(scan.status, RigScanStatus::kSuccess) << scan.error;
  EXPECT_EQ(scan.triangulation, "stereo");
  ASSERT_EQ(scan.decoding.size(), 2u);
  EXPECT_GT(scan.decoding[1].decodedFractionOfVisible, 0.9);
  EXPECT_LT(scan.depthScore.rms, 0.6);

  RigScanSession::Options single = ReducedRig("default", "sphere");
  single.product = "VirtualStereo";
  RigScanSession refused(single);
  EXPECT_FALSE(refused.Start(error));
  EXPECT_NE(error.find("two cameras"), std::string::npos) << error;
  EXPECT_NE(error.find("VirtualStereo"), std::string::npos) << error;

  single.product = "NoSuchScanner";
  RigScanSession other(single);
  EXPECT_FALSE(other.Start(error));
  EXPECT_NE(error.find("\"NoSuchScanner\""), std::string::npos) << error;
}

// The projector–camera unit on the rig: its camera in the quarter sensor
// mode (with the sensor's sub-pixel phase shifts) reached through the unit's
// device library and its rig back-end, calibrated by the factory models the
// unit hands out, the projector prepared around the capture. The sphere
// comes back as with the rig's own product.
TEST(RigScanSession, FelvarUnitScansTheSphere) {
  RigScanSession::Options options = ReducedRig("default", "sphere");
  options.imageScale = 1.0;  // the unit's sensor modes are fixed
  options.product = "Felvar";
  RigScanSession session(options);
  std::string error;
  ASSERT_TRUE(session.Start(error)) << error;
  EXPECT_EQ(session.GetProduct(), "Felvar");
  EXPECT_EQ(session.GetRig().GetCameraModel(0)->GetResX(), 1104u);
  const auto scanner = session.GetApplication().GetScanner();
  ASSERT_EQ(scanner->GetCameraCount(), 1u);
  EXPECT_EQ(scanner->GetCameraName(0), "USB Camera-OV580");
  EXPECT_NE(scanner->GetProjectorControl(), nullptr);
  RigScanOptions scanOptions;
  scanOptions.imageSkipCount = 4;
  const RigScan scan = session.Scan(0.0, scanOptions);
  ASSERT_EQ(scan.status, RigScanStatus::kSuccess) << scan.error;
  ASSERT_EQ(scan.decoding.size(), 1u);
  EXPECT_GT(scan.decoding[0].decodedFractionOfVisible, 0.95);
  // As the rig's own product on this scene (0.036 mm measured for both).
  EXPECT_LT(scan.depthScore.rms, 0.06);
  EXPECT_GT(scan.depthScore.validPixels, 150000u);
  // The projector was switched on for the capture and given back after it.
  const auto* projector =
      dynamic_cast<const felvar::ProjectorFelvar*>(scanner->GetProjectorControl().get());
  ASSERT_NE(projector, nullptr);
  EXPECT_GE(projector->GetNotificationCount(), 2u);
  EXPECT_FALSE(projector->IsActive());

  // The same unit scanned with the plain Tsai model (no phase shifts) is
  // off by the shifts: about 0.2 pixels, three times the error.
  auto plain = std::make_shared<cam::CameraModelTsai>(
      dynamic_cast<const cam::CameraModelTsai&>(*scanner->GetCameraModel(0)));
  scanner->SetCameraModel(plain, 0);
  const RigScan uncorrected = session.Scan(0.0, scanOptions);
  ASSERT_EQ(uncorrected.status, RigScanStatus::kSuccess) << uncorrected.error;
  EXPECT_GT(uncorrected.depthScore.rms, 2.0 * scan.depthScore.rms);
}

// Without the device library the unit cannot be reached: the session says
// which library is missing and where it was looked for.
TEST(RigScanSession, FelvarWithoutDeviceLibraryNamesIt) {
  RigScanSession::Options options = ReducedRig("default", "sphere");
  options.imageScale = 1.0;
  options.product = "Felvar";
  setenv("TARVELIN_VEMKO_LIBRARY", "/nonexistent/libtarvelin_vemko.so", 1);
  RigScanSession session(options);
  std::string error;
  EXPECT_FALSE(session.Start(error));
  unsetenv("TARVELIN_VEMKO_LIBRARY");
  EXPECT_NE(error.find("the scanner of product \"Felvar\" could not be created"), std::string::npos)
      << error;
  EXPECT_NE(error.find("libtarvelin_vemko.so could not be loaded "
                       "(/nonexistent/libtarvelin_vemko.so: no such file)"),
            std::string::npos)
      << error;
  // At a reduced rig scale the unit's sensor modes cannot be kept.
  options.imageScale = 0.25;
  RigScanSession reduced(options);
  EXPECT_FALSE(reduced.Start(error));
  EXPECT_NE(error.find("full rig scale"), std::string::npos) << error;
}

}  // namespace
}  // namespace shell
