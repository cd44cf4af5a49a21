// The studio's parts without a window: the projector monitor choice, the
// log pane's lines, the live view's exposure marks and the studio's texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "apps/tarvelin-studio/FrameTimes.h"
#include "apps/tarvelin-studio/LiveOverlay.h"
#include "apps/tarvelin-studio/MonitorChoice.h"
#include "apps/tarvelin-studio/StudioLog.h"
#include "apps/tarvelin-studio/StudioTexts.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "shell/DataRoot.h"

namespace studio {
namespace {

const Texts& English() {
  static const Texts texts(&ShippedEnglish());
  return texts;
}

utils::DisplayInfo Monitor(const char* name, int left, bool primary) {
  utils::DisplayInfo d;
  d.deviceName = name;
  d.width = 1920;
  d.height = 1080;
  d.refreshRate = 60;
  d.left = left;
  d.primary = primary;
  return d;
}

TEST(MonitorChoice, TheChosenScreenOrThePrimaryWithAWarning) {
  const std::vector<utils::DisplayInfo> two{Monitor("DP-1", 0, true),
                                            Monitor("HDMI-1", 1920, false)};
  MonitorChoice choice = ChooseProjectorMonitor(two, 2, English(), 0);
  EXPECT_EQ(choice.index, 1);
  EXPECT_FALSE(choice.fallback);
  EXPECT_TRUE(choice.warning.empty());

  // The projector unplugged: the window goes to the primary and says so.
  choice = ChooseProjectorMonitor({Monitor("eDP-1", 0, false), Monitor("DP-2", 1920, true)}, 3,
                                  English(), 0);
  EXPECT_EQ(choice.index, 1);
  EXPECT_TRUE(choice.fallback);
  EXPECT_EQ(choice.warning,
            "Monitor 3 is not connected: the pattern window is on the primary monitor DP-2. "
            "Connect the projector "
            "or choose its monitor on the structured-light page.");

  // On the main window's monitor it would hide the program.
  choice = ChooseProjectorMonitor(two, 1, English(), 0);
  EXPECT_EQ(choice.index, 0);
  EXPECT_NE(choice.warning.find("covers it while it shows patterns"), std::string::npos);

  choice = ChooseProjectorMonitor({}, 1, English());
  EXPECT_EQ(choice.index, -1);
  EXPECT_EQ(choice.warning, "No monitor is connected: the pattern window cannot be shown.");

  EXPECT_EQ(DescribeMonitor(two[1], 2, English()), "2: HDMI-1 1920x1080 @ 60 Hz at (1920, 0)");
  EXPECT_EQ(DescribeMonitor(two[0], 1, English()), "1: DP-1 1920x1080 @ 60 Hz at (0, 0), primary");
}

TEST(StudioLog, ClassifiesKeepsTheNewestAndWritesTheFile) {
  utils::testing::TemporaryFolder folder("StudioParts_test");
  const auto file = folder.GetPath() / "studio.log";
  {
    StudioLog log(file);
    log.Add("Error: the disk is full");
    log.Add("WARNING: slow camera");
    log.Add("Scan 1 added");
    log.Add("Scan: done", StudioLog::Kind::kNote);
    EXPECT_EQ(log.Count(StudioLog::Kind::kError), 1u);
    EXPECT_EQ(log.Count(StudioLog::Kind::kWarning), 1u);
    EXPECT_EQ(log.Count(StudioLog::Kind::kInfo), 1u);
    EXPECT_EQ(log.GetLast(StudioLog::Kind::kNote, 5), std::vector<std::string>{"Scan: done"});
    EXPECT_EQ(StudioLog::Classify("error without capital"), StudioLog::Kind::kInfo);

    // Lines from several threads; the pane keeps the newest kMaxLines.
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
      writers.emplace_back([&log, t] {
        for (int i = 0; i < 2000; ++i)
          log.Add("line " + std::to_string(t) + "." + std::to_string(i));
      });
    for (auto& w : writers) w.join();
    EXPECT_EQ(log.GetLines().size(), StudioLog::kMaxLines);
    EXPECT_EQ(log.GetVersion(), 8004u);
    EXPECT_EQ(log.GetLines().front().text.rfind("line ", 0), 0u);
  }
  std::ifstream in(file);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "Error: the disk is full");
  std::size_t lines = 1;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, 8004u);  // the file keeps every line
}

