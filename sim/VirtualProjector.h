#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "scan/SLPatternDisplay.h"
#include "vid/Clock.h"

namespace sim {

// The light a projector emits per pixel: linear, 0…1 per channel (r, g, b),
// row-major over the projector's pixels.
using LightImage = img::UniImage<math::Vec3f>;

// One image the projector showed: `serial` counts the images shown (0 is the
// dark image the projector starts with), `since` is the time it appeared on
// the projector's clock (seconds).
struct ShownImage {
  std::uint64_t serial = 0;
  double since = 0.0;
  std::shared_ptr<const LightImage> light;
};

// An image shown during a time interval and the fraction of the interval it
// was shown.
struct ShownWeight {
  ShownImage image;
  double weight = 0.0;
};

// The projector of the virtual rig. A pattern is rendered into an
// SLRenderImage of the projector's size, its bytes are turned into linear
// light through the display gamma ((byte / 255)^gamma), optionally blurred
// by a Gaussian defocus, and it is "shown" from the moment the rendering is
// done. The setup image is a uniform grey of half the full light.
//
// Projector pixel (i, j) emits its light at projector coordinates (i, j);
// between pixels the light is interpolated bilinearly (see SampleLight), and
// the normalised projector coordinates of a calibrated model are (u / width,
// v / height). That is the convention the decoders use: a decoded
// correspondence c along x means column c · width.
//
// Thread-safe: DisplayPatterns may be called from any thread (the capture
// threads of the cameras), the history is read by the cameras' threads.
class VirtualProjector : public scan::SLPatternDisplay {
 public:
  struct Options {
    std::uint32_t width = 1920;
    std::uint32_t height = 1080;
    double displayGamma = 2.2;
    double defocusSigma = 0.0;  // projector pixels; 0 = sharp
  };

  // Throws std::invalid_argument ("sim::VirtualProjector::VirtualProjector -
  // ...") for a zero size, a gamma ≤ 0 or a negative defocus.
  explicit VirtualProjector(const Options& options, vid::SecondsClock clock = {});

  std::vector<double> DisplayPatterns(const utils::ProgressCallback& progress,
                                      const std::vector<scan::SLPatternPtr>& patterns) override;
  bool DisplaySetupPattern() override;

  // Shows a light image directly (tests, texture lighting); it must have the
  // projector's size (std::invalid_argument otherwise).
  void Show(std::shared_ptr<const LightImage> light);

  // The images shown during [from, to] (seconds on the projector's clock),
  // oldest first, with the fraction of the interval each covered (weights
  // sum to 1). An interval of zero length gives the image shown at `to`.
  // Only the most recent images are kept (kHistory); an interval reaching
  // further back is lit by the oldest one kept.
  std::vector<ShownWeight> GetShownDuring(double from, double to) const;
  // The image shown now.
  ShownImage GetCurrent() const;
  std::uint64_t GetShownCount() const;

  const Options& GetOptions() const { return m_options; }
  double Now() const;

  // Light of image `light` at projector coordinates (u, v), bilinear between
  // pixel positions; (0, 0, 0) outside [0, width − 1] × [0, height − 1].
  static math::Vec3f SampleLight(const LightImage& light, double u, double v);

  static constexpr std::size_t kHistory = 8;

 private:
  std::shared_ptr<LightImage> Render(const scan::SLPattern& pattern) const;
  void Blur(LightImage& light) const;

  const Options m_options;
  const vid::SecondsClock m_clock;
  float m_gammaTable[256];

  mutable std::mutex m_mutex;  // guards the history
  std::deque<ShownImage> m_history;
  std::uint64_t m_nextSerial = 1;
};

}  // namespace sim
