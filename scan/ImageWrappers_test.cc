#include "scan/ImageWrappers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "scan/ImageLiveFilter.h"
#include "scan/SLSingleColorPattern.h"
#include "vid/FrameDelivery.h"
#include "vid/ImageConversion.h"

namespace scan {
namespace {

// An owned frame of `format` whose byte at (row y, byte x) is byteAt(x, y).
template <typename F>
vid::ImagePtr Frame(const vid::Format& format, std::int32_t stride, F byteAt) {
  std::vector<std::uint8_t> bytes(std::size_t(stride) * format.height);
  for (std::int32_t y = 0; y < format.height; ++y)
    for (std::int32_t x = 0; x < stride; ++x) bytes[std::size_t(y) * stride + x] = byteAt(x, y);
  auto image = std::make_shared<vid::Image>();
  image->format = format;
  image->data = vid::MakeRawByteImage(format, stride, bytes.data(), true);
  image->info.timestamp = 1.5;
  image->info.sourceGuid = utils::Guid::NewGuid();
  return image;
}

vid::ImagePtr GreyFrame(std::int32_t w, std::int32_t h, std::uint8_t level) {
  return Frame(vid::Format{vid::subtype::Y800, w, h, 30.0}, w, [&](int, int) { return level; });
}

// Each pixel (x, y) of a Y800 frame holds x + 10·y.
vid::ImagePtr RampFrame(std::int32_t w, std::int32_t h, std::int32_t stride) {
  return Frame(vid::Format{vid::subtype::Y800, w, h, 30.0}, stride,
               [](int x, int y) { return std::uint8_t(x + 10 * y); });
}

struct StoreFixture {
  std::vector<SLPatternPtr> patterns{SLSingleColorPattern::GrayPattern(10),
                                     SLSingleColorPattern::GrayPattern(20),
                                     SLSingleColorPattern::GrayPattern(30)};
  std::size_t current = 0;
  std::vector<std::size_t> events;
  SLScannedImagesStorePtr store = std::make_shared<SLScannedImagesStore>();

