// Pattern captures with cameras delivering on their own threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "cam/CameraModelTsai.h"
#include "scan/StructuredLightScanner.h"
#include "scan/testing/CaptureRig.h"
#include "vid/ImageConversion.h"

namespace scan {
namespace {

using testing::DisplayFollowingCamera;
using testing::LevelScan;
using testing::ManualCapture;
using testing::RecordingPatternDisplay;

class TestScanner : public StructuredLightScanner {
 public:
  TestScanner() : StructuredLightScanner(InitParams{}) {}

  void OnCaptureStateChanged(int state) override {
    std::lock_guard lock(m_mutex);
    m_states.push_back(state);
  }
  bool IsHighQualityTextureSupported() const override { return true; }
  HighQualityTexture CaptureHighQualityTexture() override {
    HighQualityTexture texture;
    texture.image = std::make_unique<img::UniImage<img::RGB8>>(4, 4);
    texture.cameraModel = std::make_unique<cam::CameraModelTsai>();
    return texture;
  }
  std::vector<int> States() const {
    std::lock_guard lock(m_mutex);
    return m_states;
  }
  void KeepTexture() { m_highQualityTexture = CaptureHighQualityTexture(); }

 private:
  mutable std::mutex m_mutex;
  std::vector<int> m_states;
};

// Seven patterns at grey levels 20, 50, … 200 and a setup image at 250: any
// two differ by more than the 25.5 levels the change test needs at
// sensitivity 90.
struct Rig {
  std::shared_ptr<LevelScan> scan;
  std::shared_ptr<RecordingPatternDisplay> display;
  TestScanner scanner;

  explicit Rig(std::uint32_t patterns = 7)
      : scan(std::make_shared<LevelScan>(patterns, 20, 30)),
        display(std::make_shared<RecordingPatternDisplay>(
            [scan = scan](const SLPatternPtr& p) { return scan->LevelOf(p); }, 250)) {
    scanner.SetSLScan(scan);
    scanner.SetProjector("projector", display);
  }

  static constexpr double kHoldingTime = 2.0;

  // Change detection; a holding time far beyond any wait for the other camera.
  static AcquisitionParameters Parameters(int skip, int noiseReduction) {
    AcquisitionParameters p;
    p.imageContentSensitivity = 90;
    p.imageSkipCount = skip;
    p.noiseReduction = noiseReduction;
    p.maxPatternHoldingTime = kHoldingTime;
    return p;
  }
};

// A fast grey camera and a slower colour camera with a longer latency that
// is mounted turned to the right. The frames are large enough for the change
// test (63 and 88 samples).
struct ThreadedRig : Rig {
  std::shared_ptr<DisplayFollowingCamera> fast;
  std::shared_ptr<DisplayFollowingCamera> slow;

  explicit ThreadedRig(const AcquisitionParameters& parameters) {
    DisplayFollowingCamera::Options f;
    f.name = "fast";
    f.width = 80;
    f.height = 60;
    f.period = 0.010;
    f.latency = 0.025;
    DisplayFollowingCamera::Options s;
    s.name = "slow";
    s.width = 100;
    s.height = 75;
    s.period = 0.021;
    s.latency = 0.040;
    s.color = true;
    fast = std::make_shared<DisplayFollowingCamera>(display, f);
    slow = std::make_shared<DisplayFollowingCamera>(display, s);
    scanner.SetImageCapture(fast, scanner.AddCamera("fast", false));
    scanner.SetImageCapture(slow, scanner.AddCamera("slow", false));
    scanner.SetImageRotation(vid::kRotationRight, 1);
    scanner.SetAcquisitionParameters(parameters);
  }

  // Every stored frame is uniform at the level of the pattern it is filed
  // under, and of the camera's (rotated) size.
  void ExpectFramesMatchTheirPatterns() const {
    const std::uint32_t sizes[2][2] = {{80, 60}, {75, 100}};
    for (std::size_t c = 0; c < 2; ++c) {
      SLScannedImagesStorePtr store = scanner.GetScannedImages(c);
      ASSERT_TRUE(store);
      std::size_t found = 0;
      for (const SLPatternPtr& pattern : scan->AllPatterns()) {
        auto frame = store->GrayImageOf(pattern);
        if (!frame) continue;
        ++found;
        EXPECT_EQ(frame->width, sizes[c][0]);
        EXPECT_EQ(frame->height, sizes[c][1]);
        const auto [lo, hi] = std::minmax_element(frame->data, frame->data + frame->size);
        EXPECT_EQ(*lo, scan->LevelOf(pattern)) << "camera " << c;
        EXPECT_EQ(*hi, scan->LevelOf(pattern)) << "camera " << c;
      }
      EXPECT_EQ(found, store->Count());
    }
  }

