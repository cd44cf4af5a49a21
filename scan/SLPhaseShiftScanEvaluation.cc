#include "scan/SLPhaseShiftScanEvaluation.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "scan/FastAtan2.h"
#include "scan/WorkerRanges.h"

namespace scan {
namespace {

struct Outputs {
  float* phase;
  float* amplitude;
  float* mean;
};

// Pixels [begin, end) of n frames. N > 0 fixes the frame count at compile
// time so that the pixel loop unrolls and vectorises; N = 0 reads n.
template <std::size_t N>
void Kernel(const img::uint8* const* frames, std::size_t n, const double* cosines, const double* sines,
            std::size_t begin, std::size_t end, const Outputs& out) {
  if constexpr (N == 0) {
    const double amplitudeScale = 2.0 / double(n);
    for (std::size_t j = begin; j < end; ++j) {
      std::uint32_t sum = 0;
      double x = 0.0;
      double y = 0.0;
      for (std::size_t i = 0; i < n; ++i) {
        const img::uint8 v = frames[i][j];
        sum += v;
        x += v * cosines[i];
        y += v * sines[i];
      }
      out.amplitude[j] = static_cast<float>(amplitudeScale * std::sqrt(x * x + y * y));
      out.mean[j] = static_cast<float>(sum) / static_cast<float>(n);
      out.phase[j] = PhaseInPeriods(y, x);
    }
  } else {
    // Local copies let the compiler see that the outputs alias nothing.
    const img::uint8* f[N];
    double c[N];
    double s[N];
    for (std::size_t i = 0; i < N; ++i) {
      f[i] = frames[i];
      c[i] = cosines[i];
      s[i] = sines[i];
    }
    // Two passes over blocks of pixels: the sums, then amplitude and phase;
    // each pass is a loop of one data type that the compiler vectorises.
    constexpr std::size_t kBlock = 256;
    double xs[kBlock];
    double ys[kBlock];
    constexpr double amplitudeScale = 2.0 / double(N);
    for (std::size_t b = begin; b < end; b += kBlock) {
      const std::size_t m = std::min(kBlock, end - b);
      float* __restrict mean = out.mean + b;
      for (std::size_t k = 0; k < m; ++k) {
        std::int32_t sum = 0;
        double x = 0.0;
        double y = 0.0;
        for (std::size_t i = 0; i < N; ++i) {
          const std::int32_t v = f[i][b + k];
          sum += v;
          x += double(v) * c[i];
          y += double(v) * s[i];
        }
        xs[k] = x;
        ys[k] = y;
        mean[k] = static_cast<float>(sum) / float(N);
      }
      float* __restrict phase = out.phase + b;
      float* __restrict amplitude = out.amplitude + b;
      for (std::size_t k = 0; k < m; ++k) {
        amplitude[k] = static_cast<float>(amplitudeScale * std::sqrt(xs[k] * xs[k] + ys[k] * ys[k]));
        phase[k] = PhaseInPeriods(ys[k], xs[k]);
      }
    }
  }
}

}  // namespace

SLPhaseShiftScanEvaluation::SLPhaseShiftScanEvaluation(std::shared_ptr<SLPhaseShiftPatternSequence> sequence)
    : m_sequence(std::move(sequence)) {
  if (!m_sequence) {
    throw std::invalid_argument("SLPhaseShiftScanEvaluation::SLPhaseShiftScanEvaluation - sequence is nullptr.");
  }
}

void SLPhaseShiftScanEvaluation::Evaluate(const SLScannedImagesStore& store) {
  m_phaseImage.reset();
  m_amplitudeImage.reset();
  m_meanImage.reset();
  const auto frames = store.GrayImagesOf(*m_sequence);
  const std::size_t n = frames.size();
  if (n < 3) return;
  const std::uint32_t w = frames.front()->width;
  const std::uint32_t h = frames.front()->height;
  std::vector<const img::uint8*> pixels;
  for (const auto& frame : frames) {
    if (!frame->SameSize(w, h)) return;
    pixels.push_back(frame->data);
  }
  auto phase = std::make_shared<img::UniImage<float>>(w, h);
  auto amplitude = std::make_shared<img::UniImage<float>>(w, h);
  auto mean = std::make_shared<img::UniImage<float>>(w, h);

  std::vector<double> sines(n);
  std::vector<double> cosines(n);
  for (std::size_t i = 0; i < n; ++i) {
    sines[i] = std::sin(-2.0 * std::numbers::pi * double(i) / double(n));
    cosines[i] = std::cos(-2.0 * std::numbers::pi * double(i) / double(n));
  }
  const Outputs out{phase->data, amplitude->data, mean->data};
  RunOnWorkers(std::size_t(w) * h, m_workerCount == 0 ? HardwareWorkerCount() : m_workerCount,
               [&](std::size_t begin, std::size_t end) {
                 switch (n) {
                   case 3: return Kernel<3>(pixels.data(), n, cosines.data(), sines.data(), begin, end, out);
                   case 4: return Kernel<4>(pixels.data(), n, cosines.data(), sines.data(), begin, end, out);
                   case 5: return Kernel<5>(pixels.data(), n, cosines.data(), sines.data(), begin, end, out);
                   case 6: return Kernel<6>(pixels.data(), n, cosines.data(), sines.data(), begin, end, out);
                   case 8: return Kernel<8>(pixels.data(), n, cosines.data(), sines.data(), begin, end, out);
                   default: return Kernel<0>(pixels.data(), n, cosines.data(), sines.data(), begin, end, out);
                 }
               });
  m_phaseImage = std::move(phase);
  m_amplitudeImage = std::move(amplitude);
  m_meanImage = std::move(mean);
}

}  // namespace scan
