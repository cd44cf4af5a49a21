#include "scan/DecodeKernels.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "scan/PhaseInPeriods.h"

// One clone per instruction-set level; the helpers below are forced inline so
// that each clone compiles them for its own level.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(TARVELIN_NO_KERNEL_CLONES)
#define TARVELIN_KERNEL_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define TARVELIN_KERNEL_CLONES
#endif
#define TARVELIN_FORCE_INLINE [[gnu::always_inline]] inline

namespace scan::kernels {
namespace {

constexpr std::size_t kBlock = 256;  // pixels per block of the two-pass phase loop

// Sums of a block of pixels (double, then rounded to float), then amplitude
// and phase: each pass is a loop of one data type that the compiler
// vectorises. N > 0 fixes the frame count at
// compile time so that the frame loop unrolls; N = 0 reads n.
template <std::size_t N>
TARVELIN_FORCE_INLINE void PhaseShiftBlocks(const img::uint8* const* frames, std::size_t n, const double* cosines,
                                            const double* sines, std::size_t offset, std::size_t count, float* phase,
                                            float* amplitude, float* mean) {
  constexpr std::size_t kMaxFixed = N == 0 ? 1 : N;
  const std::size_t frameCount = N == 0 ? n : N;
  const img::uint8* f[kMaxFixed];
  double c[kMaxFixed];
  double s[kMaxFixed];
  if constexpr (N > 0) {
    for (std::size_t i = 0; i < N; ++i) {
      f[i] = frames[i] + offset;
      c[i] = cosines[i];
      s[i] = sines[i];
    }
  }
  float xs[kBlock];
  float ys[kBlock];
  float scratchMean[kBlock];
  const float amplitudeScale = 2.0f / float(frameCount);
  const float frameCountF = float(frameCount);
  for (std::size_t b = 0; b < count; b += kBlock) {
    const std::size_t m = std::min(kBlock, count - b);
    float* __restrict meanOut = mean ? mean + b : scratchMean;
    if constexpr (N > 0) {
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
        xs[k] = static_cast<float>(x);
        ys[k] = static_cast<float>(y);
        meanOut[k] = static_cast<float>(sum) / frameCountF;
      }
    } else {
      for (std::size_t k = 0; k < m; ++k) {
        std::int32_t sum = 0;
        double x = 0.0;
        double y = 0.0;
        for (std::size_t i = 0; i < frameCount; ++i) {
          const std::int32_t v = frames[i][offset + b + k];
          sum += v;
          x += double(v) * cosines[i];
          y += double(v) * sines[i];
        }
        xs[k] = static_cast<float>(x);
        ys[k] = static_cast<float>(y);
        meanOut[k] = static_cast<float>(sum) / frameCountF;
      }
    }
    if (amplitude) {
      float* __restrict amplitudeOut = amplitude + b;
      for (std::size_t k = 0; k < m; ++k) amplitudeOut[k] = amplitudeScale * std::sqrt(xs[k] * xs[k] + ys[k] * ys[k]);
    }
    if (phase) {
      float* __restrict phaseOut = phase + b;
      for (std::size_t k = 0; k < m; ++k) phaseOut[k] = PhaseInPeriods(ys[k], xs[k]);
    }
  }
}

}  // namespace

void ShiftTables(std::size_t n, std::vector<double>& cosines, std::vector<double>& sines) {
  cosines.resize(n);
  sines.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    sines[i] = std::sin(-2.0 * std::numbers::pi * double(i) / double(n));
    cosines[i] = std::cos(-2.0 * std::numbers::pi * double(i) / double(n));
  }
}

TARVELIN_KERNEL_CLONES
void PhaseShift(const img::uint8* const* frames, std::size_t n, const double* cosines, const double* sines,
                std::size_t offset, std::size_t count, float* phase, float* amplitude, float* mean) {
  switch (n) {
    case 3: return PhaseShiftBlocks<3>(frames, n, cosines, sines, offset, count, phase, amplitude, mean);
    case 4: return PhaseShiftBlocks<4>(frames, n, cosines, sines, offset, count, phase, amplitude, mean);
    case 5: return PhaseShiftBlocks<5>(frames, n, cosines, sines, offset, count, phase, amplitude, mean);
    case 6: return PhaseShiftBlocks<6>(frames, n, cosines, sines, offset, count, phase, amplitude, mean);
    case 8: return PhaseShiftBlocks<8>(frames, n, cosines, sines, offset, count, phase, amplitude, mean);
    default: return PhaseShiftBlocks<0>(frames, n, cosines, sines, offset, count, phase, amplitude, mean);
  }
}

TARVELIN_KERNEL_CLONES
void GrayCodeAgainstInverse(const img::uint8* const* gray, const img::uint8* const* inverse, std::size_t levels,
                            std::size_t offset, std::size_t count, img::int32* code) {
  std::uint32_t* __restrict out = reinterpret_cast<std::uint32_t*>(code);
  std::fill(out, out + count, 0u);
  for (std::size_t level = 0; level < levels; ++level) {
    const img::uint8* __restrict g = gray[level] + offset;
    const img::uint8* __restrict v = inverse[level] + offset;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t c = out[i];
      const std::uint32_t bit = g[i] > v[i] ? 1u : 0u;
      out[i] = (c << 1) | ((bit ^ c) & 1u);
    }
  }
}