  std::vector<std::size_t> Counts() const {
    return {scanner.GetScannedImages(0)->Count(), scanner.GetScannedImages(1)->Count()};
  }
};

void ExpectSetupPatternShownLast(const RecordingPatternDisplay& display) {
  const auto history = display.History();
  ASSERT_FALSE(history.empty());
  EXPECT_FALSE(history.back().pattern);
  EXPECT_EQ(display.OverlappingCalls(), 0);
}

// After the capture has returned nothing reaches the stores any more, while
// the cameras keep running.
void ExpectNothingDeliveredAfterwards(ThreadedRig& rig) {
  EXPECT_FALSE(rig.fast->IsCapturing());
  EXPECT_FALSE(rig.slow->IsCapturing());
  const auto counts = rig.Counts();
  const std::uint64_t framesBefore = rig.slow->GetFrameCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_GT(rig.slow->GetFrameCount(), framesBefore);
  EXPECT_EQ(rig.Counts(), counts);
  EXPECT_EQ(rig.fast->GetDeliveryErrors() + rig.slow->GetDeliveryErrors(), 0);
}

struct ProgressLog {
  std::mutex mutex;
  std::vector<double> calls;
  void Add(double f) {
    std::lock_guard lock(mutex);
    calls.push_back(f);
  }
  std::vector<double> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

TEST(PatternCapture, TwoCamerasAtDifferentRatesStoreOneFramePerPattern) {
  for (const auto& [skip, noiseReduction] : {std::pair{1, 0}, std::pair{2, 1}}) {
    SCOPED_TRACE("skip " + std::to_string(skip) + ", noise reduction " +
                 std::to_string(noiseReduction));
    ThreadedRig rig(Rig::Parameters(skip, noiseReduction));
    ProgressLog progress;
    const double start = vid::SteadySeconds();
    rig.scanner.CapturePatternSequence([&](double f) {
      progress.Add(f);
      return false;
    });
    // Each camera saw every pattern change: waiting out the holding time
    // instead would take at least 7 · 2 s. (A loaded machine may starve a
    // camera into a time-out now and then, hence the margin.)
    const double seconds = vid::SteadySeconds() - start;
    std::printf("Seven patterns captured in %.2f s\n", seconds);
    EXPECT_LT(seconds, 3.5 * Rig::kHoldingTime);

    EXPECT_EQ(rig.scanner.GetCompletedPatternCount(), 7u);
    EXPECT_EQ(rig.Counts(), (std::vector<std::size_t>{7, 7}));
    rig.ExpectFramesMatchTheirPatterns();
    // The projector showed each pattern once, in order, then the setup image.
    EXPECT_EQ(rig.display->PatternsShown(), rig.scan->AllPatterns());
    ExpectSetupPatternShownLast(*rig.display);
    EXPECT_EQ(rig.scanner.States(), (std::vector<int>{1, 0}));
    EXPECT_FALSE(rig.scanner.HasHighQualityTexture());
    const auto calls = progress.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), 0.0);
    EXPECT_EQ(calls.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
    ExpectNothingDeliveredAfterwards(rig);
  }
}

TEST(PatternCapture, CancelledMidwayKeepsThePartialFramesAndDetaches) {
  ThreadedRig rig(Rig::Parameters(1, 0));
  rig.scanner.KeepTexture();  // from an earlier capture: kept on cancellation
  ProgressLog progress;
  rig.scanner.CapturePatternSequence([&](double f) {
    progress.Add(f);
    return f >= 3.0 / 7.0;
  });
  const auto calls = progress.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_GE(calls.back(), 3.0 / 7.0);
  EXPECT_LT(calls.back(), 1.0);  // no final report after a cancellation
  const auto counts = rig.Counts();
  for (std::size_t count : counts) {
    EXPECT_GE(count, 3u);
    EXPECT_LT(count, 7u);
  }
  rig.ExpectFramesMatchTheirPatterns();
  EXPECT_EQ(rig.scanner.States(), (std::vector<int>{1, 0}));
  EXPECT_TRUE(rig.scanner.HasHighQualityTexture());
  ExpectSetupPatternShownLast(*rig.display);
  ExpectNothingDeliveredAfterwards(rig);
}

TEST(PatternCapture, CancelRequestAfterTheLastPatternKeepsEveryFrame) {
  // The callback asks to cancel whenever it sees 1.0. If the 50 ms poll saw
  // the capture complete, that is a cancellation (no texture, no final
  // report); otherwise only the final report sees 1.0, and its answer is
  // ignored. Either way every frame is there.
  ThreadedRig rig(Rig::Parameters(1, 0));
  rig.scanner.SetTextureCaptureMode(2);
  std::vector<double> calls;
  rig.scanner.CapturePatternSequence([&](double f) {
    calls.push_back(f);
    return f == 1.0;
  });
  EXPECT_EQ(std::count(calls.begin(), calls.end(), 1.0), 1);
  EXPECT_EQ(calls.back(), 1.0);
  EXPECT_EQ(rig.Counts(), (std::vector<std::size_t>{7, 7}));
  rig.ExpectFramesMatchTheirPatterns();
  const auto states = rig.scanner.States();
  if (states.size() == 3) {
    EXPECT_EQ(states, (std::vector<int>{1, 2, 0}));
    EXPECT_TRUE(rig.scanner.HasHighQualityTexture());
  } else {
    EXPECT_EQ(states, (std::vector<int>{1, 0}));
    EXPECT_FALSE(rig.scanner.HasHighQualityTexture());
  }
  ExpectSetupPatternShownLast(*rig.display);
  ExpectNothingDeliveredAfterwards(rig);
}

TEST(PatternCapture, ASourceThatStopsLeavesTheCaptureWaitingUntilCancelled) {
  ThreadedRig rig(Rig::Parameters(1, 0));
  std::atomic<bool> cancel{false};
  std::atomic<int> waitingReports{0};
  std::atomic<bool> paused{false};
  std::atomic<double> cancelRequestedAt{0.0};
  std::thread canceller;
  ProgressLog progress;
  rig.scanner.CapturePatternSequence([&](double f) {
    progress.Add(f);
    if (!paused && f >= 2.0 / 7.0) {
      rig.slow->SetPaused(true);  // the cable is pulled
      paused = true;
      canceller = std::thread([&] {
        // Off the phase of the 50 ms polls, which started with this report.
        std::this_thread::sleep_for(std::chrono::milliseconds(425));
        cancelRequestedAt = vid::SteadySeconds();
        cancel = true;
      });
    } else if (paused) {
      ++waitingReports;
    }
    return cancel.load();
  });
  const double latency = vid::SteadySeconds() - cancelRequestedAt.load();
  canceller.join();
  std::printf("Cancellation returned %.1f ms after the request\n", latency * 1000.0);
  // Nominally at most one 50 ms poll; generous for loaded machines.
  EXPECT_LT(latency, 0.5);
  EXPECT_GE(waitingReports.load(), 3);  // it kept waiting and reporting
  // While it waited, the reported fraction stood still.
  const auto calls = progress.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_LT(calls.back(), 1.0);
  EXPECT_EQ(calls[calls.size() - 3], calls.back());
  rig.ExpectFramesMatchTheirPatterns();
  EXPECT_EQ(rig.scanner.States(), (std::vector<int>{1, 0}));
  ExpectSetupPatternShownLast(*rig.display);
  EXPECT_FALSE(rig.fast->IsCapturing());
  EXPECT_FALSE(rig.slow->IsCapturing());
}

bool WaitFor(const std::function<bool()>& condition) {
  const double deadline = vid::SteadySeconds() + 5.0;
  while (!condition()) {
    if (vid::SteadySeconds() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(PatternCapture, ProjectorAdvancesOnlyWhenEveryCameraHasItsFrame) {
  // The test delivers every frame itself, so the order of events is fixed.
  Rig rig(3);
  auto a = std::make_shared<ManualCapture>("a");
  auto b = std::make_shared<ManualCapture>("b");
  rig.scanner.SetImageCapture(a, rig.scanner.AddCamera("a", false));
  rig.scanner.SetImageCapture(b, rig.scanner.AddCamera("b", false));
  AcquisitionParameters every;
  every.imageContentSensitivity = 100;
  every.imageSkipCount = 0;
  rig.scanner.SetAcquisitionParameters(every);
  auto shown = [&] { return rig.display->PatternsShown().size(); };

  std::thread worker([&] { rig.scanner.CapturePatternSequence({}); });
  ASSERT_TRUE(WaitFor([&] { return a->IsCapturing() && b->IsCapturing() && shown() == 1; }));
  a->Deliver(250);  // the first frames are references only
  b->Deliver(250);
  a->Deliver(20);
  EXPECT_EQ(shown(), 1u);
  a->Deliver(21);  // a second frame before b caught up: filed under pattern 0, dropped
  EXPECT_EQ(shown(), 1u);
  EXPECT_EQ(rig.scanner.GetCompletedPatternCount(), 0u);
  b->Deliver(20);
  EXPECT_EQ(shown(), 2u);
  EXPECT_EQ(rig.scanner.GetCompletedPatternCount(), 1u);
  b->Deliver(50);
  EXPECT_EQ(shown(), 2u);
  a->Deliver(50);
  EXPECT_EQ(shown(), 3u);
  EXPECT_FALSE(a->Deliver(80));  // a's store is complete: its delivery ends
  EXPECT_FALSE(a->IsCapturing());
  EXPECT_TRUE(b->IsCapturing());
  EXPECT_FALSE(b->Deliver(80));
  worker.join();

  EXPECT_EQ(rig.scanner.GetCompletedPatternCount(), 3u);
  EXPECT_EQ(rig.display->PatternsShown(), rig.scan->AllPatterns());
  const auto patterns = rig.scan->AllPatterns();
  for (std::size_t c = 0; c < 2; ++c) {
    auto store = rig.scanner.GetScannedImages(c);
    ASSERT_EQ(store->Count(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
      EXPECT_EQ(store->GrayImageOf(patterns[i])->data[0], 20 + 30 * i) << c << " " << i;
  }
  EXPECT_EQ(a->GetDetachCount(), 1);  // the finish step detached both
  EXPECT_EQ(b->GetDetachCount(), 1);
  EXPECT_FALSE(a->Deliver(1));
}

}  // namespace
}  // namespace scan
