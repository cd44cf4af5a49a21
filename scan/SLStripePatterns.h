#pragma once

#include <array>
#include <cstdint>

#include "scan/SLPattern.h"

namespace scan {

// One bit plane of the reflected binary Gray code of ⌊p / (period/2)⌋. Level 0
// is the coarsest; the finest (levelCount − 1) changes every half period. The
// normal table {0, 1, 1, 0} shows the bit, the inverse table {1, 0, 0, 1} its
// complement. Gamma does not apply: the values are brightness or 0.
class SLBinaryGrayCodePattern : public SLAxisAlignedStripedPattern {
 public:
  // tableSelector 0 normal, 1 inverse; anything else throws std::invalid_argument.
  SLBinaryGrayCodePattern(bool alongX, double period, std::uint32_t levelCount, std::uint32_t level,
                          std::uint32_t tableSelector);

  std::array<std::uint8_t, 4> IntensityAt(std::uint32_t p) const override;

  std::uint32_t LevelCount() const { return m_levelCount; }
  std::uint32_t Level() const { return m_level; }
  bool IsInverse() const { return m_table[0] == 1; }

 private:
  std::uint32_t m_levelCount;
  std::uint32_t m_level;
  std::array<std::uint32_t, 4> m_table;
  double m_stripeWidth;  // pixels per table entry
};

// A sine stripe: intensity (0.5·cos(2π(p/period + phase)) + 0.5)^gamma · brightness.
class SLSineWavePattern : public SLAxisAlignedStripedPattern {
 public:
  // phase in periods.
  SLSineWavePattern(bool alongX, double period, double phase);

  std::array<std::uint8_t, 4> IntensityAt(std::uint32_t p) const override;
  double Phase() const { return m_phase; }

 private:
  double m_phase;
};

// A phase-shift-keyed sine stripe: within each stripe of width
// symbolCount^(levelCount − level − 1) · period/2 the sine is shifted back by
// s/symbolCount periods, s being the modular Gray digit of base symbolCount of
// that level, and forward by phase (periods).
class SLPSKPattern : public SLAxisAlignedStripedPattern {
 public:
  SLPSKPattern(bool alongX, double period, std::uint32_t level, std::uint32_t levelCount, std::uint32_t symbolCount,
               double phase);

  std::array<std::uint8_t, 4> IntensityAt(std::uint32_t p) const override;
  // The symbol s of position p.
  std::uint32_t SymbolAt(std::uint32_t p) const;

  std::uint32_t Level() const { return m_level; }
  std::uint32_t LevelCount() const { return m_levelCount; }
  std::uint32_t SymbolCount() const { return m_symbolCount; }
  double Phase() const { return m_phase; }

 private:
  std::uint32_t m_level;
  std::uint32_t m_levelCount;
  std::uint32_t m_symbolCount;
  double m_phase;
};

}  // namespace scan
