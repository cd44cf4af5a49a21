#include "v3d/Texture.h"

#include <gtest/gtest.h>

#include "v3d/Scene.h"
#include "v3d/TestDisplay.h"

namespace v3d {
namespace {

using testing::TestDisplay;

template <typename E>
void ExpectThrowText(const std::function<void()>& f, const char* text) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << text;
  } catch (const E& e) {
    EXPECT_STREQ(e.what(), text);
  }
}

TEST(Texture, SetPropsChecksFormatTypeAndSize) {
  Texture t;
  ExpectThrowText<std::invalid_argument>([&] { t.SetProps(4, 4, 0x1234, gl::kUnsignedByte); },
                                         "v3d::Texture::SetProps - Texture format is unknown or not supported.");
  ExpectThrowText<std::invalid_argument>([&] { t.SetProps(4, 4, gl::kRgb, 0x1407); },
                                         "v3d::Texture::SetProps - Texture data type is unknown or not supported.");
  ExpectThrowText<std::invalid_argument>([&] { t.SetProps(0, 4, gl::kRgb, gl::kUnsignedByte); },
                                         "v3d::Texture::SetProps - Width or height is less than 1.");
  ExpectThrowText<std::invalid_argument>([&] { t.SetProps(4, -1, gl::kRgb, gl::kUnsignedByte); },
                                         "v3d::Texture::SetProps - Width or height is less than 1.");

  struct Case {
    gl::Enum format, type;
    int components, bytes;
  };
  for (const Case c : {Case{gl::kRed, gl::kByte, 1, 1}, Case{gl::kLuminance, gl::kUnsignedShort, 1, 2},
                       Case{gl::kLuminanceAlpha, gl::kShort, 2, 2}, Case{gl::kRg, gl::kFloat, 2, 4},
                       Case{gl::kRgb, gl::kInt, 3, 4}, Case{gl::kBgr, gl::kUnsignedByte, 3, 1},
                       Case{gl::kRgba, gl::kUnsignedInt, 4, 4}, Case{gl::kBgra, gl::kUnsignedByte, 4, 1}}) {
    t.SetFilters(gl::kNearest, gl::kNearest);
    t.SetEnvMode(gl::kReplace);
    t.SetProps(5, 3, c.format, c.type);
    EXPECT_EQ(t.GetNumComponents(), c.components);
    EXPECT_EQ(t.GetBytesPerComponent(), c.bytes);
    EXPECT_EQ(t.GetImageDataSize(), std::size_t(15 * c.components * c.bytes));
    EXPECT_EQ(t.GetMinFilter(), gl::kLinear);
    EXPECT_EQ(t.GetMagFilter(), gl::kLinear);
    EXPECT_EQ(t.GetEnvMode(), gl::kModulate);
    EXPECT_EQ(t.GetWidth(), 5);
    EXPECT_EQ(t.GetTexWidth(), 5);
  }
}

TEST(Texture, ChangeImageChecksTheDataSize) {
  Texture t;
  const std::vector<std::uint8_t> pixels(2 * 2 * 3, 7);
  EXPECT_FALSE(t.ChangeImage(pixels.data(), pixels.size()));  // no properties yet
  t.SetProps(2, 2, gl::kRgb, gl::kUnsignedByte);
  EXPECT_FALSE(t.ChangeImage(pixels.data(), pixels.size() - 1));
  EXPECT_FALSE(t.HasData());
  EXPECT_TRUE(t.ChangeImage(pixels.data(), pixels.size()));
  EXPECT_EQ(t.GetData(), pixels);
  EXPECT_EQ(t.GetPendingRegion(), (TextureRegion{0, 0, 2, 2}));
  EXPECT_TRUE(t.ChangeImage(nullptr, 0));
  EXPECT_FALSE(t.HasData());

  img::RGBImage colour(3, 2);
  for (std::uint32_t i = 0; i < 6; ++i) colour.data[i] = img::RGB8::FromRGB(i, 2 * i, 3 * i);
  t.SetImage(colour);
  EXPECT_EQ(t.GetFormat(), gl::kBgr);
  EXPECT_EQ(t.GetData().size(), 18u);
  EXPECT_EQ(t.GetData()[3 * 5 + 2], 5);  // red of the last pixel, in b, g, r order
  img::GreyImage grey(4, 1);
  t.SetImage(grey);
  EXPECT_EQ(t.GetFormat(), gl::kLuminance);
  EXPECT_EQ(t.GetData().size(), 4u);
}

TEST(Texture, ResolutionLimitScalesTheAllocatedSize) {
  Texture t;
  t.SetProps(4000, 1000, gl::kRgb, gl::kUnsignedByte);
  t.SetTextureResolutionLimit(2048);
  EXPECT_EQ(t.GetTexWidth(), 2048);
  EXPECT_EQ(t.GetTexHeight(), 512);
  EXPECT_EQ(t.GetWidth(), 4000);
  t.SetTextureResolutionLimit(0);
  EXPECT_EQ(t.GetTexWidth(), 4000);
  t.SetTextureResolutionLimit(1);
  EXPECT_EQ(t.GetTexWidth(), 1);
  EXPECT_EQ(t.GetTexHeight(), 1);
}

