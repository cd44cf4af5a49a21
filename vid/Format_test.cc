#include "vid/Format.h"

#include <gtest/gtest.h>

#include "vid/Image.h"
#include "vid/Property.h"

namespace vid {
namespace {

TEST(Format, EmptyFormatIsNilAndZero) {
  EXPECT_TRUE(Format{}.IsEmpty());
  EXPECT_FALSE((Format{subtype::Y800, 0, 0, 0.0}).IsEmpty());
  EXPECT_EQ((Format{subtype::Y800, 640, 480, 30.0}), (Format{subtype::Y800, 640, 480, 30.0}));
  EXPECT_NE((Format{subtype::Y800, 640, 480, 30.0}), (Format{subtype::YUY2, 640, 480, 30.0}));
}

TEST(Format, SubtypesKeepThePlatformByteLayout) {
  // {32595559-0000-0010-8000-00AA00389B71}: the FOURCC in the first four bytes.
  const auto& b = subtype::YUY2.Bytes();
  EXPECT_EQ(b[0], 'Y');
  EXPECT_EQ(b[3], '2');
  EXPECT_EQ(b[6], 0x10);
  EXPECT_EQ(b[15], 0x71);
  EXPECT_EQ(subtype::RGB24.Bytes()[0], 0x7D);
  EXPECT_EQ(subtype::RGB24.Bytes()[3], 0xE4);
}

TEST(Format, MediaSubtypeNamesAndBracedGuidText) {
  EXPECT_EQ(MediaSubtype2String(subtype::BY8), "MEDIASUBTYPE_BY8");
  EXPECT_EQ(MediaSubtype2String(subtype::RGB8), "MEDIASUBTYPE_RGB8");
  EXPECT_EQ(MediaSubtype2String(subtype::RGB24), "MEDIASUBTYPE_RGB24");
  EXPECT_EQ(MediaSubtype2String(subtype::Y800), "MEDIASUBTYPE_Y800");
  EXPECT_EQ(MediaSubtype2String(subtype::YUY2), "MEDIASUBTYPE_YUY2");
  EXPECT_EQ(MediaSubtype2String(subtype::UYVY), "MEDIASUBTYPE_UYVY");
  EXPECT_EQ(MediaSubtype2String(subtype::RGB32), "{E436EB7E-524F-11CE-9F53-0020AF0BA770}");
  EXPECT_EQ(MediaSubtype2String(subtype::ARGB32), "{773C9AC0-3274-11D0-B724-00AA006C1A01}");
  EXPECT_EQ(MediaSubtype2String(utils::Guid()), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Format, BitsPerPixelColourAndStride) {
  EXPECT_EQ(BitsPerPixel(subtype::BY8), 8);
  EXPECT_EQ(BitsPerPixel(subtype::UYVY), 16);
  EXPECT_EQ(BitsPerPixel(subtype::RGB24), 24);
  EXPECT_EQ(BitsPerPixel(subtype::ARGB32), 32);
  EXPECT_EQ(BitsPerPixel(utils::Guid()), 0);
  EXPECT_FALSE(IsColorFormat(Format{subtype::Y800, 4, 4, 0}));
  EXPECT_TRUE(IsColorFormat(Format{subtype::BY8, 4, 4, 0}));
  EXPECT_FALSE(IsColorFormat(Format{}));
  // A 31-pixel-wide 24-bit row is 93 bytes, padded to 96.
  EXPECT_EQ(DefaultStride(Format{subtype::RGB24, 31, 1, 0}), 96);
  EXPECT_EQ(DefaultStride(Format{subtype::Y800, 640, 1, 0}), 640);
}

TEST(Format, PixelFormatNames) {
  for (int v = 0; v <= 4; ++v) {
    const auto format = static_cast<PixelFormat>(v);
    EXPECT_EQ(ParsePixelFormat(PixelFormatToString(format)), format);
  }
  EXPECT_EQ(PixelFormatToString(PixelFormat::Bgr24), "Bgr24");
  EXPECT_EQ(ParsePixelFormat("gray8"), PixelFormat::Unknown);
  EXPECT_EQ(ParsePixelFormat(""), PixelFormat::Unknown);
}

TEST(Property, ConvertersFormatOnlyRegisteredNames) {
  PropertyValueConverters converters;
  auto seconds = [](std::string& text, double v) {
    text = std::to_string(int(v * 1000)) + " ms";
    return true;
  };
  EXPECT_TRUE(converters.Add("exposure", seconds));
  EXPECT_FALSE(converters.Add("exposure", seconds));
  EXPECT_FALSE(converters.Add("gain", nullptr));
  std::string text = "old";
  EXPECT_TRUE(converters.Format(text, 0.25, "exposure"));
  EXPECT_EQ(text, "250 ms");
  EXPECT_FALSE(converters.Format(text, 0.25, "gain"));
  EXPECT_EQ(text, "");
}

TEST(MakeRawByteImage, EachBadArgumentHasItsMessage) {
  std::uint8_t buffer[640 * 2] = {};
  auto expectMessage = [&](Format format, std::int32_t stride, std::uint8_t* data,
                           const char* message) {
    try {
      MakeRawByteImage(format, stride, data, false);
      ADD_FAILURE() << "no exception for " << message;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expectMessage({subtype::Y800, 0, 2, 0}, 640, buffer, "MakeRawByteImage - format.width is < 1.");
  expectMessage({subtype::Y800, 640, 0, 0}, 640, buffer,
                "MakeRawByteImage - format.height is < 1.");
  expectMessage({subtype::Y800, 640, 2, 0}, 639, buffer,
                "MakeRawByteImage - stride < format.width.");
  expectMessage({subtype::Y800, 640, 2, 0}, 640, nullptr, "MakeRawByteImage - buffer is nullptr.");
}

TEST(MakeRawByteImage, ViewsOrCopiesTheRows) {
  std::uint8_t buffer[3 * 2] = {1, 2, 3, 4, 5, 6};
  const Format format{subtype::Y800, 2, 2, 0};
  const auto view = MakeRawByteImage(format, 3, buffer, false);
  EXPECT_EQ(view->data, buffer);
  EXPECT_FALSE(view->ownsData);
  EXPECT_EQ(view->width, 3u);  // the stride
  EXPECT_EQ(view->height, 2u);
  const auto copy = MakeRawByteImage(format, 3, buffer, true);
  EXPECT_NE(copy->data, buffer);
  EXPECT_TRUE(copy->ownsData);
  buffer[4] = 99;
  EXPECT_EQ((*copy)(1, 1), 5);

  Image image{view, format, ImageInfo{utils::Guid::NewGuid(), true, 1.5, nullptr}};
  const ImagePtr deep = CopyImage(image);
  ASSERT_TRUE(deep);
  EXPECT_TRUE(deep->data->ownsData);
  EXPECT_EQ(deep->Stride(), 3);
  EXPECT_EQ((*deep->data)(1, 1), 99);
  EXPECT_EQ(deep->info.sourceGuid, image.info.sourceGuid);
  EXPECT_TRUE(deep->info.flag);
  EXPECT_EQ(CopyImage(Image{}), nullptr);
}

}  // namespace
}  // namespace vid
