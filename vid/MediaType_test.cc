#include "vid/MediaType.h"

#include <gtest/gtest.h>

namespace vid {
namespace {

MediaType Grey(int w, int h, double fps) {
  return {Format{subtype::Y800, w, h, fps}, fourcc::GREY};
}
MediaType Yuyv(int w, int h, double fps) {
  return {Format{subtype::YUY2, w, h, fps}, fourcc::YUYV};
}
MediaType Jpeg(const utils::Guid& delivered, int w, int h, double fps) {
  return {Format{delivered, w, h, fps}, fourcc::MJPG};
}

TEST(MediaTypeChoice, WrongSizeStillWinsWhenRateAndSubtypeMatch) {
  // The device offers only 1280 × 960 while 744 × 480 is allowed: the size
  // point is lost, but rate and subtype still beat types that match nothing.
  const std::vector<Format> allowed = {{subtype::Y800, 744, 480, 60.0}};
  const std::vector<MediaType> types = {Yuyv(640, 480, 30.0), Grey(1280, 960, 25.0),
                                        Grey(1280, 960, 60.0)};
  EXPECT_EQ(ScoreMediaType(types[0], allowed[0]), 0);
  EXPECT_EQ(ScoreMediaType(types[1], allowed[0]), 1);
  EXPECT_EQ(ScoreMediaType(types[2], allowed[0]), 2);
  const MediaTypeChoice choice = ChooseMediaType(types, allowed);
  EXPECT_EQ(choice.index, 2);
  EXPECT_EQ(choice.score, 2);
}

TEST(MediaTypeChoice, OpenFieldsMatchAnythingAndTheEarlierTypeWinsTies) {
  // The descriptor of any camera: every subtype at any size and rate.
  std::vector<Format> allowed;
  for (const auto& s :
       {subtype::BY8, subtype::Y800, subtype::RGB24, subtype::YUY2, subtype::UYVY, subtype::RGB8})
    allowed.push_back({s, 0, 0, 0.0});
  const std::vector<MediaType> types = {Yuyv(640, 480, 30.0), Yuyv(1920, 1080, 5.0),
                                        Grey(1280, 720, 10.0)};
  for (const auto& type : types)
    EXPECT_EQ(ScoreMediaType(type, allowed[FindNearestAllowedFormat(type, allowed)]), 3);
  EXPECT_EQ(ChooseMediaType(types, allowed).index, 0);
}

TEST(MediaTypeChoice, RatesWithinOneThousandthCount) {
  const Format allowed{subtype::Y800, 744, 480, 60.0002};
  EXPECT_EQ(ScoreMediaType(Grey(744, 480, 60.0), allowed), 3);
  EXPECT_EQ(ScoreMediaType(Grey(744, 480, 59.94), allowed), 2);
}

TEST(MediaTypeChoice, NearestAllowedFormatOrdersWidthHeightSubtypeRate) {
  const std::vector<Format> allowed = {{subtype::YUY2, 1280, 720, 30.0},
                                       {subtype::Y800, 1920, 1200, 15.0},
                                       {subtype::Y800, 1920, 1200, 50.0},
                                       {subtype::YUY2, 1920, 1200, 60.0}};
  // Width first: 1920 beats 1280 even though the first format's subtype differs.
  // Then subtype Y800 over YUY2, then the nearer rate 50 over 15.
  EXPECT_EQ(FindNearestAllowedFormat(Grey(1920, 1200, 60.0), allowed), 2u);
  EXPECT_EQ(FindNearestAllowedFormat(Yuyv(1280, 720, 5.0), allowed), 0u);
}

TEST(MediaTypeChoice, MjpgIsChosenByItsDecodedSubtypeOrByName) {
  const std::vector<MediaType> types = {Yuyv(1920, 1080, 5.0),
                                        Jpeg(subtype::RGB24, 1920, 1080, 30.0),
                                        Jpeg(subtype::Y800, 1920, 1080, 30.0)};
  EXPECT_EQ(ChooseMediaType(types, {{subtype::RGB24, 1920, 1080, 30.0}}).index, 1);
  EXPECT_EQ(ChooseMediaType(types, {{subtype::Y800, 1920, 1080, 30.0}}).index, 2);
  EXPECT_EQ(ChooseMediaType(types, {{subtype::MJPG, 1920, 1080, 0.0}}).index, 1);
  // No subtype asked: the rate decides for the compressed stream.
  EXPECT_EQ(ChooseMediaType(types, {{utils::Guid(), 1920, 1080, 30.0}}).index, 1);
  // A YUY2 request at 30 fps: the uncompressed type keeps size and subtype.
  EXPECT_EQ(ChooseMediaType(types, {{subtype::YUY2, 1920, 1080, 30.0}}).index, 0);
}

TEST(MediaTypeChoice, NoTypesOrNoAllowedFormatsChooseNothing) {
  EXPECT_EQ(ChooseMediaType({}, {{subtype::Y800, 0, 0, 0}}).index, -1);
  EXPECT_EQ(ChooseMediaType({Grey(8, 8, 1)}, {}).index, -1);
}

TEST(Fourcc, CodesAndSubtypes) {
  EXPECT_EQ(FourccToString(fourcc::YUYV), "YUYV");
  EXPECT_EQ(FourccToString(0x01020304), "????");
  EXPECT_EQ(SubtypeOfFourcc(fourcc::GREY), subtype::Y800);
  EXPECT_EQ(SubtypeOfFourcc(fourcc::RGGB), subtype::BY8);
  EXPECT_TRUE(SubtypeOfFourcc(MakeFourcc('Y', '1', '6', ' ')).IsNull());
  for (const auto& s : {subtype::Y800, subtype::YUY2, subtype::UYVY, subtype::RGB24, subtype::BY8})
    EXPECT_EQ(SubtypeOfFourcc(FourccOfSubtype(s)), s);
}

}  // namespace
}  // namespace vid