TEST(Texture, TransferROIWithoutDisplayWaitsForTheNextUpdate) {
  Texture t;
  const std::vector<std::uint8_t> pixels(8 * 8, 1);
  ExpectThrowText<std::invalid_argument>([&] { t.TransferROI({0, 0, 1, 1}); },
                                         "v3d::Texture::TransferROI - Region of interest is invalid.");
  t.SetProps(8, 8, gl::kLuminance, gl::kUnsignedByte);
  for (const TextureRegion bad : {TextureRegion{0, 0, 0, 4}, TextureRegion{-1, 0, 2, 2},
                                  TextureRegion{7, 0, 2, 2}, TextureRegion{0, 5, 8, 4}}) {
    ExpectThrowText<std::invalid_argument>([&] { t.TransferROI(bad); },
                                           "v3d::Texture::TransferROI - Region of interest is invalid.");
  }
  ExpectThrowText<std::invalid_argument>([&] { t.TransferROI({0, 0, 8, 8}); },
                                         "v3d::Texture::TransferROI - Texture data buffer is NULL.");
  t.ChangeImage(pixels.data(), pixels.size());
  t.ChangeImage(nullptr, 0);
  t.ChangeImage(pixels.data(), pixels.size());
  t.TransferROI({1, 1, 2, 2});  // pending already covers the image
  EXPECT_EQ(t.GetPendingRegion(), (TextureRegion{0, 0, 8, 8}));
  EXPECT_EQ((TextureRegion{1, 1, 2, 2}.United({5, 0, 1, 7})), (TextureRegion{1, 0, 5, 7}));
}

TEST(Texture, UploadsGoThroughTheDisplay) {
  TestDisplay display;
  Scene scene;
  scene.SetDisplay(&display);
  Texture t;
  const std::vector<std::uint8_t> pixels(8 * 4 * 4, 1);
  t.ChangeImage(8, 4, gl::kRgba, gl::kUnsignedByte, pixels.data());
  ASSERT_EQ(scene.AddTexture(&t), 0);
  display.log.clear();
  t.OnUpdate(display);  // the renderer's call, context current in real use
  EXPECT_EQ(display.log, (std::vector<std::string>{"bind 1 (not current)", "params (not current)",
                                                   "init 8x4 (not current)", "sub 0,0 8x4 (not current)"}));
  EXPECT_TRUE(t.GetPendingRegion().IsEmpty());
  display.log.clear();
  t.OnUpdate(display);  // nothing pending
  EXPECT_TRUE(display.log.empty());
  t.TransferROI({2, 1, 3, 2});  // at once, with the context current
  EXPECT_EQ(display.log, (std::vector<std::string>{"current", "bind 1", "sub 2,1 3x2", "release"}));

  display.failSubImage = true;
  ExpectThrowText<std::runtime_error>([&] { t.TransferROI({0, 0, 1, 1}); },
                                      "v3d::Texture::TransferROI - glTexSubImage2D failed.");
  display.failBind = true;
  ExpectThrowText<std::runtime_error>([&] { t.TransferROI({0, 0, 1, 1}); },
                                      "v3d::Texture::TransferROI - glBindTexture failed.");
  display.failBind = display.failSubImage = false;
  t.SetTextureResolutionLimit(4);  // storage must be made again
  display.failInit = true;
  ExpectThrowText<std::runtime_error>([&] { t.TransferROI({0, 0, 1, 1}); },
                                      "v3d::Texture::TransferROI - Init texture failed.");
  display.failParams = true;
  ExpectThrowText<std::runtime_error>(
      [&] { t.TransferROI({0, 0, 1, 1}); },
      "v3d::Texture::SetupTextureParameters - Setting up texture parameters failed.");
  display.failParams = display.failInit = false;
  display.log.clear();
  t.OnUpdate(display);
  EXPECT_EQ(display.log, (std::vector<std::string>{"bind 1 (not current)", "params (not current)",
                                                   "init 4x2 (not current)", "sub 0,0 8x4 (not current)"}));
  t.ChangeImage(nullptr, 0);
  ExpectThrowText<std::runtime_error>([&] { t.OnUpdate(display); },
                                      "v3d::Texture::OnUpdate - Texture data buffer is NULL.");
  scene.RemoveTexture(&t);
  EXPECT_EQ(display.log.back(), "release");
  EXPECT_EQ(display.log[display.log.size() - 2], "delete 1");
  EXPECT_EQ(t.GetGLName(), 0u);
  scene.SetDisplay(nullptr);
}

}  // namespace
}  // namespace v3d
