#include "vid/FileImageCapture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "foundation/img/ImageIO.h"
#include "vid/ImageConversion.h"
#include "vid/ImageQueue.h"
#include "vid/TestFrames.h"
#include "vid/TriggerTimer.h"

namespace vid {
namespace {

namespace fs = std::filesystem;
using test::RecordingStore;

constexpr double kLongWait = 10.0;  // seconds; only a broken source waits this long

class FileImageCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("tarvelin_filecapture_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // A 5 × 2 grey file: row 0 all `value`, row 1 all 255 − value.
  fs::path WriteGrey(const std::string& name, std::uint8_t value, std::uint32_t width = 5) {
    img::UniImage<std::uint8_t> image(width, 2);
    for (std::uint32_t x = 0; x < width; ++x) {
      image(x, 0) = value;
      image(x, 1) = static_cast<std::uint8_t>(255 - value);
    }
    EXPECT_TRUE(img::SavePNG(image, m_dir / name));
    return m_dir / name;
  }

  FileImageCapture::Options Quiet(double fps = 200.0) {
    FileImageCapture::Options options;
    options.framesPerSecond = fps;
    options.logFile = m_dir / "source.log";
    return options;
  }

  std::string LogText() const {
    std::ifstream file(m_dir / "source.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  fs::path m_dir;
};

TEST_F(FileImageCaptureTest, ListsNumberedImagesInNumericOrder) {
  WriteGrey("f10.png", 10);
  WriteGrey("f2.png", 2);
  WriteGrey("f1.png", 1);
  WriteGrey("cover.png", 0);  // no number
  std::ofstream(m_dir / "notes7.txt") << "not an image";
  const auto files = FileImageCapture::ListNumberedImageFiles(m_dir);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].filename(), "f1.png");
  EXPECT_EQ(files[1].filename(), "f2.png");
  EXPECT_EQ(files[2].filename(), "f10.png");
}

TEST_F(FileImageCaptureTest, DeliversEveryFileInOrderThenStops) {
  constexpr int kFiles = 12;
  for (int i = 0; i < kFiles; ++i)
    WriteGrey("frame_" + std::to_string(i) + ".png", std::uint8_t(10 * i));
  auto source = std::make_shared<FileImageCapture>(m_dir, Quiet());
  const Format format = source->GetFormat();
  EXPECT_EQ(format, (Format{subtype::Y800, 5, 2, 200.0}));
  EXPECT_TRUE(source->IsReady());
  EXPECT_FALSE(source->IsCapturing());

  auto queue = std::make_shared<ImageQueue>(kFiles, ImageQueue::kStopWhenFull);
  source->StartCapture(queue, nullptr);
  ASSERT_TRUE(queue->Wait(ImageQueue::kFull, kLongWait));
  // The full queue ended the capture by itself (the frame event follows the detach).
  ASSERT_TRUE(source->WaitForFrameAfter(kFiles - 1, kLongWait));
  EXPECT_FALSE(source->IsCapturing());
  for (int i = 0; i < kFiles; ++i) {
    const ImagePtr frame = queue->Pop();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Stride(), 8);  // 5 bytes padded to 8
    EXPECT_EQ(frame->format, format);
    EXPECT_EQ(frame->info.sourceGuid, source->GetSourceGuid());
    EXPECT_DOUBLE_EQ(frame->info.timestamp, i / 200.0);
    img::UniImage<std::uint8_t> grey;
    ASSERT_TRUE(ConvertToGray(*frame, grey));
    EXPECT_EQ(grey(4, 0), 10 * i);
    EXPECT_EQ(grey(0, 1), 255 - 10 * i);
  }
  source->StopCapture();
  source.reset();  // joins the streaming thread
}

TEST_F(FileImageCaptureTest, NonLoopingSequenceEndsAndRestartsFromTheFirstFile) {
  for (int i = 1; i <= 3; ++i) WriteGrey("f" + std::to_string(i) + ".png", std::uint8_t(i));
  FileImageCapture source(m_dir, Quiet());
  auto store = std::make_shared<RecordingStore>();
  source.StartCapture(store, nullptr);
  ASSERT_TRUE(source.WaitForFrameAfter(2, kLongWait));
  EXPECT_TRUE(source.IsAtEnd());
  EXPECT_FALSE(source.WaitForFrameAfter(3, 0.03));  // nothing after the last file
  EXPECT_EQ(store->Count(), 3u);
  auto again = std::make_shared<RecordingStore>();
  source.StartCapture(again, nullptr);
  ASSERT_TRUE(source.WaitForFrameAfter(3, kLongWait));
  source.StopCapture();
  ASSERT_GE(again->Count(), 1u);
  EXPECT_EQ(test::FirstByte(again->Images()[0]), 1);
}

TEST_F(FileImageCaptureTest, StopCaptureEndsDeliveryAtOnce) {
  for (int i = 1; i <= 4; ++i) WriteGrey("f" + std::to_string(i) + ".png", std::uint8_t(i));
  auto options = Quiet(1000.0);
  options.loop = true;
  FileImageCapture source(m_dir, options);
  auto store = std::make_shared<RecordingStore>();
  source.StartCapture(store, nullptr);
  ASSERT_TRUE(source.WaitForFrameAfter(5, kLongWait));  // looping past the last file
  source.StopCapture();
  EXPECT_FALSE(source.IsCapturing());
  const std::size_t delivered = store->Count();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(store->Count(), delivered);
  EXPECT_EQ(store.use_count(), 1);  // the source let go of the store
  const auto images = store->Images();
  for (std::size_t i = 0; i < images.size(); ++i)
    EXPECT_EQ(test::FirstByte(images[i]), 1 + i % 4) << "frame " << i;
}

TEST_F(FileImageCaptureTest, SoftwareTriggerDeliversOneFilePerTrigger) {
  for (int i = 1; i <= 5; ++i) WriteGrey("f" + std::to_string(i) + ".png", std::uint8_t(i));
  FileImageCapture source(m_dir, Quiet(0.001));  // the pacing would take 1000 s per frame
  EXPECT_FALSE(source.SendSoftwareTrigger());    // not in trigger mode
  ASSERT_TRUE(source.SetProperty("trigger_enable", Property(1.0)));
  EXPECT_FALSE(source.SendSoftwareTrigger());  // not playing
  auto store = std::make_shared<RecordingStore>();
  source.StartCapture(store, nullptr);
  for (std::uint64_t n = 0; n < 3; ++n) {
    ASSERT_TRUE(source.SendSoftwareTrigger());
    ASSERT_TRUE(source.WaitForFrameAfter(n, kLongWait));
  }
  EXPECT_FALSE(source.WaitForFrameAfter(3, 0.02));
  source.StopCapture();
  ASSERT_EQ(store->Count(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(test::FirstByte(store->Images()[i]), i + 1);
}

TEST_F(FileImageCaptureTest, TriggerTimerDrivesATriggeredSource) {
  for (int i = 1; i <= 3; ++i) WriteGrey("f" + std::to_string(i) + ".png", std::uint8_t(i));
  auto source = std::make_shared<FileImageCapture>(m_dir, Quiet(0.001));
  source->SetProperty("trigger_enable", Property(1.0));
  auto queue = std::make_shared<ImageQueue>(3, ImageQueue::kStopWhenFull);
  source->StartCapture(queue, nullptr);
  TriggerTimer timer(source, 0.002);
  timer.Start();
  ASSERT_TRUE(queue->Wait(ImageQueue::kFull, kLongWait));
  timer.Stop();
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(test::FirstByte(queue->Pop()), i);
}

TEST_F(FileImageCaptureTest, SoftwareFlipAndProperties) {
  WriteGrey("f1.png", 40);
  FileImageCapture source(m_dir, Quiet());
  EXPECT_EQ(source.GetProperties().size(), 2u);
  EXPECT_FALSE(source.GetProperty("gain").valid);
  EXPECT_FALSE(source.GetPropertyRange("gain").valid);
  EXPECT_EQ(source.GetPropertyRange("flip_vertical_sw"), (PropertyRange{0, 1, 0, 1, true}));
  EXPECT_FALSE(source.SetProperty("gain", Property(3.0)));
  EXPECT_FALSE(source.SetProperty("flip_vertical_sw", Property(2.0)));
  EXPECT_FALSE(source.SetProperty("flip_vertical_sw", Property()));
  EXPECT_TRUE(source.SetProperties({{"flip_vertical_sw", Property(1.0)}}));
  EXPECT_EQ(source.GetProperty("flip_vertical_sw"), Property(1.0));
  std::string text;
  EXPECT_FALSE(source.FormatPropertyValue(text, 1.0, "flip_vertical_sw"));
  EXPECT_TRUE(source.AddPropertyValueConverter("flip_vertical_sw", [](std::string& t, double v) {
    t = v != 0 ? "on" : "off";
    return true;
  }));
  EXPECT_TRUE(source.FormatPropertyValue(text, 1.0, "flip_vertical_sw"));
  EXPECT_EQ(text, "on");

  auto queue = std::make_shared<ImageQueue>(1, ImageQueue::kStopWhenFull);
  source.StartCapture(queue, nullptr);
  ASSERT_TRUE(queue->Wait(ImageQueue::kFull, kLongWait));
  img::UniImage<std::uint8_t> grey;
  ASSERT_TRUE(ConvertToGray(*queue->Pop(), grey));
  EXPECT_EQ(grey(0, 0), 215);  // rows swapped
  EXPECT_EQ(grey(0, 1), 40);
}

TEST_F(FileImageCaptureTest, ColourFilesBecomeRgb24AndStillImagesRepeat) {
  img::UniImage<img::RGB8> colour(3, 1);
  colour(0, 0) = img::RGB8::FromRGB(200, 10, 20);
  colour(1, 0) = img::RGB8::FromRGB(0, 255, 0);
  colour(2, 0) = img::RGB8::FromRGB(1, 2, 3);
  ASSERT_TRUE(img::SavePNG(colour, m_dir / "still.png"));
  FileImageCapture source(m_dir / "still.png", Quiet(500.0));
  EXPECT_TRUE(source.IsStillImage());
  EXPECT_EQ(source.GetFormat().mediaSubtype, subtype::RGB24);
  EXPECT_TRUE(IsColorFormat(source.GetFormat()));
  auto queue = std::make_shared<ImageQueue>(3, ImageQueue::kStopWhenFull);
  source.StartCapture(queue, nullptr);
  ASSERT_TRUE(queue->Wait(ImageQueue::kFull, kLongWait));
  for (int i = 0; i < 3; ++i) {
    img::UniImage<img::RGB8> frame;
    ASSERT_TRUE(ConvertToColor(*queue->Pop(), frame));
    EXPECT_EQ(frame(0, 0), img::RGB8::FromRGB(200, 10, 20));
    EXPECT_EQ(frame(2, 0), img::RGB8::FromRGB(1, 2, 3));
  }
}

TEST_F(FileImageCaptureTest, FiltersSeeFramesAndCanStopTheCapture) {
  for (int i = 1; i <= 4; ++i) WriteGrey("f" + std::to_string(i) + ".png", std::uint8_t(i));
  struct StopAtSecond : ImageFilter {
    int seen = 0;
    FilterResult Filter(const Image& image) override {
      ++seen;
      return FilterResult{nullptr, image.data->data[0] == 1, seen == 2};
    }
  };
  FileImageCapture source(m_dir, Quiet());
  auto store = std::make_shared<RecordingStore>();
  auto filter = std::make_shared<StopAtSecond>();
  source.StartCapture(store, filter);
  ASSERT_TRUE(source.WaitForFrameAfter(1, kLongWait));
  EXPECT_FALSE(source.IsCapturing());
  ASSERT_EQ(store->Count(), 1u);  // the first was dropped, the second stored, then stop
  EXPECT_EQ(test::FirstByte(store->Images()[0]), 2);
  EXPECT_EQ(filter->seen, 2);
}

TEST_F(FileImageCaptureTest, MissingPathsAndUnreadableFirstFilesAreClearErrors) {
  auto expectMessage = [](const fs::path& path, const std::string& part) {
    try {
      FileImageCapture source(path);
      ADD_FAILURE() << "no exception for " << path;
    } catch (const CaptureDeviceNotAvailableException& e) {
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(path.filename().string()), std::string::npos)
          << e.what();
    }
  };
  expectMessage(m_dir / "nowhere", "FileImageCapture - Path does not exist: ");
  fs::create_directories(m_dir / "empty");
  expectMessage(m_dir / "empty", "FileImageCapture - No numbered image files in folder ");
  std::ofstream(m_dir / "bad.png") << "\x89PNG\r\n\x1a\n garbage";
  expectMessage(m_dir / "bad.png", "FileImageCapture - Could not decode image file ");
  WriteGrey("ok.png", 1);
  FileImageCapture::Options options;
  options.framesPerSecond = 0.0;
  EXPECT_THROW(FileImageCapture(m_dir / "ok.png", options), std::invalid_argument);
}

TEST_F(FileImageCaptureTest, CorruptTruncatedAndMissizedFilesAreLoggedAndSkipped) {
  WriteGrey("f1.png", 1);
  const fs::path good = WriteGrey("f2.png", 2);
  std::ifstream in(good, std::ios::binary);
  const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(m_dir / "f3.png", std::ios::binary) << png.substr(0, png.size() / 2);  // truncated
  std::ofstream(m_dir / "f4.png", std::ios::binary) << "corrupt";
  WriteGrey("f5.png", 5, 7);  // another width
  WriteGrey("f6.png", 6);
  FileImageCapture source(m_dir, Quiet());
  auto store = std::make_shared<RecordingStore>();
  source.StartCapture(store, nullptr);
  ASSERT_TRUE(source.WaitForFrameAfter(2, kLongWait));  // f6 delivered, so f3–f5 were passed
  source.StopCapture();
  EXPECT_TRUE(source.IsAtEnd());
  ASSERT_EQ(store->Count(), 3u);
  EXPECT_EQ(test::FirstByte(store->Images()[0]), 1);
  EXPECT_EQ(test::FirstByte(store->Images()[1]), 2);
  EXPECT_EQ(test::FirstByte(store->Images()[2]), 6);
  EXPECT_EQ(source.GetSkippedFileCount(), 3u);
  const std::string log = LogText();
  EXPECT_NE(log.find("ERROR - FileImageCapture - Could not decode image file '" +
                     (m_dir / "f3.png").string() + "'; skipped."),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("f4.png'; skipped."), std::string::npos) << log;
  EXPECT_NE(log.find("f5.png' is 7 x 2, expected 5 x 2; skipped."), std::string::npos) << log;
}

}  // namespace
}  // namespace vid
