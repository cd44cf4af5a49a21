#include "vid/JpegDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "vid/testing/ReplayV4l2Device.h"

namespace vid {
namespace {

double MeanAbsoluteError(const img::UniImage<img::RGB8>& a, const std::vector<std::uint8_t>& bgr,
                         std::size_t stride) {
  double sum = 0.0;
  for (std::uint32_t y = 0; y < a.height; ++y)
    for (std::uint32_t x = 0; x < a.width; ++x) {
      const img::RGB8& c = a(x, y);
      const std::uint8_t* p = &bgr[y * stride + 3 * x];
      sum += std::abs(p[0] - c.b) + std::abs(p[1] - c.g) + std::abs(p[2] - c.r);
    }
  return sum / (3.0 * a.size);
}

TEST(JpegDecoder, DecodesWebcamFramesIntoPaddedRowsOfColourOrGrey) {
  const auto scene = testing::ReplayScene(62, 40, 3);
  const auto jpeg = testing::EncodeJpeg(scene, 95);
  JpegDecoder decoder;
  int w = 0, h = 0;
  ASSERT_TRUE(decoder.ReadSize(jpeg.data(), jpeg.size(), w, h));
  EXPECT_EQ(w, 62);
  EXPECT_EQ(h, 40);
  const std::size_t stride = 188;  // 186 bytes of pixels + 2 padding
  std::vector<std::uint8_t> colour(stride * 40, 0xEE);
  ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), 62, 40, JpegDecoder::Output::kBgr24,
                             colour.data(), stride));
  EXPECT_LT(MeanAbsoluteError(scene, colour, stride), 4.0);
  EXPECT_EQ(colour[186], 0xEE) << "padding bytes are left alone";

  std::vector<std::uint8_t> grey(64 * 40);
  ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), 62, 40, JpegDecoder::Output::kGray8,
                             grey.data(), 64));
  double sum = 0.0;
  for (std::uint32_t y = 0; y < 40; ++y)
    for (std::uint32_t x = 0; x < 62; ++x)
      sum += std::abs(grey[y * 64 + x] - testing::ReplayGrey(scene(x, y)));
  EXPECT_LT(sum / (62 * 40), 4.0);
}

TEST(JpegDecoder, RefusesTruncatedCorruptAndMissizedFrames) {
  const auto jpeg = testing::EncodeJpeg(testing::ReplayScene(64, 48, 0), 90);
  JpegDecoder decoder;
  std::vector<std::uint8_t> out(64 * 48 * 3);
  // A frame cut short (lost USB packets): libjpeg would fill grey and warn.
  EXPECT_FALSE(decoder.Decode(jpeg.data(), jpeg.size() / 2, 64, 48, JpegDecoder::Output::kBgr24,
                              out.data(), 192));
  EXPECT_FALSE(decoder.GetError().empty());
  // Entropy-coded data overwritten in the middle.
  auto corrupt = jpeg;
  for (std::size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 64; ++i) corrupt[i] = 0xFF;
  EXPECT_FALSE(decoder.Decode(corrupt.data(), corrupt.size(), 64, 48, JpegDecoder::Output::kBgr24,
                              out.data(), 192));
  // Not a JPEG at all, and a frame of another size than negotiated.
  const std::uint8_t junk[16] = {1, 2, 3};
  int w = 0, h = 0;
  EXPECT_FALSE(decoder.ReadSize(junk, sizeof(junk), w, h));
  EXPECT_FALSE(decoder.Decode(jpeg.data(), jpeg.size(), 32, 48, JpegDecoder::Output::kBgr24,
                              out.data(), 192));
  EXPECT_NE(decoder.GetError().find("64 x 48"), std::string::npos);
  // The decoder stays usable after failures.
  EXPECT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), 64, 48, JpegDecoder::Output::kBgr24,
                             out.data(), 192));
}

}  // namespace
}  // namespace vid
