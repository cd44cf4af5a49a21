#include "vid/ImageConversion.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vid {
namespace {

using img::RGB8;
using Grey = img::UniImage<std::uint8_t>;
using Color = img::UniImage<RGB8>;

// A validated read-only view of a frame's rows.
struct Frame {
  const std::uint8_t* bytes = nullptr;
  std::size_t stride = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bpp = 0;
  const utils::Guid* subtype = nullptr;
  const ImageMetadata* metadata = nullptr;

  const std::uint8_t* Row(std::uint32_t y) const { return bytes + y * stride; }
};

// False when the frame cannot be read safely as format and stride describe.
bool MakeFrame(const Image& image, Frame& frame) {
  frame.bpp = BitsPerPixel(image.format.mediaSubtype);
  if (frame.bpp == 0 || image.IsEmpty()) return false;
  if (image.format.width < 1 || image.format.height < 1) return false;
  frame.width = static_cast<std::uint32_t>(image.format.width);
  frame.height = static_cast<std::uint32_t>(image.format.height);
  frame.stride = image.data->width;
  const std::size_t rowBytes = (std::size_t(frame.width) * frame.bpp + 7) / 8;
  if (frame.stride < rowBytes || image.data->height < frame.height) return false;
  frame.bytes = image.data->data;
  frame.subtype = &image.format.mediaSubtype;
  frame.metadata = image.info.metadata.get();
  return true;
}

bool IsHalf(int scaleMode) { return scaleMode != 0; }

void CheckScale(const Frame& f, int scaleMode) {
  if (!IsHalf(scaleMode)) return;
  if (*f.subtype == subtype::RGB8)
    throw std::logic_error("Resampling not implemented for formats with color palette.");
  if (f.bpp == 16) throw std::logic_error("Resampling not implemented for formats with 16bpp.");
  if (f.bpp == 24) throw std::logic_error("Resampling not implemented for formats with 24bpp.");
}

std::uint8_t GreyOf(const RGB8& c) { return static_cast<std::uint8_t>((c.r + c.g + c.b) / 3); }

RGB8 PaletteColor(const Frame& f, std::uint8_t index) {
  if (!f.metadata || f.metadata->palette.empty()) return RGB8{index, index, index};
  const auto& palette = f.metadata->palette;
  return index < palette.size() ? palette[index] : RGB8{};
}

std::uint8_t Clip(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

RGB8 YuvToRgb(int y, int u, int v) {
  const int c = y - 16, d = u - 128, e = v - 128;
  return RGB8::FromRGB(Clip((298 * c + 409 * e + 128) >> 8),
                       Clip((298 * c - 100 * d - 208 * e + 128) >> 8),
                       Clip((298 * c + 516 * d + 128) >> 8));
}

// Bayer R G / G B: channel 0 red, 1 green, 2 blue at (x, y).
int BayerChannel(std::uint32_t x, std::uint32_t y) {
  if ((x & 1) == 0 && (y & 1) == 0) return 0;
  if ((x & 1) == 1 && (y & 1) == 1) return 2;
  return 1;
}

// Reflection about the border that keeps the Bayer parity: -1 → 1, n → n - 2.
std::uint32_t Mirror(std::int64_t i, std::uint32_t n) {
  if (i < 0) return static_cast<std::uint32_t>(-i);
  if (i >= n) return static_cast<std::uint32_t>(2 * std::int64_t(n) - 2 - i);
  return static_cast<std::uint32_t>(i);
}

// Any pixel, borders included: each missing component is the rounded mean of
// that colour's samples in the mirrored 3×3 neighbourhood.
RGB8 DebayerPixel(const Frame& f, std::uint32_t x, std::uint32_t y) {
  int sum[3] = {0, 0, 0};
  int count[3] = {0, 0, 0};
  for (int dy = -1; dy <= 1; ++dy) {
    const std::uint32_t yy = Mirror(std::int64_t(y) + dy, f.height);
    for (int dx = -1; dx <= 1; ++dx) {
      const std::uint32_t xx = Mirror(std::int64_t(x) + dx, f.width);
      const int c = BayerChannel(xx, yy);
      sum[c] += f.Row(yy)[xx];
      ++count[c];
    }
  }
  int value[3];
  const int own = BayerChannel(x, y);
  for (int c = 0; c < 3; ++c)
    value[c] = c == own ? f.Row(y)[x] : (sum[c] + count[c] / 2) / count[c];
  return RGB8::FromRGB(Clip(value[0]), Clip(value[1]), Clip(value[2]));
}

// The same for an interior pixel, where the neighbourhood needs no mirroring.
RGB8 DebayerInterior(const std::uint8_t* up, const std::uint8_t* row, const std::uint8_t* down,
                     std::uint32_t x, int channel) {
  const int c = row[x];
  const int cross = (up[x] + down[x] + row[x - 1] + row[x + 1] + 2) / 4;
  const int diagonal = (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1] + 2) / 4;
  const int horizontal = (row[x - 1] + row[x + 1] + 1) / 2;
  const int vertical = (up[x] + down[x] + 1) / 2;
  switch (channel) {
    case 0:
      return RGB8::FromRGB(Clip(c), Clip(cross), Clip(diagonal));  // red site
    case 2:
      return RGB8::FromRGB(Clip(diagonal), Clip(cross), Clip(c));  // blue site
    case 1:
      return RGB8::FromRGB(Clip(horizontal), Clip(c), Clip(vertical));  // green, red row
    default:
      return RGB8::FromRGB(Clip(vertical), Clip(c), Clip(horizontal));  // green, blue row
  }
}

void DebayerFull(const Frame& f, Color& out) {
  out.ResetSize(f.width, f.height);
  for (std::uint32_t y = 0; y < f.height; ++y) {
    RGB8* dst = out.Row(y);
    if (y == 0 || y + 1 == f.height || f.width < 3) {
      for (std::uint32_t x = 0; x < f.width; ++x) dst[x] = DebayerPixel(f, x, y);
      continue;
    }
    const std::uint8_t* up = f.Row(y - 1);
    const std::uint8_t* row = f.Row(y);
    const std::uint8_t* down = f.Row(y + 1);
    const bool redRow = (y & 1) == 0;
    dst[0] = DebayerPixel(f, 0, y);
    for (std::uint32_t x = 1; x + 1 < f.width; ++x) {
      const bool evenX = (x & 1) == 0;
      const int channel = redRow ? (evenX ? 0 : 1) : (evenX ? 3 : 2);
      dst[x] = DebayerInterior(up, row, down, x, channel);
    }
    dst[f.width - 1] = DebayerPixel(f, f.width - 1, y);
  }
}

void DebayerHalf(const Frame& f, Color& out) {
  out.ResetSize(f.width / 2, f.height / 2);
  for (std::uint32_t y = 0; y < out.height; ++y) {
    const std::uint8_t* r0 = f.Row(2 * y);
    const std::uint8_t* r1 = f.Row(2 * y + 1);
    for (std::uint32_t x = 0; x < out.width; ++x) {
      const int green = (r0[2 * x + 1] + r1[2 * x] + 1) / 2;
      out(x, y) = RGB8::FromRGB(r0[2 * x], Clip(green), r1[2 * x + 1]);
    }
  }
}

// Fills an image of the target size (full or half) from a per-pixel reader.
template <typename T, typename Read>
void Sample(const Frame& f, int scaleMode, img::UniImage<T>& out, Read read) {
  const std::uint32_t step = IsHalf(scaleMode) ? 2 : 1;
  out.ResetSize(f.width / step, f.height / step);
  for (std::uint32_t y = 0; y < out.height; ++y)
    for (std::uint32_t x = 0; x < out.width; ++x) out(x, y) = read(f.Row(y * step), x * step);
}

bool ConvertFrameToColor(const Frame& f, int scaleMode, Color& out) {
  CheckScale(f, scaleMode);
  const utils::Guid& s = *f.subtype;
  if (s == subtype::BY8) {
    if (f.width < 2 || f.height < 2) return false;
    IsHalf(scaleMode) ? DebayerHalf(f, out) : DebayerFull(f, out);
  } else if (s == subtype::RGB8) {
    Sample(f, 0, out,
           [&](const std::uint8_t* row, std::uint32_t x) { return PaletteColor(f, row[x]); });
  } else if (f.bpp == 8) {
    Sample(f, scaleMode, out, [](const std::uint8_t* row, std::uint32_t x) {
      return RGB8{row[x], row[x], row[x]};
    });
  } else if (f.bpp == 16) {
    if (f.width % 2 != 0) return false;
    const int yOffset = s == subtype::UYVY ? 1 : 0;
    const int uOffset = s == subtype::UYVY ? 0 : 1;
    Sample(f, 0, out, [&](const std::uint8_t* row, std::uint32_t x) {
      const std::uint8_t* pair = row + 4 * (x / 2);
      return YuvToRgb(row[2 * x + yOffset], pair[uOffset], pair[uOffset + 2]);
    });
  } else {
    const std::uint32_t bytes = static_cast<std::uint32_t>(f.bpp / 8);
    Sample(f, scaleMode, out, [&](const std::uint8_t* row, std::uint32_t x) {
      const std::uint8_t* p = row + bytes * x;
      return RGB8{p[0], p[1], p[2]};
    });
  }
  return !out.IsEmpty();
}

bool ConvertFrameToGray(const Frame& f, int scaleMode, Grey& out) {
  CheckScale(f, scaleMode);
  const utils::Guid& s = *f.subtype;
  if (f.bpp == 8 && s != subtype::BY8 && s != subtype::RGB8) {
    if (IsHalf(scaleMode)) {
      Sample(f, scaleMode, out, [](const std::uint8_t* row, std::uint32_t x) { return row[x]; });
    } else {
      out.ResetSize(f.width, f.height);
      if (f.stride == f.width) {
        std::memcpy(out.data, f.bytes, std::size_t(f.width) * f.height);
      } else {
        for (std::uint32_t y = 0; y < f.height; ++y) std::memcpy(out.Row(y), f.Row(y), f.width);
      }
    }
  } else if (f.bpp == 16) {
    if (f.width % 2 != 0) return false;
    const int offset = s == subtype::UYVY ? 1 : 0;
    Sample(f, 0, out,
           [&](const std::uint8_t* row, std::uint32_t x) { return row[2 * x + offset]; });
  } else {
    Color color;
    if (!ConvertFrameToColor(f, scaleMode, color)) return false;
    out.ResetSize(color.width, color.height);
    for (std::int32_t i = 0; i < color.size; ++i) out.data[i] = GreyOf(color.data[i]);
  }
  return !out.IsEmpty();
}

template <typename T>
void Store(img::UniImage<T>& result, std::uint32_t rotation, img::UniImage<T>& out) {
  out = rotation == kRotationNone ? std::move(result) : RotateImage(result, rotation);
}

}  // namespace

