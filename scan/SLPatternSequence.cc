#include "scan/SLPatternSequence.h"

#include <cmath>
#include <stdexcept>

#include "scan/SLStripePatterns.h"

namespace scan {

std::uint32_t SLAlternatingSliceShuffle::MapIndex(std::uint32_t i, std::uint32_t n) const {
  const std::uint32_t N = m_sliceCount;
  if (i >= n || N == 0) return i;
  const std::uint32_t q = i / N;
  const std::uint32_t r = i % N;
  const std::uint32_t m = n % N;
  const std::uint32_t j = (n + N - 1) / N * r + q;
  return (r <= m || m == 0) ? j : j + m - r;
}

SLPatternPtr SLPatternSequence::PatternAt(std::uint32_t i) const {
  const std::uint32_t n = PatternCount();
  const std::uint32_t mapped = m_shuffle ? m_shuffle->MapIndex(i, n) : i;
  return mapped < n ? m_patterns[mapped] : nullptr;
}

SLPhaseShiftPatternSequence::SLPhaseShiftPatternSequence(bool alongX, std::uint32_t width, std::uint32_t height,
                                                         double period, std::uint32_t shiftCount)
    : m_alongX(alongX), m_period(period), m_extent(alongX ? width : height) {
  if (!(period > 0.0)) {
    throw std::invalid_argument("SLPhaseShiftPatternSequence::SLPhaseShiftPatternSequence - period must be positive.");
  }
  for (std::uint32_t i = 0; i < shiftCount; ++i) {
    AddPattern(std::make_shared<SLSineWavePattern>(alongX, period, double(i) / shiftCount));
  }
}

SLPSKPatternSequence::SLPSKPatternSequence(bool alongX, double period, std::uint32_t width, std::uint32_t height,
                                           std::uint32_t symbolCount, std::uint32_t shiftsPerLevel)
    : m_alongX(alongX),
      m_period(period),
      m_extent(alongX ? width : height),
      m_symbolCount(symbolCount),
      m_levelCount(0),
      m_shiftsPerLevel(shiftsPerLevel) {
  if (!(period > 0.0) || symbolCount < 2 || shiftsPerLevel < 2) {
    throw std::invalid_argument(
        "SLPSKPatternSequence::SLPSKPatternSequence - Needs a positive period, at least 2 symbols and 2 shifts.");
  }
  const double levels = std::ceil(std::log(2.0 * m_extent / period) / std::log(double(symbolCount)) + 1.0);
  m_levelCount = levels >= 1.0 ? static_cast<std::uint32_t>(levels) : 0;
  if (m_levelCount < 2) return;
  for (std::uint32_t level = 1; level < m_levelCount; ++level) {
    for (std::uint32_t j = 0; j < shiftsPerLevel; ++j) {
      const double phase = shiftsPerLevel == 2 ? j * 0.25 : double(j) / shiftsPerLevel;
      AddPattern(std::make_shared<SLPSKPattern>(alongX, period, level, m_levelCount, symbolCount, phase));
    }
  }
}

SLPatternSequencePtr MakeGrayCodeSequence(bool alongX, std::uint32_t width, std::uint32_t height, bool inverse,
                                          std::uint32_t period) {
  if (period == 0) throw std::invalid_argument("MakeGrayCodeSequence - period must be positive.");
  const std::uint32_t extent = alongX ? width : height;
  const double levels = std::ceil(std::log(extent / (period * 0.5)) / std::log(2.0));
  const std::uint32_t count = levels >= 2.0 ? static_cast<std::uint32_t>(levels) : 1;
  auto sequence = std::make_shared<SLPatternSequence>();
  for (std::uint32_t level = 0; level < count; ++level) {
    sequence->AddPattern(std::make_shared<SLBinaryGrayCodePattern>(alongX, period, count, level, inverse ? 1 : 0));
  }
  return sequence;
}

}  // namespace scan
