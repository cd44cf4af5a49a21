#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/utils/Guid.h"
#include "vid/Format.h"

namespace vid {

// Rows of bytes: width is the stride in bytes, height the number of rows.
using RawByteImage = img::UniImage<std::uint8_t>;

// Per-frame data beyond the pixels, shared read-only by copies of a frame.
struct ImageMetadata {
  // RGB8 frames: colour of each index. Without a palette an index i shows
  // grey i; indices beyond a shorter palette show black.
  std::vector<img::RGB8> palette;
};

struct ImageInfo {
  utils::Guid sourceGuid;                         // the stream the frame came from
  bool flag = false;                              // toggles per frame in alternating mode
  double timestamp = 0.0;                         // media sample start time, seconds
  std::shared_ptr<const ImageMetadata> metadata;  // may be null
};

// One frame as it travels from a source to a store. The pixel data either
// owns its bytes or views a device buffer that is valid only during delivery
// (see ImageCapture.h); a filter must copy what it keeps.
struct Image {
  std::shared_ptr<RawByteImage> data;
  Format format;
  ImageInfo info;

  std::int32_t Stride() const { return data ? static_cast<std::int32_t>(data->width) : 0; }
  bool IsEmpty() const { return !data || data->IsEmpty(); }
};

using ImagePtr = std::shared_ptr<Image>;

// A raw byte image of format.height rows of `stride` bytes over `buffer`,
// copied into an owned buffer when `copy`, else viewed (never freed, never
// written). Throws std::invalid_argument "MakeRawByteImage - ..." for a width
// or height < 1, stride < width or a null buffer.
std::shared_ptr<RawByteImage> MakeRawByteImage(const Format& format, std::int32_t stride,
                                               std::uint8_t* buffer, bool copy);

// An owned deep copy (same stride, format and info). Null for an empty image.
ImagePtr CopyImage(const Image& image);

// A Y800 frame that takes over the grey image's buffer without a copy
// (stride = width). Null for an empty image.
ImagePtr MakeGrayImage(img::UniImage<std::uint8_t>&& grey, const ImageInfo& info, double fps = 0.0);
// An RGB24 frame with a copy of the colour pixels (stride = 3 · width). Null
// for an empty image.
ImagePtr MakeColorImage(const img::UniImage<img::RGB8>& color, const ImageInfo& info,
                        double fps = 0.0);

}  // namespace vid