bool IsValidRotation(std::uint32_t rotation) {
  return rotation == kRotationNone || rotation == kRotationRight || rotation == kRotation180 ||
         rotation == kRotationLeft;
}

void ThrowUnknownRotation() {
  throw std::invalid_argument("vid::RotateImage - Unknown rotation code.");
}

bool ConvertToGray(const Image& image, Grey& out, int scaleMode, std::uint32_t rotation) {
  if (!IsValidRotation(rotation)) ThrowUnknownRotation();
  Frame frame;
  if (!MakeFrame(image, frame)) return false;
  Grey result;
  if (!ConvertFrameToGray(frame, scaleMode, result)) return false;
  Store(result, rotation, out);
  return true;
}

bool ConvertToColor(const Image& image, Color& out, int scaleMode, std::uint32_t rotation) {
  if (!IsValidRotation(rotation)) ThrowUnknownRotation();
  Frame frame;
  if (!MakeFrame(image, frame)) return false;
  Color result;
  if (!ConvertFrameToColor(frame, scaleMode, result)) return false;
  Store(result, rotation, out);
  return true;
}

bool ViewAsGray(const Image& image, Grey& out) {
  Frame frame;
  if (IsGray8(image.format) && MakeFrame(image, frame) && frame.stride == frame.width) {
    out.SetImagePtr(image.data->data, frame.width, frame.height, false);
    return true;
  }
  return ConvertToGray(image, out);
}

bool TakeAsGray(Image& image, Grey& out, std::uint32_t rotation) {
  Frame frame;
  if (rotation == kRotationNone && IsGray8(image.format) && MakeFrame(image, frame) &&
      frame.stride == frame.width && image.data->height == frame.height && image.data->ownsData &&
      image.data.use_count() == 1) {
    out = std::move(*image.data);
    image.data.reset();
    return true;
  }
  return ConvertToGray(image, out, 0, rotation);
}

}  // namespace vid