TARVELIN_KERNEL_CLONES
void GrayCodeAgainstThreshold(const img::uint8* const* gray, std::size_t levels, std::size_t offset,
                              const float* threshold, std::size_t count, img::int32* code) {
  std::uint32_t* __restrict out = reinterpret_cast<std::uint32_t*>(code);
  const float* __restrict t = threshold;
  std::fill(out, out + count, 0u);
  for (std::size_t level = 0; level < levels; ++level) {
    const img::uint8* __restrict g = gray[level] + offset;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t c = out[i];
      const std::uint32_t bit = static_cast<float>(g[i]) > t[i] ? 1u : 0u;
      out[i] = (c << 1) | ((bit ^ c) & 1u);
    }
  }
}

namespace {

// ⌊v⌋ for |v| < 2³¹ through a truncating conversion, which vectorises where
// the floor instruction needs a newer instruction set.
TARVELIN_FORCE_INLINE double Floor(double v) {
  const double t = static_cast<double>(static_cast<std::int32_t>(v));
  return t > v ? t - 1.0 : t;
}

// Smaller and larger of two values where a NaN never wins (comparisons with
// NaN are false), in the form that compiles to min/max instructions.
TARVELIN_FORCE_INLINE float Lower(float v, float m) { return v < m ? v : m; }
TARVELIN_FORCE_INLINE float Upper(float v, float m) { return v > m ? v : m; }

constexpr std::uint32_t kRadius = 2;  // the 5-pixel window
constexpr std::uint32_t kWindow = 2 * kRadius + 1;

}  // namespace

TARVELIN_KERNEL_CLONES
void CombineCodeAndPhase(const img::int32* code, const float* phase, double scale, std::size_t count,
                         float* result) {
  const img::int32* __restrict c = code;
  const float* __restrict p = phase;
  float* __restrict r = result;
  for (std::size_t j = 0; j < count; ++j) {
    const double phi = p[j];
    const double k = Floor(c[j] * 0.5 + 0.75 - phi);
    r[j] = static_cast<float>((k + phi) * scale);
  }
}

TARVELIN_KERNEL_CLONES
void WindowRowMinMax(const float* in, std::uint32_t w, float* minOut, float* maxOut) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  auto clipped = [&](std::uint32_t x) {
    const std::uint32_t x0 = x >= kRadius ? x - kRadius : 0;
    const std::uint32_t x1 = std::min(w - 1, x + kRadius);
    float lo = kInf;
    float hi = -kInf;
    for (std::uint32_t i = x0; i <= x1; ++i) {
      lo = Lower(in[i], lo);
      hi = Upper(in[i], hi);
    }
    minOut[x] = lo;
    maxOut[x] = hi;
  };
  if (w < kWindow) {
    for (std::uint32_t x = 0; x < w; ++x) clipped(x);
    return;
  }
  for (std::uint32_t x = 0; x < kRadius; ++x) clipped(x);
  const float* __restrict a = in;
  float* __restrict lows = minOut;
  float* __restrict highs = maxOut;
  for (std::uint32_t x = kRadius; x < w - kRadius; ++x) {
    const float v0 = a[x - 2], v1 = a[x - 1], v2 = a[x], v3 = a[x + 1], v4 = a[x + 2];
    lows[x] = Lower(v4, Lower(v3, Lower(v2, Lower(v1, Lower(v0, kInf)))));
    highs[x] = Upper(v4, Upper(v3, Upper(v2, Upper(v1, Upper(v0, -kInf)))));
  }
  for (std::uint32_t x = w - kRadius; x < w; ++x) clipped(x);
}

namespace {

// The window of R rows (R > 0 fixed at compile time so that the row loop
// unrolls; R = 0 reads rows).
template <std::size_t R>
TARVELIN_FORCE_INLINE void ScoreWindow(const float* const* rowLo, const float* const* rowHi, std::size_t rows,
                                       const float* value, std::uint32_t w, float minContrast, float* q) {
  const std::size_t n = R == 0 ? rows : R;
  const float* __restrict v = value;
  float* __restrict out = q;
  // The rows, value and q never overlap (more streams than the compiler's
  // run-time overlap checks cover).
#pragma GCC ivdep
  for (std::uint32_t x = 0; x < w; ++x) {
    float lo = rowLo[0][x];
    float hi = rowHi[0][x];
    for (std::size_t r = 1; r < n; ++r) {
      lo = Lower(rowLo[r][x], lo);
      hi = Upper(rowHi[r][x], hi);
    }
    const float ratio = 1.2f * lo / hi;
    float score = ratio > 0.0f ? ratio : 0.0f;
    score = hi > 0.0f ? score : 0.0f;
    score = v[x] >= minContrast ? score : 0.0f;
    out[x] = score < out[x] ? score : out[x];
  }
}

}  // namespace

TARVELIN_KERNEL_CLONES
void ScoreQualityWindow(const float* const* rowLo, const float* const* rowHi, std::size_t rows, const float* value,
                        std::uint32_t w, float minContrast, float* q) {
  switch (rows) {
    case 3: return ScoreWindow<3>(rowLo, rowHi, rows, value, w, minContrast, q);
    case 4: return ScoreWindow<4>(rowLo, rowHi, rows, value, w, minContrast, q);
    case 5: return ScoreWindow<5>(rowLo, rowHi, rows, value, w, minContrast, q);
    default: return ScoreWindow<0>(rowLo, rowHi, rows, value, w, minContrast, q);
  }
}

}  // namespace scan::kernels
