#include "vid/ImageConversion.h"

#include <gtest/gtest.h>

#include <vector>

namespace vid {
namespace {

using img::RGB8;
using Grey = img::UniImage<std::uint8_t>;
using Color = img::UniImage<RGB8>;

// An owned frame of `height` rows of `stride` bytes.
Image MakeFrame(const utils::Guid& subtype, int width, int height, int stride,
                std::vector<std::uint8_t> bytes) {
  EXPECT_EQ(bytes.size(), std::size_t(stride) * height);
  Image image;
  image.format = Format{subtype, width, height, 30.0};
  image.data = MakeRawByteImage(image.format, stride, bytes.data(), true);
  return image;
}

void ExpectLogicError(const std::function<void()>& call, const char* message) {
  try {
    call();
    ADD_FAILURE() << "no exception, expected " << message;
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

// A 4×2 YUY2 frame, rows padded to 12 bytes with 0xEE. Pixels: black, white,
// and two pixels of the BT.601 red (Y 81, U 90, V 240); row 1 mid grey.
Image Yuy2Frame() {
  return MakeFrame(subtype::YUY2, 4, 2, 12,
                   {16,  128, 235, 128, 81,  90,  81,  240, 0xEE, 0xEE, 0xEE, 0xEE,  //
                    126, 128, 126, 128, 126, 128, 126, 128, 0xEE, 0xEE, 0xEE, 0xEE});
}

TEST(ImageConversion, Yuy2GreyTakesTheLuminanceBytes) {
  Grey grey;
  ASSERT_TRUE(ConvertToGray(Yuy2Frame(), grey));
  ASSERT_EQ(grey.width, 4u);
  ASSERT_EQ(grey.height, 2u);
  EXPECT_EQ(grey(0, 0), 16);
  EXPECT_EQ(grey(1, 0), 235);
  EXPECT_EQ(grey(2, 0), 81);
  EXPECT_EQ(grey(3, 0), 81);
  EXPECT_EQ(grey(3, 1), 126);
}

TEST(ImageConversion, Yuy2AndUyvyGiveTheSameBt601Colours) {
  // (298·65 + 409·112 + 128) >> 8 = 255 for red; green (2 >> 8) = 0; blue
  // (−110 >> 8) clipped to 0. Y 126 neutral: (298·110 + 128) >> 8 = 128.
  const Image yuy2 = Yuy2Frame();
  const Image uyvy =
      MakeFrame(subtype::UYVY, 4, 2, 12, {128, 16,  128, 235, 90,  81,  240, 81,  0, 0, 0, 0,  //
                                          128, 126, 128, 126, 128, 126, 128, 126, 0, 0, 0, 0});
  for (const Image* frame : {&yuy2, &uyvy}) {
    Color color;
    ASSERT_TRUE(ConvertToColor(*frame, color));
    EXPECT_EQ(color(0, 0), RGB8::FromRGB(0, 0, 0));
    EXPECT_EQ(color(1, 0), RGB8::FromRGB(255, 255, 255));
    EXPECT_EQ(color(2, 0), RGB8::FromRGB(255, 0, 0));
    EXPECT_EQ(color(3, 0), RGB8::FromRGB(255, 0, 0));
    EXPECT_EQ(color(0, 1), RGB8::FromRGB(128, 128, 128));
  }
  Grey grey;
  ASSERT_TRUE(ConvertToGray(uyvy, grey));
  EXPECT_EQ(grey(1, 0), 235);
}

TEST(ImageConversion, SixteenBitNeedsEvenWidthAndFullSize) {
  Grey grey;
  const Image odd = MakeFrame(subtype::YUY2, 3, 1, 8, std::vector<std::uint8_t>(8, 100));
  EXPECT_FALSE(ConvertToGray(odd, grey));
  EXPECT_TRUE(grey.IsEmpty());
  ExpectLogicError([&] { ConvertToGray(Yuy2Frame(), grey, 1); },
                   "Resampling not implemented for formats with 16bpp.");
}

// RGGB tile (R at even x, even y):
//   100  50 120  60
//    40 200  44 220
//    80  30 140  70
//    20 180  24 160
Image BayerTile() {
  return MakeFrame(subtype::BY8, 4, 4, 4,
                   {100, 50, 120, 60, 40, 200, 44, 220, 80, 30, 140, 70, 20, 180, 24, 160});
}

TEST(ImageConversion, BayerIsDebayeredBilinearlyWithMirroredBorders) {
  Color color;
  ASSERT_TRUE(ConvertToColor(BayerTile(), color));
  // Blue site (1,1): red = diagonal mean (100+120+80+140)/4, green = (50+40+44+30)/4.
  EXPECT_EQ(color(1, 1), RGB8::FromRGB(110, 41, 200));
  // Red corner (0,0): mirrored neighbours are (1,0), (0,1) and (1,1) twice each.
  EXPECT_EQ(color(0, 0), RGB8::FromRGB(100, 45, 200));
  // Green site on a red row: red from left and right, blue from above (mirrored) and below.
  EXPECT_EQ(color(1, 0), RGB8::FromRGB(110, 50, 200));
  // Blue corner (3,3): red is (2,2) four times, green (70+70+24+24)/4.
  EXPECT_EQ(color(3, 3), RGB8::FromRGB(140, 47, 160));
  // Interior green on a blue row: blue (200+220)/2 from the sides, red (120+140)/2 vertically.
  EXPECT_EQ(color(2, 1), RGB8::FromRGB(130, 44, 210));
  // Interior green on a red row: red (80+140)/2 from the sides, blue (200+180)/2 vertically.
  EXPECT_EQ(color(1, 2), RGB8::FromRGB(110, 30, 190));
  // Interior red site: green (44+24+30+70+2)/4, blue (200+220+180+160)/4.
  EXPECT_EQ(color(2, 2), RGB8::FromRGB(140, 42, 190));

  Grey grey;
  ASSERT_TRUE(ConvertToGray(BayerTile(), grey));
  EXPECT_EQ(grey(1, 1), (110 + 41 + 200) / 3);
  EXPECT_EQ(grey(0, 0), (100 + 45 + 200) / 3);
}

TEST(ImageConversion, HalfSizeBayerGivesOnePixelPerCell) {
  Color color;
  ASSERT_TRUE(ConvertToColor(BayerTile(), color, 1));
  ASSERT_EQ(color.width, 2u);
  ASSERT_EQ(color.height, 2u);
  EXPECT_EQ(color(0, 0), RGB8::FromRGB(100, 45, 200));  // green (50 + 40 + 1) / 2
  EXPECT_EQ(color(1, 0), RGB8::FromRGB(120, 52, 220));  // green (60 + 44 + 1) / 2
  EXPECT_EQ(color(1, 1), RGB8::FromRGB(140, 47, 160));
  Color tiny;
  EXPECT_FALSE(
      ConvertToColor(MakeFrame(subtype::BY8, 1, 4, 4, std::vector<std::uint8_t>(16)), tiny));
}

TEST(ImageConversion, GreyRowsAreCopiedAcrossTheStrideAndHalved) {
  // 3×4 grey with rows padded to 4 bytes; padding 0xEE must never show up.
  const Image frame = MakeFrame(subtype::Y800, 3, 4, 4,
                                {1, 2, 3, 0xEE, 4, 5, 6, 0xEE, 7, 8, 9, 0xEE, 10, 11, 12, 0xEE});
  Grey grey;
  ASSERT_TRUE(ConvertToGray(frame, grey));
  EXPECT_EQ(grey.width, 3u);
  EXPECT_EQ(std::vector<std::uint8_t>(grey.data, grey.data + grey.size),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  ASSERT_TRUE(ConvertToGray(frame, grey, 1));
  ASSERT_EQ(grey.width, 1u);
  ASSERT_EQ(grey.height, 2u);
  EXPECT_EQ(grey(0, 0), 1);
  EXPECT_EQ(grey(0, 1), 7);
  Color color;
  ASSERT_TRUE(ConvertToColor(frame, color));
  EXPECT_EQ(color(2, 3), RGB8::FromRGB(12, 12, 12));
}

TEST(ImageConversion, PaletteFramesUseThePaletteOnlyAtFullSize) {
  Image frame = MakeFrame(subtype::RGB8, 4, 1, 4, {0, 1, 2, 3});
  auto meta = std::make_shared<ImageMetadata>();
  meta->palette = {RGB8::FromRGB(255, 0, 0), RGB8::FromRGB(0, 30, 0), RGB8::FromRGB(9, 9, 9)};
  frame.info.metadata = meta;
  Color color;
  ASSERT_TRUE(ConvertToColor(frame, color));
  EXPECT_EQ(color(0, 0), RGB8::FromRGB(255, 0, 0));
  EXPECT_EQ(color(1, 0), RGB8::FromRGB(0, 30, 0));
  EXPECT_EQ(color(3, 0), RGB8::FromRGB(0, 0, 0));  // beyond the palette
  Grey grey;
  ASSERT_TRUE(ConvertToGray(frame, grey));
  EXPECT_EQ(grey(0, 0), 85);
  EXPECT_EQ(grey(1, 0), 10);
  frame.info.metadata = nullptr;  // no palette: the index is the grey level
  ASSERT_TRUE(ConvertToGray(frame, grey));
  EXPECT_EQ(grey(3, 0), 3);
  ExpectLogicError([&] { ConvertToGray(frame, grey, 1); },
                   "Resampling not implemented for formats with color palette.");
  ExpectLogicError([&] { ConvertToColor(frame, color, 2); },
                   "Resampling not implemented for formats with color palette.");
}

TEST(ImageConversion, TwentyFourAndThirtyTwoBitFrames) {
  // Bytes are blue, green, red (then one unused byte for 32 bits).
  const Image rgb24 = MakeFrame(subtype::RGB24, 2, 1, 8, {30, 20, 10, 0, 0, 255, 0xEE, 0xEE});
  Grey grey;
  ASSERT_TRUE(ConvertToGray(rgb24, grey));
  EXPECT_EQ(grey(0, 0), 20);
  EXPECT_EQ(grey(1, 0), 85);
  Color color;
  ASSERT_TRUE(ConvertToColor(rgb24, color));
  EXPECT_EQ(color(0, 0), RGB8::FromRGB(10, 20, 30));
  ExpectLogicError([&] { ConvertToGray(rgb24, grey, 1); },
                   "Resampling not implemented for formats with 24bpp.");

  const Image rgb32 =
      MakeFrame(subtype::RGB32, 2, 2, 8, {3, 6, 9, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(ConvertToGray(rgb32, grey, 1));
  ASSERT_EQ(grey.size, 1);
  EXPECT_EQ(grey(0, 0), 6);
  ASSERT_TRUE(ConvertToColor(rgb32, color));
  EXPECT_EQ(color(0, 0), RGB8::FromRGB(9, 6, 3));
}

TEST(ImageConversion, FramesThatDoNotMatchTheirFormatAreRejected) {
  Grey grey;
  grey.ResetSize(1, 1);
  grey(0, 0) = 42;
  // Stride ≥ width but shorter than the 3 bytes per pixel of RGB24.
  const Image shortRows = MakeFrame(subtype::RGB24, 4, 1, 8, std::vector<std::uint8_t>(8));
  EXPECT_FALSE(ConvertToGray(shortRows, grey));
  // Fewer rows than the format says.
  Image fewRows = MakeFrame(subtype::Y800, 4, 2, 4, std::vector<std::uint8_t>(8));
  fewRows.format.height = 3;
  EXPECT_FALSE(ConvertToGray(fewRows, grey));
  // Unknown subtype (0 bits per pixel) and missing data.
  Image unknown = MakeFrame(utils::Guid(), 4, 1, 4, std::vector<std::uint8_t>(4));
  EXPECT_FALSE(ConvertToGray(unknown, grey));
  EXPECT_FALSE(ConvertToGray(Image{}, grey));
  EXPECT_EQ(grey.width, 1u);
  EXPECT_EQ(grey(0, 0), 42);
}

TEST(ImageConversion, RotationCodes) {
  // 3×2:  1 2 3
  //       4 5 6
  const Image frame = MakeFrame(subtype::Y800, 3, 2, 3, {1, 2, 3, 4, 5, 6});
  auto pixels = [](const Grey& g) { return std::vector<std::uint8_t>(g.data, g.data + g.size); };
  Grey grey;
  ASSERT_TRUE(ConvertToGray(frame, grey, 0, kRotationRight));
  EXPECT_EQ(grey.width, 2u);
  EXPECT_EQ(grey.height, 3u);
  EXPECT_EQ(pixels(grey), (std::vector<std::uint8_t>{4, 1, 5, 2, 6, 3}));
  ASSERT_TRUE(ConvertToGray(frame, grey, 0, kRotationLeft));
  EXPECT_EQ(pixels(grey), (std::vector<std::uint8_t>{3, 6, 2, 5, 1, 4}));
  ASSERT_TRUE(ConvertToGray(frame, grey, 0, kRotation180));
  EXPECT_EQ(pixels(grey), (std::vector<std::uint8_t>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(kRotationLeft, static_cast<std::uint32_t>(-1));
  EXPECT_THROW(ConvertToGray(frame, grey, 0, 3), std::invalid_argument);
  Color color;
  ASSERT_TRUE(ConvertToColor(frame, color, 0, kRotationRight));
  EXPECT_EQ(color(0, 0), RGB8::FromRGB(4, 4, 4));
}

TEST(ImageConversion, ViewAsGrayAvoidsCopiesOnlyForTightGreyFrames) {
  const Image tight = MakeFrame(subtype::Y800, 4, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
  Grey view;
  ASSERT_TRUE(ViewAsGray(tight, view));
  EXPECT_EQ(view.data, tight.data->data);
  EXPECT_FALSE(view.ownsData);
  const Image padded = MakeFrame(subtype::Y800, 3, 2, 4, {1, 2, 3, 0, 5, 6, 7, 0});
  Grey copy;
  ASSERT_TRUE(ViewAsGray(padded, copy));
  EXPECT_TRUE(copy.ownsData);
  EXPECT_EQ(copy(0, 1), 5);
}

TEST(ImageConversion, TakeAsGrayMovesOwnedUnsharedBuffers) {
  Image frame = MakeFrame(subtype::Y800, 4, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
  const std::uint8_t* bytes = frame.data->data;
  Grey grey;
  ASSERT_TRUE(TakeAsGray(frame, grey));
  EXPECT_EQ(grey.data, bytes);
  EXPECT_EQ(frame.data, nullptr);

  Image shared = MakeFrame(subtype::Y800, 4, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
  const auto keep = shared.data;
  ASSERT_TRUE(TakeAsGray(shared, grey));
  EXPECT_NE(grey.data, keep->data);
  EXPECT_NE(shared.data, nullptr);

  Image rotated = MakeFrame(subtype::Y800, 4, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(TakeAsGray(rotated, grey, kRotationRight));
  EXPECT_EQ(grey.width, 2u);
  EXPECT_EQ(grey(0, 0), 5);
  EXPECT_NE(rotated.data, nullptr);
}

TEST(ImageConversion, GreyAndColourImagesWrapIntoFramesAndBack) {
  Grey grey(3, 2);
  for (int i = 0; i < 6; ++i) grey.data[i] = static_cast<std::uint8_t>(10 * i);
  const std::uint8_t* bytes = grey.data;
  const ImageInfo info{utils::Guid::NewGuid(), true, 2.5, nullptr};
  const ImagePtr frame = MakeGrayImage(std::move(grey), info, 30.0);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->data->data, bytes);  // no copy
  EXPECT_EQ(frame->format, (Format{subtype::Y800, 3, 2, 30.0}));
  EXPECT_EQ(frame->info.sourceGuid, info.sourceGuid);
  EXPECT_EQ(MakeGrayImage(Grey(), info), nullptr);

  Color color(2, 1);
  color(0, 0) = RGB8::FromRGB(1, 2, 3);
  color(1, 0) = RGB8::FromRGB(250, 128, 0);
  const ImagePtr colourFrame = MakeColorImage(color, info);
  ASSERT_TRUE(colourFrame);
  EXPECT_EQ(colourFrame->format.mediaSubtype, subtype::RGB24);
  Color back;
  ASSERT_TRUE(ConvertToColor(*colourFrame, back));
  EXPECT_EQ(back(0, 0), color(0, 0));
  EXPECT_EQ(back(1, 0), color(1, 0));
}

}  // namespace
}  // namespace vid