  ImageStoreWrapper Wrapper(std::uint32_t rotation = vid::kRotationNone, std::size_t camera = 7) {
    return ImageStoreWrapper([this] { return patterns[current]; },
                             [this](std::size_t c) { events.push_back(c); }, store, camera,
                             patterns.size(), rotation);
  }
};

TEST(ImageStoreWrapper, ConstructionChecksItsCollaboratorsInOrder) {
  auto store = std::make_shared<SLScannedImagesStore>();
  auto pattern = [] { return SLPatternPtr(); };
  auto event = [](std::size_t) {};
  auto message = [](auto make) {
    try {
      make();
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { ImageStoreWrapper({}, {}, nullptr, 0, 1, 0); }),
            "ImageStoreWrapper - getPatternFunc is nullptr.");
  EXPECT_EQ(message([&] { ImageStoreWrapper(pattern, {}, nullptr, 0, 1, 0); }),
            "ImageStoreWrapper - imageCapturedEvent is nullptr.");
  EXPECT_EQ(message([&] { ImageStoreWrapper(pattern, event, nullptr, 0, 1, 0); }),
            "ImageStoreWrapper - scannedImagesStore is nullptr.");
  EXPECT_EQ(message([&] { ImageStoreWrapper(pattern, event, store, 0, 1, 5); }),
            "ImageStoreWrapper - rotation is not a rotation code.");
  ImageStoreWrapper wrapper(pattern, event, store, 0, 1, 0);
  EXPECT_EQ(message([&] { wrapper.PushImage(nullptr); }),
            "ImageStoreWrapper::PushImage - image is nullptr.");
}

TEST(ImageStoreWrapper, UnrotatedGreyFrameIsMovedWithoutACopy) {
  StoreFixture f;
  ImageStoreWrapper wrapper = f.Wrapper();
  vid::ImagePtr frame = RampFrame(8, 6, 8);
  const std::uint8_t* pixels = frame->data->data;
  EXPECT_TRUE(wrapper.PushImage(std::move(frame)));
  auto stored = f.store->GrayImageOf(f.patterns[0]);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->data, pixels);
  EXPECT_EQ((*stored)(7, 5), 57);
  EXPECT_EQ(f.events, std::vector<std::size_t>{7});
}

TEST(ImageStoreWrapper, PaddedOrRotatedGreyFramesAreConverted) {
  StoreFixture f;
  ImageStoreWrapper wrapper = f.Wrapper(vid::kRotationRight);
  EXPECT_TRUE(wrapper.PushImage(RampFrame(8, 6, 12)));  // stride 12: padded rows
  auto stored = f.store->GrayImageOf(f.patterns[0]);
  ASSERT_TRUE(stored);
  // 90° clockwise: an 8 × 6 frame becomes 6 × 8; (x, y) lands on (h−1−y, x).
  ASSERT_EQ(stored->width, 6u);
  ASSERT_EQ(stored->height, 8u);
  for (std::uint32_t y = 0; y < 6; ++y)
    for (std::uint32_t x = 0; x < 8; ++x) EXPECT_EQ((*stored)(5 - y, x), x + 10 * y);
}

TEST(ImageStoreWrapper, ColourPatternsGetColourFrames) {
  StoreFixture f;
  f.patterns[1]->SetCaptureType(1);
  ImageStoreWrapper wrapper = f.Wrapper(vid::kRotation180);
  EXPECT_TRUE(wrapper.PushImage(RampFrame(4, 3, 4)));
  f.current = 1;
  // RGB24 bytes blue, green, red per pixel; pixel (x, y) = (x, y, 99).
  auto color = Frame(vid::Format{vid::subtype::RGB24, 4, 3, 30.0}, 12, [](int x, int y) {
    const int c = x % 3;
    return std::uint8_t(c == 0 ? x / 3 : c == 1 ? y : 99);
  });
  EXPECT_TRUE(wrapper.PushImage(color));
  auto stored = f.store->ColorImageOf(f.patterns[1]);
  ASSERT_TRUE(stored);
  EXPECT_FALSE(f.store->GrayImageOf(f.patterns[1]));
  // Half turn: (x, y) lands on (3 − x, 2 − y).
  EXPECT_EQ((*stored)(3, 2), (img::RGB8{0, 0, 99}));
  EXPECT_EQ((*stored)(0, 0), (img::RGB8{3, 2, 99}));
  EXPECT_EQ(f.store->Count(), 2u);
}

TEST(ImageStoreWrapper, ASecondFrameForThePatternIsDroppedButStillReported) {
  StoreFixture f;
  ImageStoreWrapper wrapper = f.Wrapper();
  EXPECT_TRUE(wrapper.PushImage(GreyFrame(4, 4, 1)));
  EXPECT_TRUE(wrapper.PushImage(GreyFrame(4, 4, 2)));
  EXPECT_EQ(f.store->Count(), 1u);
  EXPECT_EQ(f.store->GrayImageOf(f.patterns[0])->data[0], 1);
  EXPECT_EQ(f.events.size(), 2u);
}

TEST(ImageStoreWrapper, TheLastFrameEndsTheDeliveryAndLaterOnesAreNotLookedAt) {
  StoreFixture f;
  ImageStoreWrapper wrapper = f.Wrapper();
  EXPECT_TRUE(wrapper.PushImage(GreyFrame(4, 4, 1)));
  f.current = 1;
  EXPECT_TRUE(wrapper.PushImage(GreyFrame(4, 4, 2)));
  f.current = 2;
  EXPECT_FALSE(wrapper.PushImage(GreyFrame(4, 4, 3)));
  EXPECT_EQ(f.events.size(), 3u);
  EXPECT_FALSE(wrapper.PushImage(GreyFrame(4, 4, 4)));
  EXPECT_EQ(f.events.size(), 3u);
  EXPECT_EQ(f.store->Count(), 3u);
}

TEST(ImageStoreWrapper, UnreadableOrResizedFramesAreRejected) {
  StoreFixture f;
  ImageStoreWrapper wrapper = f.Wrapper();
  // An unknown subtype cannot be converted; pixel data shorter than the
  // format says is never read.
  auto unknown = GreyFrame(4, 4, 9);
  unknown->format.mediaSubtype = vid::subtype::FromFourcc('H', '2', '6', '4');
  EXPECT_TRUE(wrapper.PushImage(unknown));
  auto shortData = GreyFrame(4, 4, 9);
  shortData->format.height = 40;
  EXPECT_TRUE(wrapper.PushImage(shortData));
  EXPECT_EQ(f.store->Count(), 0u);
  EXPECT_TRUE(f.events.empty());
  EXPECT_TRUE(wrapper.PushImage(GreyFrame(4, 4, 9)));
  f.current = 1;
  EXPECT_TRUE(wrapper.PushImage(GreyFrame(6, 4, 9)));  // another size than the first
  EXPECT_EQ(f.store->Count(), 1u);
  EXPECT_EQ(f.events.size(), 1u);
}

AcquisitionParameters EveryFrame(int noiseReduction = 0) {
  AcquisitionParameters p;
  p.imageContentSensitivity = 100;
  p.imageSkipCount = 0;
  p.noiseReduction = noiseReduction;
  return p;
}

TEST(ImageFilterWrapper, AcceptedGreyFramesKeepTheirMetadata) {
  EXPECT_THROW(ImageFilterWrapper(nullptr), std::invalid_argument);
  ImageFilterWrapper wrapper(std::make_shared<ImageFilter>(EveryFrame()));
  const vid::ImagePtr first = RampFrame(8, 6, 12);
  vid::FilterResult r = wrapper.Filter(*first);
  EXPECT_TRUE(r.drop);
  EXPECT_FALSE(r.replacement);
  const vid::ImagePtr second = RampFrame(8, 6, 12);
  r = wrapper.Filter(*second);
  ASSERT_FALSE(r.drop);
  ASSERT_TRUE(r.replacement);
  EXPECT_FALSE(r.stop);
  EXPECT_EQ(r.replacement->format, (vid::Format{vid::subtype::Y800, 8, 6, 30.0}));
  EXPECT_EQ(r.replacement->Stride(), 8);
  EXPECT_EQ(r.replacement->info.sourceGuid, second->info.sourceGuid);
  EXPECT_EQ(r.replacement->info.timestamp, 1.5);
  EXPECT_EQ(r.replacement->data->data[5 * 8 + 7], 57);
}

TEST(ImageFilterWrapper, ColourFramesPassAsColourUnlessAveraged) {
  // Large enough for the change test to have samples.
  const vid::Format rgb{vid::subtype::RGB24, 40, 40, 30.0};
  auto colour = [&](std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    return Frame(rgb, 120, [=](int x, int) { return x % 3 == 0 ? b : x % 3 == 1 ? g : r; });
  };
  ImageFilterWrapper plain(std::make_shared<ImageFilter>(EveryFrame()));
  plain.Filter(*colour(0, 0, 0));
  vid::FilterResult r = plain.Filter(*colour(30, 60, 90));
  ASSERT_TRUE(r.replacement);
  EXPECT_EQ(r.replacement->format, rgb);
  EXPECT_EQ(r.replacement->data->data[2], 90);

  AcquisitionParameters p;
  p.imageSkipCount = 0;
  p.noiseReduction = 1;  // two frames averaged
  ImageFilterWrapper averaged(std::make_shared<ImageFilter>(p));
  averaged.Filter(*colour(0, 0, 0));
  EXPECT_TRUE(averaged.Filter(*colour(30, 60, 90)).drop);
  r = averaged.Filter(*colour(60, 90, 120));
  ASSERT_TRUE(r.replacement);
  EXPECT_EQ(r.replacement->format.mediaSubtype, vid::subtype::Y800);
  EXPECT_EQ(r.replacement->data->data[0], (60 + 90) / 2);  // grey (B+G+R)/3 of 60 and 90
}

TEST(ImageFilterWrapper, FramesThatCannotBeReadAsGreyAreDropped) {
  ImageFilterWrapper wrapper(std::make_shared<ImageFilter>(EveryFrame()));
  auto frame = GreyFrame(4, 4, 9);
  frame->format.mediaSubtype = vid::subtype::FromFourcc('M', 'J', 'P', 'G');
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(wrapper.Filter(*frame).drop);
  // Pixel data shorter than the format says is never read.
  auto cut = GreyFrame(40, 40, 9);
  cut->format.height = 400;
  EXPECT_TRUE(wrapper.Filter(*cut).drop);
  auto rgb = GreyFrame(40, 40, 9);
  rgb->format.mediaSubtype = vid::subtype::RGB24;  // 40 bytes a row cannot hold 40 pixels
  EXPECT_TRUE(wrapper.Filter(*rgb).drop);
}

TEST(ImageWrappers, DeliveredFramesReachTheStoreThroughTheFilter) {
  // The device buffer is padded and reused; the store must end up with
  // correct owned copies under the patterns shown.
  StoreFixture f;
  auto store = std::make_shared<ImageStoreWrapper>(f.Wrapper());
  auto filter = std::make_shared<ImageFilterWrapper>(std::make_shared<ImageFilter>(EveryFrame()));
  vid::FrameDelivery delivery;
  delivery.Attach(store, filter);
  const vid::Format format{vid::subtype::Y800, 5, 3, 30.0};
  std::vector<std::uint8_t> buffer(8 * 3);
  for (std::uint8_t level : {7, 10, 20, 30}) {
    std::fill(buffer.begin(), buffer.end(), level);
    delivery.Deliver(buffer.data(), format, 8, 0.0, false);
    f.current = std::min<std::size_t>(f.store->Count(), 2);
  }
  EXPECT_FALSE(delivery.IsAttached());  // the store was complete
  for (std::size_t i = 0; i < 3; ++i) {
    auto stored = f.store->GrayImageOf(f.patterns[i]);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->width, 5u);
    EXPECT_EQ((*stored)(4, 2), 10 * (i + 1));
  }
}

