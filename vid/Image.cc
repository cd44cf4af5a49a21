#include "vid/Image.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vid {

std::shared_ptr<RawByteImage> MakeRawByteImage(const Format& format, std::int32_t stride,
                                               std::uint8_t* buffer, bool copy) {
  if (format.width < 1) throw std::invalid_argument("MakeRawByteImage - format.width is < 1.");
  if (format.height < 1) throw std::invalid_argument("MakeRawByteImage - format.height is < 1.");
  if (stride < format.width)
    throw std::invalid_argument("MakeRawByteImage - stride < format.width.");
  if (!buffer) throw std::invalid_argument("MakeRawByteImage - buffer is nullptr.");
  const auto rowBytes = static_cast<std::uint32_t>(stride);
  const auto rows = static_cast<std::uint32_t>(format.height);
  auto image = std::make_shared<RawByteImage>();
  if (copy) {
    image->ResetSize(rowBytes, rows);
    std::copy(buffer, buffer + std::size_t(rowBytes) * rows, image->data);
  } else {
    image->SetImagePtr(buffer, rowBytes, rows, false);
  }
  return image;
}

ImagePtr CopyImage(const Image& image) {
  if (image.IsEmpty()) return nullptr;
  auto copy = std::make_shared<Image>();
  copy->data = std::make_shared<RawByteImage>(*image.data);  // UniImage copies always own
  copy->format = image.format;
  copy->info = image.info;
  return copy;
}

ImagePtr MakeGrayImage(img::UniImage<std::uint8_t>&& grey, const ImageInfo& info, double fps) {
  if (grey.IsEmpty()) return nullptr;
  auto image = std::make_shared<Image>();
  image->format = Format{subtype::Y800, static_cast<std::int32_t>(grey.width),
                         static_cast<std::int32_t>(grey.height), fps};
  image->info = info;
  if (grey.ownsData) {
    image->data = std::make_shared<RawByteImage>(std::move(grey));
  } else {
    image->data = std::make_shared<RawByteImage>(grey);  // a view is copied, never adopted
  }
  return image;
}

ImagePtr MakeColorImage(const img::UniImage<img::RGB8>& color, const ImageInfo& info, double fps) {
  if (color.IsEmpty()) return nullptr;
  auto image = std::make_shared<Image>();
  image->format = Format{subtype::RGB24, static_cast<std::int32_t>(color.width),
                         static_cast<std::int32_t>(color.height), fps};
  image->info = info;
  image->data = std::make_shared<RawByteImage>(3 * color.width, color.height);
  static_assert(sizeof(img::RGB8) == 3, "RGB8 is three packed bytes, blue first");
  std::memcpy(image->data->data, color.data, std::size_t(color.size) * 3);
  return image;
}

}  // namespace vid
