#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "scan/SLRenderImage.h"

namespace scan {

// A procedural projector image. Patterns are shared between a scan definition,
// the pattern display and the image store (which files frames by pattern
// address), so they are handled through shared pointers and never copied.
class SLPattern {
 public:
  virtual ~SLPattern() = default;
  SLPattern(const SLPattern&) = delete;
  SLPattern& operator=(const SLPattern&) = delete;

  // Draws the pattern over the whole buffer, every pixel ANDed with its mask.
  virtual void Render(SLRenderImage& image) const = 0;
  virtual void SetBrightness(std::uint8_t value) { m_brightness = value; }
  // Stores the exponent applied to normalised intensities unchanged.
  virtual void SetGamma(double exponent) { m_gamma = exponent; }
  // Stores 1/g, which pre-compensates a projector of display gamma g.
  virtual void SetProjectorGamma(double g) { m_gamma = 1.0 / g; }
  // 0: the camera frame for this pattern is stored grey, 1: in colour.
  virtual void SetCaptureType(std::uint32_t type) { m_captureType = type; }

  std::uint8_t GetBrightness() const { return m_brightness; }
  double GetGamma() const { return m_gamma; }
  std::uint32_t GetCaptureType() const { return m_captureType; }

 protected:
  SLPattern() = default;

  std::uint8_t m_brightness = 255;
  double m_gamma = 1.0;
  std::uint32_t m_captureType = 0;
};

using SLPatternPtr = std::shared_ptr<SLPattern>;

// A pattern whose intensity varies along one image axis only. alongX true:
// the intensity varies with x (vertical stripes); false: with y.
class SLAxisAlignedStripedPattern : public SLPattern {
 public:
  // Red, green, blue, alpha at position p (pixels) along the varying axis.
  virtual std::array<std::uint8_t, 4> IntensityAt(std::uint32_t p) const = 0;
  void Render(SLRenderImage& image) const override;

  bool AlongX() const { return m_alongX; }
  double Period() const { return m_period; }

 protected:
  SLAxisAlignedStripedPattern(bool alongX, double period) : m_alongX(alongX), m_period(period) {}

  bool m_alongX;
  double m_period;  // projector pixels
};

// The grey-level byte triple (red, green, blue) of a normalised sine value
// c in 0…brightness: red ⌊c⌋, green ⌊c + 1/3⌋, blue ⌊c + 2/3⌋, so that the sum
// of the channels carries c at a third of a level.
std::array<std::uint8_t, 4> SineIntensity(double c);

}  // namespace scan
