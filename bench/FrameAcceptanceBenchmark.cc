// Per-frame cost of frame acceptance on the delivery thread, per pixel of a
// 1920 × 1200 frame: a Y800 frame while waiting for the pattern to change
// (the common case: the change test only; an RGB24 frame is made grey
// first), a frame taken (one copy into the
// reference and one for the store), and the whole path of a taken RGB24
// frame through the filter wrapper and the store wrapper.

#include <benchmark/benchmark.h>

#include <vector>

#include "scan/ImageWrappers.h"
#include "scan/SLSingleColorPattern.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1200;

vid::ImagePtr Frame(const utils::Guid& subtype, std::uint8_t level) {
  auto image = std::make_shared<vid::Image>();
  image->format = vid::Format{subtype, kWidth, kHeight, 30.0};
  const int stride = vid::DefaultStride(image->format);
  std::vector<std::uint8_t> bytes(std::size_t(stride) * kHeight, level);
  image->data = vid::MakeRawByteImage(image->format, stride, bytes.data(), true);
  return image;
}

void Pixels(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  state.SetLabel("items = pixels");
}

scan::AcquisitionParameters Parameters(int sensitivity) {
  scan::AcquisitionParameters p;
  p.imageContentSensitivity = sensitivity;
  p.imageSkipCount = 0;
  p.maxPatternHoldingTime = 1e9;
  return p;
}

void BM_WaitingForChange(benchmark::State& state) {
  scan::ImageFilterWrapper filter(std::make_shared<scan::ImageFilter>(Parameters(90)));
  const vid::ImagePtr frame = Frame(vid::subtype::Y800, 50);
  filter.Filter(*frame);  // the reference
  for (auto _ : state) benchmark::DoNotOptimize(filter.Filter(*frame));
  Pixels(state);
}
BENCHMARK(BM_WaitingForChange);

void BM_WaitingForChangeRGB24(benchmark::State& state) {
  scan::ImageFilterWrapper filter(std::make_shared<scan::ImageFilter>(Parameters(90)));
  const vid::ImagePtr frame = Frame(vid::subtype::RGB24, 50);
  filter.Filter(*frame);
  for (auto _ : state) benchmark::DoNotOptimize(filter.Filter(*frame));
  Pixels(state);
}
BENCHMARK(BM_WaitingForChangeRGB24);

void BM_TakingGreyFrames(benchmark::State& state) {
  scan::ImageFilterWrapper filter(std::make_shared<scan::ImageFilter>(Parameters(100)));
  const vid::ImagePtr frame = Frame(vid::subtype::Y800, 50);
  filter.Filter(*frame);
  for (auto _ : state) benchmark::DoNotOptimize(filter.Filter(*frame));
  Pixels(state);
}
BENCHMARK(BM_TakingGreyFrames);

void BM_ColourFrameIntoTheStore(benchmark::State& state) {
  auto filter = std::make_shared<scan::ImageFilterWrapper>(
      std::make_shared<scan::ImageFilter>(Parameters(100)));
  const scan::SLPatternPtr pattern = scan::SLSingleColorPattern::GrayPattern(128);
  const vid::ImagePtr frame = Frame(vid::subtype::RGB24, 50);
  filter->Filter(*frame);
  for (auto _ : state) {
    // A fresh store each time, so that every frame is converted and filed.
    auto store = std::make_shared<scan::SLScannedImagesStore>();
    scan::ImageStoreWrapper wrapper([&] { return pattern; }, [](std::size_t) {}, store, 0, 1, 0);
    wrapper.PushImage(filter->Filter(*frame).replacement);
    benchmark::DoNotOptimize(store->Count());
  }
  Pixels(state);
}
BENCHMARK(BM_ColourFrameIntoTheStore);

}  // namespace

BENCHMARK_MAIN();
