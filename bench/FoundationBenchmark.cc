// Throughput of the foundation's hot paths: grey conversion per pixel, chunk
// trees per byte, rigid transforms per point.

#include <benchmark/benchmark.h>

#include <sstream>

#include "foundation/img/ImageIO.h"
#include "foundation/math/Twist.h"
#include "foundation/utils/ChunkNode.h"

namespace {

void BM_ConvertImageRGBToGray(benchmark::State& state) {
  img::UniImage<img::RGB8> colour(1920, 1080);
  for (int i = 0; i < colour.size; ++i) colour.data[i] = img::RGB8::FromRGB(i & 255, (i >> 3) & 255, (i >> 7) & 255);
  const int mode = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(img::ConvertImageRGBToGray(colour, mode));
  state.SetItemsProcessed(state.iterations() * colour.size);
  state.SetLabel("items = pixels");
}
BENCHMARK(BM_ConvertImageRGBToGray)->Arg(0)->Arg(4);

void BM_ChunkTreeRoundTrip(benchmark::State& state) {
  auto root = utils::ChunkNode::NewNode("zentomesh");
  std::vector<float> positions(static_cast<std::size_t>(state.range(0)) * 3, 1.0f);
  for (int i = 0; i < 16; ++i) root->NewChild("geo")->NewChild("positions")->SetArray(positions);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::stringstream stream;
    root->Save(stream);
    bytes = stream.str().size();
    benchmark::DoNotOptimize(utils::ChunkNode::Load(stream));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ChunkTreeRoundTrip)->Arg(1000)->Arg(100000);

void BM_FrameTransformPoints(benchmark::State& state) {
  const math::Frame<double> f = math::Twist(math::Vec3d(1, 2, 3), math::Vec3d(0.1, 0.2, 0.3)).Exp();
  std::vector<math::Vec3f> points(1 << 16, math::Vec3f(1.f, 2.f, 3.f));
  for (auto _ : state) {
    for (auto& p : points) p = f * p;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(points.size()));
  state.SetLabel("items = points");
}
BENCHMARK(BM_FrameTransformPoints);

}  // namespace

BENCHMARK_MAIN();
