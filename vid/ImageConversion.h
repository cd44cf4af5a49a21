#pragma once

#include <cstdint>

#include "foundation/img/UniImage.h"
#include "vid/Image.h"

namespace vid {

// Rotation codes applied to frames (a camera's image rotation). The setup
// file's "Left" is -1 stored in an unsigned 32-bit field.
inline constexpr std::uint32_t kRotationNone = 0;
inline constexpr std::uint32_t kRotationRight = 1;           // 90° clockwise
inline constexpr std::uint32_t kRotation180 = 2;             // half turn
inline constexpr std::uint32_t kRotationLeft = 0xFFFFFFFFu;  // 90° counter-clockwise

bool IsValidRotation(std::uint32_t rotation);

// The image turned by a rotation code. Throws std::invalid_argument
// "vid::RotateImage - Unknown rotation code." for any other code.
template <typename T>
img::UniImage<T> RotateImage(const img::UniImage<T>& image, std::uint32_t rotation);

// Throws the rotation error of RotateImage.
[[noreturn]] void ThrowUnknownRotation();

// Scale modes: 0 full size; any other value half width and half height
// (rounded down). Half size takes every second pixel of every second row; a
// Bayer frame gives one colour pixel per 2×2 cell instead.
//
// Frames are read as top-down rows of `Stride()` bytes. The conversions
// return false and leave `out` unchanged when the subtype has no known bits
// per pixel, the pixel data is missing or smaller than format and stride say
// (nothing is read out of bounds), a 16-bit frame has an odd width, a Bayer
// frame is narrower or lower than 2, or the result would be empty.
// A scale mode the subtype cannot serve throws std::logic_error with
// "Resampling not implemented for formats with color palette." (RGB8),
// "... with 16bpp." (YUY2, UYVY) or "... with 24bpp." (RGB24).
//
// Grey: 8-bit grey data is copied; RGB8 goes through its palette; colour
// becomes (R + G + B) / 3; YUY2 and UYVY give their luminance bytes.
// Bayer data is debayered bilinearly (each missing component is the mean of
// the nearest samples of that colour in the 3×3 neighbourhood, mirrored at
// the borders) before it is made grey.
bool ConvertToGray(const Image& image, img::UniImage<std::uint8_t>& out, int scaleMode = 0,
                   std::uint32_t rotation = kRotationNone);
// Colour: grey is replicated; YUY2 and UYVY use the ITU-R BT.601 studio-range
// integer transform.
bool ConvertToColor(const Image& image, img::UniImage<img::RGB8>& out, int scaleMode = 0,
                    std::uint32_t rotation = kRotationNone);

// `out` views the frame's bytes without a copy when the frame is Y800 with
// stride == width; otherwise it is a converted grey image. The view is valid
// as long as the frame's pixel data.
bool ViewAsGray(const Image& image, img::UniImage<std::uint8_t>& out);

// Moves the frame's own buffer into `out` when the frame is Y800, unrotated,
// stride == width and the pixel data is owned and not shared (the frame is
// left without data); otherwise converts with the rotation applied.
bool TakeAsGray(Image& image, img::UniImage<std::uint8_t>& out,
                std::uint32_t rotation = kRotationNone);

template <typename T>
img::UniImage<T> RotateImage(const img::UniImage<T>& image, std::uint32_t rotation) {
  if (!IsValidRotation(rotation)) ThrowUnknownRotation();
  const std::uint32_t w = image.width;
  const std::uint32_t h = image.height;
  if (rotation == kRotationNone) return image;
  if (rotation == kRotation180) {
    img::UniImage<T> out(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) out(w - 1 - x, h - 1 - y) = image(x, y);
    return out;
  }
  img::UniImage<T> out(h, w);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      if (rotation == kRotationRight) {
        out(h - 1 - y, x) = image(x, y);
      } else {
        out(y, w - 1 - x) = image(x, y);
      }
    }
  }
  return out;
}

}  // namespace vid
