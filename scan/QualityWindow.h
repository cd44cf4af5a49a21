#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace scan {

// Row-by-row scoring of the quality map over the 5 × 5 windows of one or
// more sources (see SLQualityEvaluation): each source keeps the 5-pixel row
// minima and maxima of its last 5 rows in a ring, so a caller that produces
// the source rows in order (rows y − 2 … y + 2, clipped to the image, before
// scoring row y) never needs a whole source image. One instance per thread.
class QualityWindow {
 public:
  QualityWindow(std::size_t sourceCount, std::uint32_t width, std::uint32_t height);

  // Forgets every row (they read as NaN until added again).
  void Clear();
  // Row y of source s; rows of a source come in increasing order, and at
  // most the last 5 are kept.
  void AddRow(std::size_t s, std::uint32_t y, const float* row);
  // q = the quality of row y: values[s] is row y of source s; rows
  // y − 2 … y + 2 (clipped) of every source must have been added.
  void ScoreRow(std::uint32_t y, const float* const* values, float minContrast, float* q);

 private:
  float* RingLo(std::size_t s, std::uint32_t y);
  float* RingHi(std::size_t s, std::uint32_t y);

  std::size_t m_sourceCount;
  std::uint32_t m_width;
  std::uint32_t m_height;
  std::vector<float> m_ring;  // per source: 5 minimum rows, then 5 maximum rows
};

}  // namespace scan
