#pragma once

#include <cstdint>

namespace scan {

// How frames are accepted during a pattern capture (see ImageFilter). Times
// in seconds. A plain 40-byte record, copied into every capture.
struct AcquisitionParameters {
  // A pattern is held at most this long before its frame is taken.
  double maxPatternHoldingTime = 1.0;
  // With rest detection: first wait until the image changes, then for rest.
  bool waitForMotionFirst = false;
  // Stillness required before the first frame is taken; 0 = no rest detection.
  double restDuration = 0.0;
  // 1–99: a frame shows the new pattern when its content changed (higher is
  // more sensitive); 0: fixed rate (one frame per holding time); ≥ 100: every
  // frame is taken.
  std::int32_t imageContentSensitivity = 90;
  // Frames dropped once the change was seen, the changed frame included.
  std::int32_t imageSkipCount = 2;
  // n: (2^n + 2) / 2 frames are averaged per pattern (1, 2, 3, 5, 9, …).
  std::int32_t noiseReduction = 0;
  bool useHardwareTrigger = false;
};
static_assert(sizeof(AcquisitionParameters) == 40, "AcquisitionParameters is a 40-byte record");

}  // namespace scan
