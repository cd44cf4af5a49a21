#include "vid/FileGraphSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/img/ImageIO.h"
#include "vid/FileImageCapture.h"

namespace vid {

namespace fs = std::filesystem;

FileGraphSource::FileGraphSource(const fs::path& path, Kind kind, double framesPerSecond)
    : m_path(path), m_kind(kind) {
  std::error_code error;
  if (kind == Kind::kVideo) {
    if (!fs::is_directory(path, error))
      throw CaptureDeviceNotAvailableException("Folder does not exist: '" + path.string() + "'.");
    m_files = FileImageCapture::ListNumberedImageFiles(path);
    if (m_files.empty())
      throw CaptureDeviceNotAvailableException("No numbered image files in folder '" +
                                               path.string() + "'.");
  } else {
    if (!fs::is_regular_file(path, error))
      throw CaptureDeviceNotAvailableException("Image file does not exist: '" + path.string() +
                                               "'.");
    m_files = {path};
  }
  img::UniImage<img::RGB8> first;
  if (!img::LoadUniImage(first, m_files.front()))
    throw CaptureDeviceNotAvailableException("Could not decode image file '" +
                                             m_files.front().string() + "'.");
  const bool grey = std::all_of(first.data, first.data + first.size,
                                [](const img::RGB8& c) { return c.r == c.g && c.g == c.b; });
  const double fps =
      std::isfinite(framesPerSecond) && framesPerSecond > 0.0 ? framesPerSecond : 30.0;
  m_type.format = Format{grey ? subtype::Y800 : subtype::RGB24, std::int32_t(first.width),
                         std::int32_t(first.height), fps};
  m_type.fourcc = FourccOfSubtype(m_type.format.mediaSubtype);
  m_stride = static_cast<std::size_t>(DefaultStride(m_type.format));
  if (kind == Kind::kImage && !Decode(m_files.front()))
    throw CaptureDeviceNotAvailableException(m_error);
}

bool FileGraphSource::SetMediaType(const MediaType& type) {
  if (type.format.mediaSubtype != m_type.format.mediaSubtype ||
      type.format.width != m_type.format.width || type.format.height != m_type.format.height) {
    m_error = "The files are " + DescribeMediaType(m_type) + ".";
    return false;
  }
  if (type.format.fps > 0.0) m_type.format.fps = type.format.fps;
  return true;
}

bool FileGraphSource::Decode(const fs::path& file) {
  const auto w = static_cast<std::uint32_t>(m_type.format.width);
  const auto h = static_cast<std::uint32_t>(m_type.format.height);
  m_bytes.assign(m_stride * h, 0);
  bool loaded;
  std::uint32_t fw = 0, fh = 0;
  if (m_type.format.mediaSubtype == subtype::Y800) {
    img::UniImage<std::uint8_t> image;
    loaded = img::LoadUniImage(image, file);
    fw = image.width, fh = image.height;
    if (loaded && image.SameSize(w, h))
      for (std::uint32_t y = 0; y < h; ++y) std::memcpy(&m_bytes[y * m_stride], image.Row(y), w);
  } else {
    img::UniImage<img::RGB8> image;  // blue, green, red like RGB24
    loaded = img::LoadUniImage(image, file);
    fw = image.width, fh = image.height;
    if (loaded && image.SameSize(w, h))
      for (std::uint32_t y = 0; y < h; ++y)
        std::memcpy(&m_bytes[y * m_stride], image.Row(y), 3 * w);
  }
  if (!loaded) {
    m_error = "Could not decode image file '" + file.string() + "'.";
    return false;
  }
  if (fw != w || fh != h) {
    m_error = "Image file '" + file.string() + "' is " + std::to_string(fw) + " x " +
              std::to_string(fh) + ", expected " + std::to_string(w) + " x " + std::to_string(h) +
              ".";
    return false;
  }
  return true;
}

bool FileGraphSource::StartStreaming() {
  if (m_kind == Kind::kVideo && m_next >= m_files.size()) m_next = 0;  // played to the end: again
  m_position = 0;
  return true;
}

GraphSource::Wait FileGraphSource::WaitFrame(int, RawFrame& frame) {
  if (m_kind == Kind::kVideo) {
    if (m_next >= m_files.size()) return Wait::kEnd;
    if (!Decode(m_files[m_next++])) return Wait::kError;
  }
  frame.data = m_bytes.data();
  frame.bytes = m_bytes.size();
  frame.bytesPerLine = m_stride;
  frame.timestamp = double(m_position++) / m_type.format.fps;
  frame.damaged = false;
  return Wait::kFrame;
}

}  // namespace vid
