// Throughput of the capture layer's per-frame work: frame conversions and the
// change test, per pixel of a 1920 × 1200 frame.

#include <benchmark/benchmark.h>

#include <vector>

#include "vid/ContentChangeDetection.h"
#include "vid/ImageConversion.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1200;

vid::Image Frame(const utils::Guid& subtype, std::uint8_t seed) {
  vid::Image image;
  image.format = vid::Format{subtype, kWidth, kHeight, 30.0};
  const int stride = vid::DefaultStride(image.format);
  std::vector<std::uint8_t> bytes(std::size_t(stride) * kHeight);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
  image.data = vid::MakeRawByteImage(image.format, stride, bytes.data(), true);
  return image;
}

const utils::Guid& Subtype(int index) {
  static const utils::Guid kSubtypes[] = {vid::subtype::Y800, vid::subtype::BY8, vid::subtype::YUY2,
                                          vid::subtype::RGB24};
  return kSubtypes[index];
}

void Label(benchmark::State& state, int subtype) {
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  state.SetLabel(vid::MediaSubtype2String(Subtype(subtype)) + ", items = pixels");
}

void BM_ConvertToGray(benchmark::State& state) {
  const int subtype = static_cast<int>(state.range(0));
  const vid::Image frame = Frame(Subtype(subtype), 0);
  img::UniImage<std::uint8_t> grey;
  for (auto _ : state) benchmark::DoNotOptimize(vid::ConvertToGray(frame, grey));
  Label(state, subtype);
}
BENCHMARK(BM_ConvertToGray)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_ConvertToColor(benchmark::State& state) {
  const int subtype = static_cast<int>(state.range(0));
  const vid::Image frame = Frame(Subtype(subtype), 0);
  img::UniImage<img::RGB8> colour;
  for (auto _ : state) benchmark::DoNotOptimize(vid::ConvertToColor(frame, colour));
  Label(state, subtype);
}
BENCHMARK(BM_ConvertToColor)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_ImagesDifferUnchanged(benchmark::State& state) {
  // Equal frames: the whole sample grid is visited (the worst case).
  const vid::Image a = Frame(vid::subtype::Y800, 0);
  const vid::Image b = Frame(vid::subtype::Y800, 0);
  for (auto _ : state) benchmark::DoNotOptimize(vid::ImagesDiffer(a, b, 90));
  Label(state, 0);
}
BENCHMARK(BM_ImagesDifferUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
