#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "cam/CameraModelFunctions.h"
#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "cam/SimpleXML.h"

namespace cam {
namespace {

using ::testing::HasSubstr;

CameraModelTsai MakeTsai(double kappa1 = -3e-9) {
  CameraModelTsai m;
  m.SetResolution(1920, 1200);
  m.SetIntrinsics(1003.7, 571.2, 2500.0, 1.002, kappa1);
  m.SetFrame_wTc(math::FTrans(10.0, -20.0, 30.0) * math::FRotY(0.3) * math::FRotX(-0.2));
  return m;
}

CameraModelOCV MakeOCV() {
  CameraModelOCV m;
  CameraModelOCVIntrinsics c;
  c.cx = 1003.7, c.cy = 571.2, c.f = 2500.0, c.sx = 1.002;
  c.k1 = -0.08, c.k2 = 0.05, c.k3 = -0.01, c.p1 = 4e-4, c.p2 = -3e-4;
  m.SetIntrinsics(c, 1920, 1200);
  m.SetFrame_wTc(math::FTrans(5.0, 6.0, -7.0) * math::FRotZ(0.4));
  return m;
}

// Angle between two directions (radians).
double Angle(const math::Vec3d& a, const math::Vec3d& b) { return std::atan2((a ^ b).Length(), Dot(a, b)); }

TEST(CameraModelTsai, WithoutDistortionIsAPinhole) {
  CameraModelTsai m = MakeTsai(0.0);
  const auto& i = m.GetIntrinsics();
  const math::Vec3d p(31.0, -17.0, 640.0);
  math::Vec2d pixel;
  ASSERT_TRUE(m.CameraPointToPixel(pixel, p));
  EXPECT_DOUBLE_EQ(pixel[0], i.sx * i.f * p[0] / p[2] + i.cx);
  EXPECT_DOUBLE_EQ(pixel[1], i.f * p[1] / p[2] + i.cy);
  math::Vec3d ray;
  ASSERT_TRUE(m.PixelToCameraRay(ray, pixel));
  EXPECT_LT(Angle(ray, p), 1e-15);
}

TEST(CameraModelTsai, ProjectionAndBackProjectionAreInverse) {
  const CameraModelTsai m = MakeTsai();
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-0.4, 0.4), z(100.0, 2000.0);
  for (int k = 0; k < 1000; ++k) {
    const double depth = z(rng);
    const math::Vec3d p(u(rng) * depth, u(rng) * depth, depth);
    math::Vec2d pixel;
    math::Vec3d ray;
    ASSERT_TRUE(m.CameraPointToPixel(pixel, p));
    ASSERT_TRUE(m.PixelToCameraRay(ray, pixel));
    // The cubic solution carries rounding of a few ulp of the sensor radius.
    EXPECT_LT(Angle(ray, p), 1e-13) << k;
  }
}

TEST(CameraModelTsai, DistortAndUndistortPixelAreInverse) {
  const CameraModelTsai m = MakeTsai(-3e-9);
  for (double u = -200.0; u <= 2200.0; u += 100.0) {
    for (double v = -200.0; v <= 1400.0; v += 100.0) {
      math::Vec2d distorted, back;
      ASSERT_TRUE(m.DistortPixel(distorted, {u, v}));
      ASSERT_TRUE(m.UndistortPixel(back, distorted));
      EXPECT_NEAR(back[0], u, 1e-9);
      EXPECT_NEAR(back[1], v, 1e-9);
    }
  }
  // Pincushion (kappa1 > 0) too: the cubic then always has one real root.
  const CameraModelTsai pin = MakeTsai(5e-9);
  math::Vec2d distorted, back;
  ASSERT_TRUE(pin.DistortPixel(distorted, {1900.0, 1100.0}));
  ASSERT_TRUE(pin.UndistortPixel(back, distorted));
  EXPECT_NEAR(back[0], 1900.0, 1e-9);
  EXPECT_NEAR(back[1], 1100.0, 1e-9);
}

TEST(CameraModelTsai, SolverClampsBeyondTheExtremum) {
  // Ru = Rd·(1 + k·Rd²) has its maximum 2/3·√(1/(3|k|)) at Rd = √(1/(3|k|)).
  const double k = -1e-6;
  const double rdMax = std::sqrt(1.0 / (3.0 * 1e-6));
  const double ruMax = rdMax * (1.0 + k * rdMax * rdMax);
  double xd = 0, yd = 0;
  CameraModelTsai::DistortSensorPoint(k, 1.5 * ruMax, 0.0, xd, yd);
  EXPECT_NEAR(xd, rdMax, 1e-9 * rdMax);
  EXPECT_EQ(yd, 0.0);
  // Just inside the extremum the smaller positive root is taken.
  CameraModelTsai::DistortSensorPoint(k, 0.99 * ruMax, 0.0, xd, yd);
  EXPECT_LT(xd, rdMax);
  EXPECT_NEAR(xd * (1.0 + k * xd * xd), 0.99 * ruMax, 1e-9);
}

TEST(CameraModelTsai, InvalidModelsAndZeroDepthFail) {
  CameraModelTsai m = MakeTsai();
  math::Vec2d pixel;
  math::Vec3d ray;
  EXPECT_FALSE(m.CameraPointToPixel(pixel, {1.0, 2.0, 0.0}));
  m.SetIntrinsics(500.0, 400.0, 0.0, 1.0, 0.0);
  EXPECT_FALSE(m.IsValid());
  EXPECT_FALSE(m.CameraPointToPixel(pixel, {1.0, 2.0, 3.0}));
  EXPECT_FALSE(m.PixelToCameraRay(ray, {1.0, 2.0}));
  EXPECT_FALSE(m.DistortPixel(pixel, {1.0, 2.0}));
  EXPECT_FALSE(m.UndistortPixel(pixel, {1.0, 2.0}));
  m.SetIntrinsics(500.0, 400.0, 1000.0, 0.0, 0.0);  // sx = 0
  EXPECT_FALSE(m.PixelToCameraRay(ray, {1.0, 2.0}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  m.SetIntrinsics(500.0, 400.0, 1000.0, 1.0, 0.0);
  EXPECT_FALSE(m.CameraPointToPixel(pixel, {nan, 2.0, 3.0}));
}

TEST(CameraModelTsai, ScaleToResolutionKeepsTheImageGeometry) {
  CameraModelTsai m = MakeTsai();
  const CameraModelTsai::Intrinsics before = m.GetIntrinsics();
  m.ScaleToResolution(1920, 1200);
  EXPECT_EQ(m.GetIntrinsics(), before);
  m.ScaleToResolution(0, 600);
  EXPECT_EQ(m.GetIntrinsics(), before);

  m.ScaleToResolution(960, 600);
  EXPECT_DOUBLE_EQ(m.GetIntrinsics().cx, before.cx / 2);
  EXPECT_DOUBLE_EQ(m.GetIntrinsics().cy, before.cy / 2);
  EXPECT_DOUBLE_EQ(m.GetIntrinsics().f, before.f / 2);
  EXPECT_DOUBLE_EQ(m.GetIntrinsics().kappa1, before.kappa1 * 4);
  EXPECT_EQ(m.GetResX(), 960u);

  // Unequal ratios: every projected pixel scales by (rx, ry).
  const CameraModelTsai original = MakeTsai();
  CameraModelTsai scaled = original;
  scaled.ScaleToResolution(1280, 1000);
  const double rx = 1280.0 / 1920.0, ry = 1000.0 / 1200.0;
  for (const math::Vec3d p : {math::Vec3d(100.0, 50.0, 600.0), math::Vec3d(-200.0, -90.0, 500.0)}) {
    math::Vec2d a, b;
    ASSERT_TRUE(original.CameraPointToPixel(a, p));
    ASSERT_TRUE(scaled.CameraPointToPixel(b, p));
    EXPECT_NEAR(b[0], a[0] * rx, 1e-9);
    EXPECT_NEAR(b[1], a[1] * ry, 1e-9);
  }
}

TEST(CameraModelOCV, WithoutDistortionHasNoMapAndInvertsEverywhere) {
  CameraModelOCV m;
  CameraModelOCVIntrinsics c;
  c.cx = 640.0, c.cy = 480.0, c.f = 1000.0, c.sx = 0.9;
  m.SetIntrinsics(c, 1280, 960);
  EXPECT_EQ(m.GetUndistortionMap(), nullptr);
  for (const math::Vec2d pixel : {math::Vec2d(-50.0, -70.0), math::Vec2d(1279.9, 959.9), math::Vec2d(3000.0, 5.0)}) {
    math::Vec3d ray;
    ASSERT_TRUE(m.PixelToCameraRay(ray, pixel));
    EXPECT_DOUBLE_EQ(ray[0], (pixel[0] - c.cx) / (c.f * c.sx));
    EXPECT_DOUBLE_EQ(ray[1], (pixel[1] - c.cy) / c.f);
    EXPECT_EQ(ray[2], 1.0);
  }
}

TEST(CameraModelOCV, MapBackProjectionInvertsProjection) {
  const CameraModelOCV m = MakeOCV();
  ASSERT_NE(m.GetUndistortionMap(), nullptr);
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> u(5.0, 1900.0), v(5.0, 1180.0);
  double worst = 0.0;
  for (int k = 0; k < 2000; ++k) {
    const math::Vec2d pixel(u(rng), v(rng));
    math::Vec3d ray;
    ASSERT_TRUE(m.PixelToCameraRay(ray, pixel));
    math::Vec2d back;
    ASSERT_TRUE(m.CameraPointToPixel(back, ray));
    worst = std::max(worst, (back - pixel).Length());
  }
  // Bilinear interpolation between samples 1.92 × 1.2 px apart: the error is
  // at most h²/8 times the curvature of the undistortion, which the
  // coefficients above keep below 1e-5 px⁻¹ over the image.
  EXPECT_LT(worst, 1e-3);
}

TEST(CameraModelOCV, IterativeUndistortionInvertsProjection) {
  CameraModelOCV m = MakeOCV();
  m.SetIntrinsicsWithoutMap(m.GetIntrinsics());
  ASSERT_EQ(m.GetUndistortionMap(), nullptr);
  for (const math::Vec3d p : {math::Vec3d(0.1, 0.05, 1.0), math::Vec3d(-0.3, 0.2, 1.0), math::Vec3d(0.35, -0.22, 1.0)}) {
    math::Vec2d pixel;
    math::Vec3d ray;
    ASSERT_TRUE(m.CameraPointToPixel(pixel, p));
    ASSERT_TRUE(m.PixelToCameraRay(ray, pixel));
    EXPECT_NEAR(ray[0], p[0], 1e-10);
    EXPECT_NEAR(ray[1], p[1], 1e-10);
  }
}

TEST(CameraModelOCV, PixelsOutsideTheMapCannotBeBackProjected) {
  const CameraModelOCV m = MakeOCV();
  math::Vec3d ray;
  EXPECT_TRUE(m.PixelToCameraRay(ray, {0.0, 0.0}));
  EXPECT_TRUE(m.PixelToCameraRay(ray, {1920.0 * 0.9989, 1200.0 * 0.9989}));
  EXPECT_FALSE(m.PixelToCameraRay(ray, {1920.0 * 0.999, 600.0}));  // map coordinate 999
  EXPECT_FALSE(m.PixelToCameraRay(ray, {900.0, 1200.0 * 0.9995}));
  EXPECT_FALSE(m.PixelToCameraRay(ray, {-0.01, 600.0}));
  EXPECT_FALSE(m.PixelToCameraRay(ray, {std::numeric_limits<double>::quiet_NaN(), 600.0}));
  math::Vec2d pixel;
  EXPECT_FALSE(m.CameraPointToPixel(pixel, {1.0, 1.0, 0.0}));
}

TEST(CameraModelOCV, ScaleToResolutionRebuildsTheMap) {
  CameraModelOCV m = MakeOCV();
  const auto oldMap = m.GetUndistortionMap();
  m.ScaleToResolution(960, 600);
  EXPECT_NE(m.GetUndistortionMap(), oldMap);
  EXPECT_NE(oldMap, nullptr);  // a holder of the old map keeps it
  EXPECT_DOUBLE_EQ(m.GetIntrinsics().f, 1250.0);
  EXPECT_DOUBLE_EQ(m.GetIntrinsics().k1, -0.08);
  math::Vec3d a, b;
  ASSERT_TRUE(MakeOCV().PixelToCameraRay(a, {800.0, 500.0}));
  ASSERT_TRUE(m.PixelToCameraRay(b, {400.0, 250.0}));
  EXPECT_LT((a - b).Length(), 1e-6);
}

TEST(CameraModelText, RoundTripIsExact) {
  const CameraModelTsai tsai = MakeTsai();
  std::string text;
  ASSERT_TRUE(tsai.WriteToXML(text));
  CameraModelTsai readTsai;
  ASSERT_TRUE(readTsai.ReadFromXML(text));
  EXPECT_EQ(readTsai.GetIntrinsics(), tsai.GetIntrinsics());
  EXPECT_EQ(readTsai.GetFrame_wTc(), tsai.GetFrame_wTc());
  EXPECT_EQ(readTsai.GetResX(), 1920u);
  EXPECT_EQ(readTsai.GetResY(), 1200u);

  const CameraModelOCV ocv = MakeOCV();
  text.clear();
  ASSERT_TRUE(ocv.WriteToXML(text));
  CameraModelOCV readOcv;
  ASSERT_TRUE(readOcv.ReadFromXML(text));
  EXPECT_EQ(readOcv.GetIntrinsics(), ocv.GetIntrinsics());
  EXPECT_EQ(readOcv.GetFrame_wTc(), ocv.GetFrame_wTc());
  ASSERT_NE(readOcv.GetUndistortionMap(), nullptr);
  math::Vec3d a, b;
  ASSERT_TRUE(ocv.PixelToCameraRay(a, {123.4, 567.8}));
  ASSERT_TRUE(readOcv.PixelToCameraRay(b, {123.4, 567.8}));
  EXPECT_EQ(a, b);
}

TEST(CameraModelText, LayoutAndDigits) {
  CameraModelTsai m;
  m.SetResolution(640, 480);
  m.SetIntrinsics(0.1, 2.0, 1000.0, 1.0, 0.0);
  std::string text = "prefix\n";
  ASSERT_TRUE(m.WriteToXML(text));
  EXPECT_EQ(text,
            "prefix\n"
            "<camera_model>CameraModelTsai</camera_model>\n"
            "<cx>0.10000000000000000555</cx>\n<cy>2</cy>\n<f>1000</f>\n<sx>1</sx>\n<kappa1>0</kappa1>\n"
            "<resX>640</resX>\n<resY>480</resY>\n"
            "<nx>1</nx>\n<ny>0</ny>\n<nz>0</nz>\n<ox>0</ox>\n<oy>1</oy>\n<oz>0</oz>\n"
            "<ax>0</ax>\n<ay>0</ay>\n<az>1</az>\n<px>0</px>\n<py>0</py>\n<pz>0</pz>\n");
  std::string ocv;
  MakeOCV().WriteToXML(ocv);
  EXPECT_THAT(ocv, HasSubstr("<camera_model>CameraModelOCV</camera_model>\n<cx>"));
  EXPECT_LT(ocv.find("<k3>"), ocv.find("<p1>"));
}

TEST(CameraModelText, MissingKappa1FailsAfterReadingTheRest) {
  std::string text;
  MakeTsai().WriteToXML(text);
  const std::size_t at = text.find("<kappa1>");
  text.erase(at, text.find('\n', at) - at + 1);
  CameraModelTsai m;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(m.ReadFromXML(text));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: cam::CameraModelTsai::Intrinsics::ReadFromXML - SimpleXML: 1 error(s)\n"
            " Could not find tag 'kappa1'.\n");
  EXPECT_EQ(m.GetIntrinsics().f, 2500.0);
  EXPECT_EQ(m.GetIntrinsics().kappa1, 0.0);  // previous value kept
  EXPECT_EQ(m.GetResX(), 1920u);
}

TEST(CameraModelText, MissingPoseFailsInTheBasePart) {
  std::string text;
  MakeOCV().WriteToXML(text);
  const std::size_t at = text.find("<py>");
  text.replace(at, text.find('\n', at) - at, "<py>1.5.3</py>");
  CameraModelOCV m;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(m.ReadFromXML(text));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: cam::CameraModel::ReadFromXML - SimpleXML: 1 error(s)\n"
            " Could not read a number from tag 'py'.\n"
            "Error: cam::CameraModelOCV::ReadFromXML - Could not read parameters of base class.\n");
  EXPECT_EQ(m.GetFrame_wTc(), math::Frame<double>());
}

TEST(CameraModelText, TruncatedAndCorruptTextFailsCleanly) {
  std::string text;
  MakeOCV().WriteToXML(text);
  testing::internal::CaptureStderr();
  int accepted = 0;
  for (std::size_t n = 0; n < text.size(); ++n) {
    CameraModelOCV m;
    accepted += m.ReadFromXML(text.substr(0, n));
  }
  // Only a cut inside the final newline keeps every tag complete.
  EXPECT_EQ(accepted, 1);
  for (const char* bad : {"<f>nan</f>", "<f>inf</f>", "<f>1e999</f>", "<f></f>", "<f>0x10</f>", "<f><g>1</g></f>"}) {
    std::string corrupt = text;
    const std::size_t at = corrupt.find("<f>");
    corrupt.replace(at, corrupt.find('\n', at) - at, bad);
    CameraModelOCV m;
    EXPECT_FALSE(m.ReadFromXML(corrupt)) << bad;
  }
  for (const char* bad : {"<resX>-1</resX>", "<resX>4294967296</resX>", "<resX>12 px</resX>"}) {
    std::string corrupt = text;
    const std::size_t at = corrupt.find("<resX>");
    corrupt.replace(at, corrupt.find('\n', at) - at, bad);
    CameraModelTsai m;
    EXPECT_FALSE(m.ReadFromXML(corrupt)) << bad;
  }
  CameraModelTsai degenerate;
  EXPECT_FALSE(degenerate.ReadFromXML("<nx>0</nx><ny>0</ny><nz>0</nz><ox>0</ox><oy>0</oy><oz>0</oz>"
                                      "<ax>0</ax><ay>0</ay><az>0</az><px>0</px><py>0</py><pz>0</pz>"));
  testing::internal::GetCapturedStderr();
}

TEST(SimpleXML, LooksUpTagsAnywhereAndSummarisesErrors) {
  SimpleXML reader("junk <a> 1.5 </a>\n<outer><b>7</b></outer><a>2</a>");
  double a = 0.0, c = -1.0;
  std::uint32_t b = 0;
  EXPECT_TRUE(reader.Read("a", a));
  EXPECT_EQ(a, 1.5);  // first occurrence
  EXPECT_TRUE(reader.Read("b", b));
  EXPECT_EQ(b, 7u);
  EXPECT_FALSE(reader.Read("c", c));
  EXPECT_EQ(c, -1.0);
  EXPECT_FALSE(reader.Read("outer", c));
  EXPECT_EQ(reader.GetErrorSummary(),
            "SimpleXML: 2 error(s)\n Could not find tag 'c'.\n Could not read a number from tag 'outer'.");
  SimpleXML broken("<a>1</a><b>2</");
  EXPECT_TRUE(broken.HasErrors());
  EXPECT_TRUE(broken.Read("a", a));
  EXPECT_EQ(a, 1.0);
}

TEST(CameraModelFunctions, WorldRoundTrips) {
  const CameraModelTsai m = MakeTsai();
  const math::Vec3d world(40.0, -25.0, 700.0);
  math::Vec2d pixel;
  ASSERT_TRUE(WorldPointToPixel(pixel, world, m));
  const double depth = WorldPointToDepth(world, m);
  EXPECT_DOUBLE_EQ(depth, m.GetFrame_cTw().MultP(world)[2]);
  math::Vec3d back;
  ASSERT_TRUE(DepthPixelToWorldPoint(back, pixel, depth, m));
  EXPECT_LT((back - world).Length(), 1e-9);
  math::Line3d line;
  ASSERT_TRUE(PixelToWorldLine(line, pixel, m));
  EXPECT_EQ(line.point, m.GetFrame_wTc().GetTrans());
  EXPECT_LT(math::Line_Point_Distance(line, world), 1e-9);

  CameraModelOCV flat;  // f = 0: nothing divides by zero
  EXPECT_FALSE(DepthPixelToWorldPoint(back, pixel, depth, flat));
  EXPECT_FALSE(WorldPointToPixel(pixel, world, flat));
}

TEST(CameraModelFunctions, TsaiConvertsToAnEquivalentOCVModel) {
  const CameraModelTsai tsai = MakeTsai(-3e-9);
  testing::internal::CaptureStdout();
  const CameraModelOCV ocv = ConvertCameraModelTsaiToOCV(tsai);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ocv.GetFrame_wTc(), tsai.GetFrame_wTc());
  EXPECT_EQ(ocv.GetIntrinsics().f, tsai.GetIntrinsics().f);
  EXPECT_EQ(ocv.GetIntrinsics().p1, 0.0);
  ASSERT_NE(ocv.GetUndistortionMap(), nullptr);
  // The radial polynomial of degree 6 approximates Tsai's inverse model to
  // far below a pixel over the fitted grid.
  double worst = 0.0;
  for (double u = 0.0; u < 1920.0; u += 96.0) {
    for (double v = 0.0; v < 1200.0; v += 60.0) {
      math::Vec3d ray;
      ASSERT_TRUE(tsai.PixelToCameraRay(ray, {u, v}));
      math::Vec2d pixel;
      ASSERT_TRUE(ocv.CameraPointToPixel(pixel, ray));
      worst = std::max(worst, (pixel - math::Vec2d(u, v)).Length());
    }
  }
  EXPECT_LT(worst, 0.01);
}

}  // namespace
}  // namespace cam
