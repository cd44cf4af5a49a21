#pragma once

#include <atomic>

#include "vid/Clock.h"
#include "vid/Image.h"

namespace vid {

// Whether two frames differ: true when width, height, subtype or bits per
// pixel differ, or when enough of the central samples differ by more than
// `threshold` (0–255). The central region is byte columns W/4 … 3W/4 and rows
// H/4 … 3H/4 (W the row length in bytes), sampled every 4 bytes for 24-bit
// data and every bpp·5/8 bytes otherwise, in both directions; the frames
// differ once lround(0.02 · samples) samples do (never when that is 0). An
// empty first frame differs from nothing; pixel data smaller than its format
// counts as a difference.
bool ImagesDiffer(const Image& a, const Image& b, int threshold);

// Watches a stream for the first change of content after it was started,
// e.g. an object being put in front of the camera. Update runs on one
// streaming thread; the result flags may be read from any thread.
class ContentChangeDetection {
 public:
  static constexpr int kThreshold = 90;

  // mode 0 compares every frame with the first one; mode 1 with the previous.
  // timeout in seconds; with ignoreFirstChange the first compared frame may
  // differ without counting.
  ContentChangeDetection(bool ignoreFirstChange, double timeout, int mode, SecondsClock clock = {});

  // Returns whether a change has been seen.
  bool Update(const Image& image);
  bool HasContentChanged() const { return m_changed.load(); }
  bool IsTimerExpired() const { return m_expired.load(); }
  // Seconds watched so far (at the last Update), at most the timeout.
  double GetTime() const { return m_time.load(); }

 private:
  double Now() const;

  bool m_ignoreFirstChange;
  const double m_timeout;
  const int m_mode;
  const SecondsClock m_clock;
  const double m_start;
  ImagePtr m_reference;
  std::atomic<bool> m_changed{false};
  std::atomic<bool> m_expired{false};
  std::atomic<double> m_time{0.0};
};

}  // namespace vid