TEST(ImageLiveFilter, PassesCopiesAndLimitsTheRate) {
  // 64 frames per second on exact binary time steps against a limit of 20:
  // once the rate is known (frame 33, the first beyond the 0.5 s window),
  // ⌊64/20⌋ − 1 = 2 frames are dropped after each one passed.
  double now = 0.0;
  auto measure = std::make_shared<vid::FramerateMeasure>(0.5, [&] { return now; });
  ImageLiveFilter filter(20.0, measure);
  const vid::ImagePtr frame = GreyFrame(4, 4, 3);
  int passed = 0;
  for (int i = 1; i <= 40; ++i) {
    now += 1.0 / 64.0;
    vid::FilterResult r = filter.Filter(*frame);
    if (!r.drop) {
      ++passed;
      ASSERT_TRUE(r.replacement);
      EXPECT_NE(r.replacement->data->data, frame->data->data);
    }
  }
  EXPECT_EQ(passed, 32 + 3);  // frames 1…32, then 33, 36, 39
  passed = 0;
  for (int i = 41; i <= 100; ++i) {
    now += 1.0 / 64.0;
    if (!filter.Filter(*frame).drop) ++passed;
  }
  EXPECT_EQ(passed, 20);

  ImageLiveFilter unlimited(20.0, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(unlimited.Filter(*frame).drop);
}

TEST(ImageLiveFilter, ContentChangeDetectorFiresOnceAndIsLetGo) {
  double now = 0.0;
  auto detector =
      std::make_shared<vid::ContentChangeDetection>(false, 100.0, 0, [&] { return now; });
  ImageLiveFilter filter(20.0, nullptr);
  filter.SetContentChangeDetection(detector);
  const vid::ImagePtr dark = GreyFrame(40, 40, 0);
  const vid::ImagePtr bright = GreyFrame(40, 40, 250);
  now = 1.0;
  filter.Filter(*dark);
  now = 2.0;
  filter.Filter(*dark);
  EXPECT_FALSE(detector->HasContentChanged());
  EXPECT_EQ(detector->GetTime(), 2.0);
  now = 3.0;
  filter.Filter(*bright);
  EXPECT_TRUE(detector->HasContentChanged());
  now = 4.0;
  filter.Filter(*dark);
  EXPECT_EQ(detector->GetTime(), 3.0);  // no longer fed
  // A detector that is gone is simply not fed.
  filter.SetContentChangeDetection(std::make_shared<vid::ContentChangeDetection>(false, 1.0, 0));
  EXPECT_FALSE(filter.Filter(*dark).drop);
}

}  // namespace
}  // namespace scan