TEST(StudioLog, ConsoleCaptureBringsPrintedLinesIntoTheLog) {
  StudioLog log;
  {
    ConsoleCapture capture(log);
    std::printf("INFO: from printf\n");
    std::fflush(stdout);
    std::fprintf(stderr, "Error: from stderr\n");
    for (int i = 0; i < 200 && log.Count(StudioLog::Kind::kError) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  bool printed = false;
  for (const auto& line : log.GetLines()) printed |= line.text == "INFO: from printf";
  EXPECT_TRUE(printed);
  EXPECT_EQ(log.GetLast(StudioLog::Kind::kError, 1),
            std::vector<std::string>{"Error: from stderr"});
}

TEST(LiveOverlay, MarksSaturatedAndDarkPixelsAndAdvises) {
  // 10 × 10: one row saturated (255), one row dark (0), the rest mid grey.
  img::UniImage<std::uint8_t> frame(10, 10);
  frame = std::uint8_t(128);
  for (std::uint32_t x = 0; x < 10; ++x) {
    frame(x, 0) = 255;
    frame(x, 9) = 0;
  }
  LiveOverlayOptions options;
  options.underexposure = true;
  ExposureStats stats;
  const std::vector<std::uint8_t> rgba = MakeLiveOverlay(frame, options, stats);
  ASSERT_EQ(rgba.size(), 400u);
  EXPECT_DOUBLE_EQ(stats.saturated, 0.1);
  EXPECT_DOUBLE_EQ(stats.dark, 0.1);
  EXPECT_DOUBLE_EQ(stats.mean, (255.0 * 10 + 128.0 * 80) / 100.0);
  const auto pixel = [&](int x, int y) {
    return std::vector<int>(&rgba[(y * 10 + x) * 4], &rgba[(y * 10 + x) * 4 + 4]);
  };
  EXPECT_EQ(pixel(3, 0), (std::vector<int>{255, 0, 0, 255}));  // red
  EXPECT_EQ(pixel(3, 9), (std::vector<int>{0, 0, 200, 255}));  // blue
  EXPECT_EQ(pixel(3, 5), (std::vector<int>{128, 128, 128, 255}));
  EXPECT_EQ(ExposureAdvice(stats, English()),
            "10.0 % of the pixels are saturated: lower the exposure or the gain.");

  options.saturation = false;
  MakeLiveOverlay(frame, options, stats);
  EXPECT_EQ(MakeLiveOverlay(frame, options, stats)[3 * 4 + 1], 255);  // unmarked: grey 255

  frame = std::uint8_t(10);
  MakeLiveOverlay(frame, options, stats);
  EXPECT_EQ(stats.p99, 10);
  EXPECT_EQ(ExposureAdvice(stats, English()),
            "The image is dark (its brightest part reaches grey 10 of 255): raise the exposure.");
  // A dark background around a well-lit object is no reason to complain.
  for (std::uint32_t y = 0; y < 10; ++y) frame(5, y) = 200;
  MakeLiveOverlay(frame, options, stats);
  EXPECT_EQ(stats.p99, 200);
  EXPECT_EQ(ExposureAdvice(stats, English()), "");
  frame = std::uint8_t(120);
  MakeLiveOverlay(frame, options, stats);
  EXPECT_EQ(ExposureAdvice(stats, English()), "");
}

TEST(LiveOverlay, TintsDecodedPixelsAndRejectedOnesInsideTheObject) {
  // 8 × 2 grey 80; row 0 decoded at x 2…5 except x 4 (rejected), quality
  // 1 at x 2, 0.5 at x 3 and 5; row 1 decoded nowhere.
  img::UniImage<std::uint8_t> frame(8, 2);
  frame = std::uint8_t(80);
  img::UniImage<float> quality(8, 2);
  quality = 0.f;
  quality(2, 0) = 1.f;
  quality(3, 0) = 0.5f;
  quality(5, 0) = 0.5f;
  LiveOverlayOptions plain;
  ExposureStats stats;
  std::vector<std::uint8_t> rgba = MakeLiveOverlay(frame, plain, stats);
  EXPECT_DOUBLE_EQ(AddQualityOverlay(rgba, 8, 2, quality), 3.0 / 16.0);
  const auto pixel = [&](int x, int y) {
    return std::vector<int>(&rgba[(y * 8 + x) * 4], &rgba[(y * 8 + x) * 4 + 3]);
  };
  // Weight 0.25 + 0.35·quality towards green: at quality 1, 80·0.4 = 32 and
  // 32 + 255·0.6 = 185; at 0.5 (weight 0.425), 46 and 46 + 108.375 → 154.
  EXPECT_EQ(pixel(2, 0), (std::vector<int>{32, 185, 32}));
  EXPECT_EQ(pixel(3, 0), (std::vector<int>{46, 154, 46}));
  EXPECT_EQ(pixel(5, 0), (std::vector<int>{46, 154, 46}));
  // Rejected inside the decoded span: half way to red, 40 + 127.5 → 168.
  EXPECT_EQ(pixel(4, 0), (std::vector<int>{168, 40, 40}));
  EXPECT_EQ(pixel(1, 0), (std::vector<int>{80, 80, 80}));  // outside the decoded span
  EXPECT_EQ(pixel(6, 0), (std::vector<int>{80, 80, 80}));
  EXPECT_EQ(pixel(4, 1), (std::vector<int>{80, 80, 80}));  // a row without decoding

  // A quality image of another size (an older scan at another camera mode) draws nothing.
  const std::vector<std::uint8_t> before = rgba;
  EXPECT_EQ(AddQualityOverlay(rgba, 8, 2, img::UniImage<float>(4, 2)), 0.0);
  EXPECT_EQ(rgba, before);
}

// Frames of 1..20 ms of work while fusing: mean 10.5 ms, the 95th
// percentile by nearest rank is the 19th frame (ceil(0.95 * 20) = 19),
// and the wait for events (the loop idling) is not the frame's time.
TEST(FrameTimes, SummarisesEachPhaseWithoutTheIdleWait) {
  FrameTimes times;
  for (int ms = 20; ms >= 1; --ms) {
    std::array<double, FrameTimes::kPartCount> parts{};
    parts[FrameTimes::kEvents] = 0.5;  // 500 ms asleep in the event wait
    parts[FrameTimes::kView] = 0.001 * ms * 0.75;
    parts[FrameTimes::kSwap] = 0.001 * ms * 0.25;
    times.Add("fusion", parts);
  }
  std::array<double, FrameTimes::kPartCount> idle{};
  idle[FrameTimes::kView] = 2.0;
  times.Add("idle", idle);

  const FrameTimes::Summary fusion = times.Summarise("fusion");
  EXPECT_EQ(fusion.frames, 20u);
  EXPECT_NEAR(fusion.meanMs, 10.5, 1e-9);
  EXPECT_NEAR(fusion.p95Ms, 19.0, 1e-9);
  EXPECT_NEAR(fusion.maxMs, 20.0, 1e-9);
  EXPECT_NEAR(fusion.slowestPartsMs[FrameTimes::kView], 15.0, 1e-9);
  EXPECT_NEAR(fusion.slowestPartsMs[FrameTimes::kEvents], 500.0, 1e-9);
  EXPECT_NEAR(times.Summarise("idle").maxMs, 2000.0, 1e-9);
  EXPECT_EQ(times.Summarise("scan").frames, 0u);
  const nlohmann::json json = times.ToJson();
  EXPECT_NEAR(json["fusion"]["p95Ms"].get<double>(), 19.0, 1e-9);
  EXPECT_NEAR(json["fusion"]["slowestFrameMs"]["swap"].get<double>(), 5.0, 1e-9);
  EXPECT_NE(times.Describe("fusion").find("slowest 20.0 ms"), std::string::npos);
}

}  // namespace
}  // namespace studio

