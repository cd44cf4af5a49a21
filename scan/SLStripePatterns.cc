#include "scan/SLStripePatterns.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace scan {

SLBinaryGrayCodePattern::SLBinaryGrayCodePattern(bool alongX, double period, std::uint32_t levelCount,
                                                 std::uint32_t level, std::uint32_t tableSelector)
    : SLAxisAlignedStripedPattern(alongX, period), m_levelCount(levelCount), m_level(level) {
  if (tableSelector == 0) {
    m_table = {0, 1, 1, 0};
  } else if (tableSelector == 1) {
    m_table = {1, 0, 0, 1};
  } else {
    throw std::invalid_argument("SLBinaryGrayCodePattern::SLBinaryGrayCodePattern - Invalid table selector.");
  }
  if (level >= levelCount) {
    throw std::invalid_argument("SLBinaryGrayCodePattern::SLBinaryGrayCodePattern - Level out of range.");
  }
  m_stripeWidth = std::ldexp(1.0, static_cast<int>(levelCount - level - 1)) * period * 0.5;
}

std::array<std::uint8_t, 4> SLBinaryGrayCodePattern::IntensityAt(std::uint32_t p) const {
  const auto k = static_cast<std::uint64_t>(std::floor(p / m_stripeWidth));
  const auto v = static_cast<std::uint8_t>(m_table[k % 4] * m_brightness);
  return {v, v, v, 255};
}

SLSineWavePattern::SLSineWavePattern(bool alongX, double period, double phase)
    : SLAxisAlignedStripedPattern(alongX, period), m_phase(phase) {}

std::array<std::uint8_t, 4> SLSineWavePattern::IntensityAt(std::uint32_t p) const {
  const double s = 0.5 * std::cos(2.0 * std::numbers::pi * (p / m_period + m_phase)) + 0.5;
  return SineIntensity(std::pow(s, m_gamma) * m_brightness);
}

SLPSKPattern::SLPSKPattern(bool alongX, double period, std::uint32_t level, std::uint32_t levelCount,
                           std::uint32_t symbolCount, double phase)
    : SLAxisAlignedStripedPattern(alongX, period),
      m_level(level),
      m_levelCount(levelCount),
      m_symbolCount(symbolCount),
      m_phase(phase) {
  if (symbolCount < 2) throw std::invalid_argument("SLPSKPattern::SLPSKPattern - symbolCount must be at least 2.");
  if (level >= levelCount) throw std::invalid_argument("SLPSKPattern::SLPSKPattern - Level out of range.");
}

std::uint32_t SLPSKPattern::SymbolAt(std::uint32_t p) const {
  const double w = std::pow(double(m_symbolCount), double(m_levelCount - m_level - 1)) * m_period * 0.5;
  const auto k = static_cast<std::int32_t>(p / w);
  const std::uint32_t uk = static_cast<std::uint32_t>(k);
  return (uk - uk / m_symbolCount) % m_symbolCount;
}

std::array<std::uint8_t, 4> SLPSKPattern::IntensityAt(std::uint32_t p) const {
  const double s = SymbolAt(p);
  const double x = p / m_period - s / m_symbolCount + m_phase;
  const double c = 0.5 * std::cos(2.0 * std::numbers::pi * x) + 0.5;
  return SineIntensity(std::pow(c, m_gamma) * m_brightness);
}

}  // namespace scan
