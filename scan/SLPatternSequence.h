#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scan/SLPattern.h"

namespace scan {

// Maps a display index onto a pattern index of a sequence.
class SLPatternSequenceShuffle {
 public:
  virtual ~SLPatternSequenceShuffle() = default;
  virtual std::uint32_t MapIndex(std::uint32_t index, std::uint32_t count) const = 0;
};

// Cuts the n patterns into sliceCount consecutive slices (the first n mod
// sliceCount slices one pattern longer) and alternates between the slices:
// n = 6, 2 slices shows 0, 3, 1, 4, 2, 5; n = 7, 3 slices shows 0, 3, 5, 1, 4, 6, 2.
class SLAlternatingSliceShuffle : public SLPatternSequenceShuffle {
 public:
  explicit SLAlternatingSliceShuffle(std::uint32_t sliceCount) : m_sliceCount(sliceCount) {}
  std::uint32_t MapIndex(std::uint32_t index, std::uint32_t count) const override;
  std::uint32_t SliceCount() const { return m_sliceCount; }

 private:
  std::uint32_t m_sliceCount;
};

// An ordered list of patterns. The patterns keep their own order (the order
// the decoders read frames in); the shuffle only changes the display order
// that PatternAt walks.
class SLPatternSequence {
 public:
  SLPatternSequence() = default;
  virtual ~SLPatternSequence() = default;

  void AddPattern(SLPatternPtr pattern) { m_patterns.push_back(std::move(pattern)); }
  std::uint32_t PatternCount() const { return static_cast<std::uint32_t>(m_patterns.size()); }
  // The pattern shown at display index i; null when out of range.
  SLPatternPtr PatternAt(std::uint32_t i) const;
  void SetShuffle(std::shared_ptr<SLPatternSequenceShuffle> shuffle) { m_shuffle = std::move(shuffle); }
  const std::shared_ptr<SLPatternSequenceShuffle>& Shuffle() const { return m_shuffle; }
  // The patterns in their own (unshuffled) order.
  const std::vector<SLPatternPtr>& Patterns() const { return m_patterns; }

 protected:
  std::vector<SLPatternPtr> m_patterns;
  std::shared_ptr<SLPatternSequenceShuffle> m_shuffle;
};

using SLPatternSequencePtr = std::shared_ptr<SLPatternSequence>;

// shiftCount sine patterns with phases i/shiftCount, i = 0 … shiftCount − 1.
class SLPhaseShiftPatternSequence : public SLPatternSequence {
 public:
  // period in projector pixels (> 0).
  SLPhaseShiftPatternSequence(bool alongX, std::uint32_t width, std::uint32_t height, double period,
                              std::uint32_t shiftCount);

  bool AlongX() const { return m_alongX; }
  double Period() const { return m_period; }
  // Projector width when the stripes vary along x, else its height.
  std::uint32_t Extent() const { return m_extent; }

 private:
  bool m_alongX;
  double m_period;
  std::uint32_t m_extent;
};

// The phase-shift-keyed levels 1 … levelCount − 1 (level 0 carries no
// information), shiftsPerLevel patterns each, with levelCount =
// ⌈log(2·extent/period)/log(symbolCount) + 1⌉. Pattern phases are 0 and 0.25
// for two shifts per level, else j/shiftsPerLevel. Empty when levelCount < 2.
class SLPSKPatternSequence : public SLPatternSequence {
 public:
  // period > 0, symbolCount ≥ 2, shiftsPerLevel ≥ 2; otherwise std::invalid_argument.
  SLPSKPatternSequence(bool alongX, double period, std::uint32_t width, std::uint32_t height,
                       std::uint32_t symbolCount, std::uint32_t shiftsPerLevel);

  bool AlongX() const { return m_alongX; }
  double Period() const { return m_period; }
  std::uint32_t Extent() const { return m_extent; }
  std::uint32_t SymbolCount() const { return m_symbolCount; }
  std::uint32_t LevelCount() const { return m_levelCount; }
  std::uint32_t ShiftsPerLevel() const { return m_shiftsPerLevel; }

 private:
  bool m_alongX;
  double m_period;
  std::uint32_t m_extent;
  std::uint32_t m_symbolCount;
  std::uint32_t m_levelCount;
  std::uint32_t m_shiftsPerLevel;
};

// The Gray-code levels of a stripe period (projector pixels, > 0), coarsest
// first: ⌈log2(extent / (period/2))⌉ patterns, at least 1. inverse false gives
// the normal table, true the complementary one.
SLPatternSequencePtr MakeGrayCodeSequence(bool alongX, std::uint32_t width, std::uint32_t height, bool inverse,
                                          std::uint32_t period);

}  // namespace scan
