// Decode and delivery per frame of the live-camera pipeline (device buffer →
// sampler → frame delivery → store), on replayed devices: a 1080p MJPG
// webcam and a 1920 × 1200 monochrome camera. Per frame and per pixel; the
// real-time runs stream at the device's rate for two seconds and count the
// frames lost.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "vid/GrabberDirectShow.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace {

// Counts frames and lets them go.
class CountingStore : public vid::ImageStore {
 public:
  bool PushImage(vid::ImagePtr) override {
    ++m_count;
    return true;
  }
  std::uint64_t Count() const { return m_count; }

 private:
  std::atomic<std::uint64_t> m_count{0};
};

struct Camera {
  enum Kind { kMjpgColour, kMjpgGrey, kMonoY800 };

  std::shared_ptr<vid::testing::ReplayV4l2Bus> bus =
      std::make_shared<vid::testing::ReplayV4l2Bus>();
  std::unique_ptr<vid::GrabberDirectShow> grabber;
  std::shared_ptr<CountingStore> store = std::make_shared<CountingStore>();
  vid::Format format;

  Camera(Kind kind, bool realTime) {
    vid::testing::ReplayFaults faults;
    faults.realTime = realTime;
    if (kind == kMonoY800) {
      bus->Plug("/dev/video0", vid::testing::MonoIndustrialCamera(), faults);
      format = {vid::subtype::Y800, 1920, 1200, 60.0};
    } else {
      bus->Plug("/dev/video0", vid::testing::UvcWebcam1080p(), faults);
      format = {kind == kMjpgGrey ? vid::subtype::Y800 : vid::subtype::RGB24, 1920, 1080, 30.0};
    }
    grabber = std::make_unique<vid::GrabberDirectShow>(
        "", vid::GrabberDirectShow::Options{bus, 30.0, false});
    grabber->Init();
    vid::CameraInfo info;
    info.source = {vid::SourceType::Live, "/dev/video0"};
    info.allowedFormats = {format};
    if (grabber->Open(info, false) != 0 || !grabber->Run())
      throw std::runtime_error("camera did not start");
    grabber->StartCapture(store, nullptr);
  }
  ~Camera() {
    grabber->StopCapture();
    grabber->Stop();
  }
};

const char* Name(int kind) {
  switch (kind) {
    case Camera::kMjpgColour:
      return "MJPG 1920x1080 -> RGB24";
    case Camera::kMjpgGrey:
      return "MJPG 1920x1080 -> Y800";
    default:
      return "GREY 1920x1200 -> Y800";
  }
}

// As fast as the pipeline takes frames: one iteration per delivered frame.
void BM_DecodeAndDeliver(benchmark::State& state) {
  const auto kind = static_cast<Camera::Kind>(state.range(0));
  Camera camera(kind, false);
  std::uint64_t seen = camera.grabber->GetFrameCount();
  camera.grabber->WaitForFrameAfter(seen, 10.0);  // the replay's frames are made once
  seen = camera.grabber->GetFrameCount();
  for (auto _ : state) {
    camera.grabber->WaitForFrameAfter(seen, 10.0);
    seen = camera.grabber->GetFrameCount();
  }
  state.SetItemsProcessed(state.iterations() * camera.format.width * camera.format.height);
  state.counters["skipped"] = double(camera.grabber->GetStatistics().skipped);
  state.SetLabel(std::string(Name(kind)) + ", time per frame, items = pixels");
}
BENCHMARK(BM_DecodeAndDeliver)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The device's own rate for two seconds: frames delivered and lost.
void BM_RealTimeStream(benchmark::State& state) {
  const auto kind = static_cast<Camera::Kind>(state.range(0));
  for (auto _ : state) {
    Camera camera(kind, true);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto stats = camera.grabber->GetStatistics();
    state.counters["fps"] = double(stats.delivered) / 2.0;
    state.counters["dropped"] = double(stats.dropped);
    state.counters["skipped"] = double(stats.skipped);
  }
  state.SetLabel(std::string(Name(kind)) + " at " + (kind == Camera::kMonoY800 ? "60" : "30") +
                 " fps");
}
BENCHMARK(BM_RealTimeStream)
    ->Arg(Camera::kMjpgColour)
    ->Arg(Camera::kMonoY800)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
