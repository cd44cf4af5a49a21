#pragma once

#include <cstdint>
#include <memory>

#include "foundation/img/UniImage.h"
#include "scan/AcquisitionParameters.h"
#include "vid/Clock.h"

namespace scan {

// Decides, frame by frame, which camera frame shows the pattern now being
// projected. Change detection (sensitivity 1–99): after a frame was taken,
// wait until the image changes (or the holding time passes), drop
// imageSkipCount frames, the changed one included, then take (and
// optionally average) the next frames. Fixed rate (sensitivity 0): take a
// frame whenever the holding time has passed since the last one. Every frame
// (sensitivity ≥ 100): take each frame. With rest detection the first frame is
// taken only once the image has been still for restDuration.
//
// The very first frame is never taken: it becomes the reference.
//
// Used by one delivery thread only; not thread-safe.
class ImageFilter {
 public:
  enum State : std::int32_t {
    kWaitingForMotion = 0,
    kWaitingForRest = 1,
    kWaitingForPattern = 2,
    kSkipping = 3,
    kTaking = 4,
  };
  enum Mode : std::int32_t { kChangeDetection = 0, kFixedRate = 1, kEveryFrame = 2 };

  // The stopwatch runs on `clock` (seconds; empty: the steady clock) and
  // starts now.
  explicit ImageFilter(const AcquisitionParameters& parameters, vid::SecondsClock clock = {});

  // The frame to keep, or null when this one is not taken. A frame of
  // another size than the reference is compared on the overlapping area;
  // while averaging, a frame of another size than the running sum starts the
  // sum again with itself.
  std::unique_ptr<img::UniImage<img::uint8>> Process(const img::UniImage<img::uint8>& frame);

  // The skip count to use when the user chose "auto": 1 + slowCamera when the
  // desktop compositor is known to be off-screen buffered, else 2 +
  // slowCamera. This system cannot ask the compositor, so it is 2 + slowCamera.
  static std::int32_t SuggestImageSkipCount(bool slowCamera);

  // Whether enough of the central samples differ by more than
  // (100 − sensitivity) · 2.55 grey levels: every 5th pixel of the central
  // region [w/4, 3·(w/4)] × [h/4, 3·(h/4)] of the overlapping size w × h, and
  // 2 % of the samples (rounded) must differ; never when that is 0.
  static bool Changed(const img::UniImage<img::uint8>& reference,
                      const img::UniImage<img::uint8>& frame, double sensitivity);

  State GetState() const { return static_cast<State>(m_state); }
  Mode GetMode() const { return static_cast<Mode>(m_mode); }
  // 0 in every-frame mode; an accepted frame is a plain copy below 2.
  std::int32_t FramesToAverage() const { return m_framesToAverage; }

 private:
  double Now() const;
  double Elapsed() const { return Now() - m_timerStart; }
  void RestartTimer() { m_timerStart = Now(); }
  bool Changed(const img::UniImage<img::uint8>& frame) const {
    return Changed(m_referenceImage, frame, m_sensitivity);
  }
  std::unique_ptr<img::UniImage<img::uint8>> Take(const img::UniImage<img::uint8>& frame);
  std::unique_ptr<img::UniImage<img::uint8>> Finish(
      std::unique_ptr<img::UniImage<img::uint8>> result);

  const vid::SecondsClock m_clock;
  img::UniImage<img::int32> m_sumImage;
  std::int32_t m_sumCount = 0;
  img::UniImage<img::uint8> m_referenceImage;
  std::int32_t m_state = kWaitingForPattern;
  std::int32_t m_skipCounter = 0;
  double m_timerStart = 0.0;
  std::int32_t m_mode = kChangeDetection;
  std::int32_t m_framesToAverage = 1;
  double m_maxHoldingTime = 1.0;
  double m_restDuration = 0.0;
  double m_sensitivity = 90.0;
  std::int32_t m_skipCount = 2;
};

}  // namespace scan
