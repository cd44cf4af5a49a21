// The unit's camera model corrections and the texture filter, against
// values worked out by hand.
#include <gtest/gtest.h>

#include "devices/felvar/CameraModelFelvar.h"
#include "devices/felvar/ImageTextureFilter.h"
#include "vid/Image.h"

namespace felvar {
namespace {

CameraModelFelvar Model(std::uint32_t width, std::uint32_t height) {
  CameraModelFelvar model;
  model.SetResolution(width, height);
  model.SetIntrinsics(1100.0, 830.0, 1650.0, 1.0, 1e-8);
  return model;
}

TEST(CameraModelFelvar, PhaseOffsetsShiftTheBinnedModesOnly) {
  // (10, 11) at 2208: phase 0 + 2·1 = 2, shifted by (0.2, 0.2) before the
  // Tsai back-projection of that shifted pixel.
  const CameraModelFelvar half = Model(2208, 1656);
  cam::CameraModelTsai tsai;
  tsai.SetResolution(2208, 1656);
  tsai.SetIntrinsics(half.GetIntrinsics());
  math::Vec3d ray, expected;
  ASSERT_TRUE(half.PixelToCameraRay(ray, {10.0, 11.0}));
  ASSERT_TRUE(tsai.PixelToCameraRay(expected, {10.2, 11.2}));
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(ray[k], expected[k]);

  EXPECT_EQ(CameraModelFelvar::PhaseOffset({10.0, 11.0}, 2208), math::Vec2d(0.2, 0.2));
  EXPECT_EQ(CameraModelFelvar::PhaseOffset({11.5, 10.0}, 2208), math::Vec2d(-0.2, -0.2));
  EXPECT_EQ(CameraModelFelvar::PhaseOffset({3.0, 3.0}, 2208), math::Vec2d(-0.2, 0.2));
  EXPECT_EQ(CameraModelFelvar::PhaseOffset({4.0, 6.0}, 1104), math::Vec2d(0.2, -0.1));
  EXPECT_EQ(CameraModelFelvar::PhaseOffset({5.0, 7.9}, 1104), math::Vec2d(-0.2, 0.1));
  // Negative coordinates: −3 counts as odd, −2 as even.
  EXPECT_EQ(CameraModelFelvar::PhaseOffset({-3.0, -2.0}, 2208), math::Vec2d(-0.2, -0.2));
  // Full mode: no shift.
  const CameraModelFelvar full = Model(4416, 3312);
  tsai.SetResolution(4416, 3312);
  tsai.SetIntrinsics(full.GetIntrinsics());
  ASSERT_TRUE(full.PixelToCameraRay(ray, {10.0, 11.0}));
  ASSERT_TRUE(tsai.PixelToCameraRay(expected, {10.0, 11.0}));
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(ray[k], expected[k]);
}

TEST(CameraModelFelvar, ScalingBetweenModesShiftsThePrincipalPoint) {
  CameraModelFelvar model = Model(2208, 1656);
  model.ScaleToResolution(4416, 3312);
  EXPECT_DOUBLE_EQ(model.GetIntrinsics().cx, 2.0 * 1100.0 - 4.0);
  EXPECT_DOUBLE_EQ(model.GetIntrinsics().cy, 2.0 * 830.0 + 4.0);
  EXPECT_DOUBLE_EQ(model.GetIntrinsics().f, 2.0 * 1650.0);
  model.ScaleToResolution(1104, 828);
  EXPECT_DOUBLE_EQ(model.GetIntrinsics().cx, (2.0 * 1100.0 - 4.0) / 4.0 + 2.0);
  EXPECT_DOUBLE_EQ(model.GetIntrinsics().cy, (2.0 * 830.0 + 4.0) / 4.0 - 1.0);
  // To a size that is no sensor mode: the Tsai scaling alone.
  CameraModelFelvar other = Model(2208, 1656);
  other.ScaleToResolution(1000, 750);
  EXPECT_DOUBLE_EQ(other.GetIntrinsics().cx, 1100.0 * 1000.0 / 2208.0);
  const auto clone = other.CloneModel();
  EXPECT_TRUE(dynamic_cast<CameraModelFelvar*>(clone.get()));
}

vid::Image Colour(std::uint32_t width, std::uint32_t height) {
  img::UniImage<img::RGB8> image(width, height);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      image(x, y) =
          img::RGB8{std::uint8_t(30), std::uint8_t(10 * y), std::uint8_t(10 * x)};  // b, g, r
  return *vid::MakeColorImage(image, {});
}

TEST(ImageTextureFilter, BrightnessOfEveryFourthPixelDecides) {
  // Samples (0,0), (4,0), (0,4), (4,4): (0+0+30)/3 = 10, (40+0+30)/3 = 23,
  // (0+40+30)/3 = 23, (40+40+30)/3 = 36; their mean 92/4 = 23.
  const vid::Image frame = Colour(8, 8);
  EXPECT_EQ(ImageTextureFilter::Brightness(frame), 23u);

  ImageTextureFilter pass(22);
  ::testing::internal::CaptureStdout();
  const vid::FilterResult passed = pass.Filter(frame);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ImageTextureFilter, Y=23, Pass.\n");
  ASSERT_TRUE(passed.replacement);
  EXPECT_NE(passed.replacement->data->data, frame.data->data) << "an owned copy";
  EXPECT_FALSE(passed.drop);
  EXPECT_FALSE(passed.stop);

  ImageTextureFilter fail(23);
  ::testing::internal::CaptureStdout();
  const vid::FilterResult failed = fail.Filter(frame);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ImageTextureFilter, Y=23, Fail.\n");
  EXPECT_TRUE(failed.drop);
  EXPECT_FALSE(failed.replacement);
  EXPECT_FALSE(failed.stop);

  img::UniImage<std::uint8_t> grey(8, 8);
  grey = 200;
  ::testing::internal::CaptureStdout();
  const vid::FilterResult other = pass.Filter(*vid::MakeGrayImage(std::move(grey), {}));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(other.drop);
}

}  // namespace
}  // namespace felvar