namespace studio {
namespace {

// The keys ("Studio_…") written in the studio's sources, with the file of
// their first use.
std::map<std::string, std::string> KeysInTheSources() {
  std::map<std::string, std::string> keys;
  const std::regex key("\"(Studio_[A-Za-z0-9_]+)\"");
  for (const auto& entry : std::filesystem::directory_iterator(STUDIO_SOURCE_DIR)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".cc" || name.find("_test") != std::string::npos) continue;
    std::ifstream file(entry.path());
    std::stringstream text;
    text << file.rdbuf();
    const std::string source = text.str();
    for (std::sregex_iterator it(source.begin(), source.end(), key), end; it != end; ++it)
      keys.emplace((*it)[1].str(), name);
  }
  return keys;
}

TEST(StudioTexts, EveryKeyOfTheStudioIsInTheShippedTableAndEveryStudioTextIsUsed) {
  const shell::Language& english = ShippedEnglish();
  ASSERT_GT(english.GetSize(), 100u);
  const auto keys = KeysInTheSources();
  ASSERT_GT(keys.size(), 100u);
  for (const auto& [key, file] : keys)
    EXPECT_TRUE(english.Contains("_l10n_" + key + "_n01l_"))
        << key << " (" << file << ") has no text";

  // The other way round: a studio text nobody shows is a dead entry that
  // translators would work on for nothing.
  std::ifstream table(shell::DataRoot::FindShippedShare() / "xaml" / "Strings_English.xaml");
  std::stringstream text;
  text << table.rdbuf();
  const std::string xml = text.str();
  const std::regex entry("key=\"_l10n_(Studio_[A-Za-z0-9_]+)_n01l_\"");
  int studioTexts = 0;
  for (std::sregex_iterator it(xml.begin(), xml.end(), entry), end; it != end; ++it, ++studioTexts)
    EXPECT_TRUE(keys.count((*it)[1].str())) << (*it)[1].str() << " is never shown";
  EXPECT_EQ(std::size_t(studioTexts), keys.size());
}

TEST(StudioTexts, ATranslationShowsItsTextsAndTheShippedEnglishFillsItsGaps) {
  utils::testing::TemporaryFolder folder("StudioTexts");
  {
    std::ofstream file(folder.GetPath() / "Strings_Deutsch.xaml");
    file << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Strings language=\"Deutsch\">\n"
            "  <String key=\"_l10n_Studio_Scan_n01l_\">Scannen</String>\n"
            "  <String key=\"_l10n_Studio_StepAngle_n01l_\">Schritt: {0} Grad</String>\n"
            "</Strings>\n";
  }
  std::vector<std::string> logged;
  shell::Language deutsch([&](const std::string& line) { logged.push_back(line); });
  std::string error;
  ASSERT_TRUE(deutsch.Load(folder.GetPath() / "Strings_Deutsch.xaml", error)) << error;

  const Texts texts(&deutsch, &ShippedEnglish());
  EXPECT_STREQ(texts("Studio_Scan"), "Scannen");
  EXPECT_EQ(texts.Format("Studio_StepAngle", {Texts::Number(22.5, 1)}), "Schritt: 22.5 Grad");
  // Not translated: the shipped English text, and nothing to complain about.
  EXPECT_STREQ(texts("Studio_Fuse"), "Fuse");
  EXPECT_EQ(texts.Format("Studio_LastPair", {"2", "1", "accepted"}),
            "Last pair: scan 2 onto 1, accepted");
  EXPECT_TRUE(logged.empty());
  // A key in neither table shows as its key and is logged once.
  EXPECT_STREQ(texts("Studio_NoSuchText"), "_l10n_Studio_NoSuchText_n01l_");
  EXPECT_STREQ(texts("Studio_NoSuchText"), "_l10n_Studio_NoSuchText_n01l_");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("Missing text for _l10n_Studio_NoSuchText_n01l_ in Deutsch"),
            std::string::npos);

  // A pointer handed out stays valid while others are looked up.
  const char* scan = texts("Studio_Scan");
  for (const char* key :
       {"Studio_Compare", "Studio_Reference", "Studio_Log", "Studio_Idle", "Studio_OK"})
    texts(key);
  EXPECT_STREQ(scan, "Scannen");
  EXPECT_EQ(Texts::Number(0.04999, 2), "0.05");
}

}  // namespace
}  // namespace studio
