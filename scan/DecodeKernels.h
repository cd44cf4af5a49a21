#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/img/UniImage.h"

// The per-pixel loops of the coded-light decoding, each over a run of
// `count` consecutive pixels (a row or part of one). Frame arguments are the
// frames' first pixels and an `offset` to the run; every other array points
// at the run's first pixel. Inputs and outputs must not overlap.
//
// On x86-64 each kernel is built for AVX-512 (x86-64-v4), AVX2 (x86-64-v3)
// and the baseline instruction set, and the loader picks the clone the CPU
// runs. Floating-point contraction is off in this file, so every clone
// rounds alike and gives bit-identical results.
namespace scan::kernels {

// The shift tables of n phase-shift frames: cosines[i] = cos(−2πi/n),
// sines[i] = sin(−2πi/n) (double precision).
void ShiftTables(std::size_t n, std::vector<double>& cosines, std::vector<double>& sines);

// Phase-shift analysis of the n ≥ 3 frames I(0 … n−1) of a pixel with the
// shift tables of ShiftTables: the double sums x = Σ I·cos, y = Σ I·sin,
// rounded to float, give phase = atan2(y, x)/2π in [0, 1) periods (see
// PhaseInPeriods) and amplitude = 2·√(x² + y²)/n; mean = ΣI/n (float). A
// null output is not computed.
void PhaseShift(const img::uint8* const* frames, std::size_t n, const double* cosines, const double* sines,
                std::size_t offset, std::size_t count, float* phase, float* amplitude, float* mean);

// Binary reflected Gray code of `levels` frames (level 0 the most
// significant bit) into the half-period index: bit = gray > inverse (or
// gray > threshold, as float), index = index·2 + (bit xor index) mod 2.
void GrayCodeAgainstInverse(const img::uint8* const* gray, const img::uint8* const* inverse, std::size_t levels,
                            std::size_t offset, std::size_t count, img::int32* code);
void GrayCodeAgainstThreshold(const img::uint8* const* gray, std::size_t levels, std::size_t offset,
                              const float* threshold, std::size_t count, img::int32* code);

// result = (k + φ)·scale with k = ⌊c·0.5 + 0.75 − φ⌋ (double precision),
// c the half-period index and φ the phase in periods.
void CombineCodeAndPhase(const img::int32* code, const float* phase, double scale, std::size_t count,
                         float* result);

// Quality map pieces over rows of width w. WindowRowMinMax: the minimum and
// maximum of each pixel's 5-pixel window of one row, clipped to the row.
// ScoreQualityWindow: lo/hi = the element-wise minimum/maximum of `rows`
// such row results (1 ≤ rows ≤ 5), and q = min(q, score) with score 0 where
// value < minContrast (or NaN) or hi ≤ 0, else max(0, 1.2·lo/hi). NaN never
// wins a minimum or maximum.
void WindowRowMinMax(const float* in, std::uint32_t w, float* lo, float* hi);
void ScoreQualityWindow(const float* const* rowLo, const float* const* rowHi, std::size_t rows, const float* value,
                        std::uint32_t w, float minContrast, float* q);

}  // namespace scan::kernels
