#pragma once

#include <cstdint>
#include <memory>

#include "scan/SLPattern.h"
#include "scan/SLPatternSequence.h"

namespace scan {

// A uniform colour: red, green and blue become ⌊255·(value/255)^gamma ·
// brightness/255⌋, alpha is written as stored.
class SLSingleColorPattern : public SLPattern {
 public:
  SLSingleColorPattern(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t alpha = 255);

  void Render(SLRenderImage& image) const override;
  // The bytes blue, green, red, alpha that Render writes before masking.
  std::array<std::uint8_t, 4> BGRA() const;

  static std::shared_ptr<SLSingleColorPattern> WhitePattern();
  static std::shared_ptr<SLSingleColorPattern> BlackPattern();
  static std::shared_ptr<SLSingleColorPattern> GrayPattern(std::uint8_t level);
  static std::shared_ptr<SLSingleColorPattern> RedPattern();
  static std::shared_ptr<SLSingleColorPattern> GreenPattern();
  static std::shared_ptr<SLSingleColorPattern> BluePattern();
  // Black, red, green, blue: the texture sequence of grey cameras.
  static std::shared_ptr<SLPatternSequence> ColorSequence();

 private:
  std::uint8_t m_red;
  std::uint8_t m_green;
  std::uint8_t m_blue;
  std::uint8_t m_alpha;
};

// The texture sequence of a scan: mode 0 (grey cameras) the colour
// sequence, mode 1 (colour cameras) GrayPattern(128) captured in colour.
// Other modes throw std::invalid_argument.
SLPatternSequencePtr MakeTextureSequence(std::uint32_t mode);

// The idle image for positioning and focusing: a checkerboard of small
// vertical and horizontal sine tiles, a centred cross hair of alternating
// white and black bands and a white frame two pixels wide.
class SLSetupPattern : public SLPattern {
 public:
  // scale ≥ 1 (smaller values become 1): the sine period of the tiles in pixels;
  // tiles are ⌊5·scale⌋ pixels wide.
  explicit SLSetupPattern(double scale);

  void Render(SLRenderImage& image) const override;
  double Scale() const { return m_scale; }

 private:
  double m_scale;
};

}  // namespace scan
