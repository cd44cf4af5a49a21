#include "vid/ContentChangeDetection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vid {
namespace {

std::size_t RowBytes(const Format& f) {
  return (std::size_t(std::max(f.width, 0)) * BitsPerPixel(f.mediaSubtype) + 7) / 8;
}

bool Readable(const Image& image) {
  return !image.IsEmpty() && image.format.height > 0 &&
         image.data->width >= RowBytes(image.format) &&
         image.data->height >= std::uint32_t(image.format.height);
}

}  // namespace

bool ImagesDiffer(const Image& a, const Image& b, int threshold) {
  if (a.IsEmpty()) return false;
  const int bpp = BitsPerPixel(a.format.mediaSubtype);
  if (a.format.width != b.format.width || a.format.height != b.format.height ||
      a.format.mediaSubtype != b.format.mediaSubtype || bpp != BitsPerPixel(b.format.mediaSubtype))
    return true;
  if (!Readable(a) || !Readable(b)) return true;
  const std::int64_t w = static_cast<std::int64_t>(RowBytes(a.format));
  const std::int64_t h = a.format.height;
  const std::int64_t step = bpp == 24 ? 4 : std::max(1, bpp * 5 / 8);
  const std::int64_t x0 = w / 4, x1 = std::min(3 * w / 4, w - 1);
  const std::int64_t y0 = h / 4, y1 = std::min(3 * h / 4, h - 1);
  if (x1 < x0 || y1 < y0) return false;
  const std::int64_t samples = ((x1 - x0) / step + 1) * ((y1 - y0) / step + 1);
  const long needed = std::lround(0.02 * double(samples));
  if (needed < 1) return false;
  const std::size_t strideA = a.data->width, strideB = b.data->width;
  long count = 0;
  for (std::int64_t y = y0; y <= y1; y += step) {
    const std::uint8_t* rowA = a.data->data + y * strideA;
    const std::uint8_t* rowB = b.data->data + y * strideB;
    for (std::int64_t x = x0; x <= x1; x += step) {
      if (std::abs(int(rowA[x]) - int(rowB[x])) > threshold && ++count >= needed) return true;
    }
  }
  return false;
}

ContentChangeDetection::ContentChangeDetection(bool ignoreFirstChange, double timeout, int mode,
                                               SecondsClock clock)
    : m_ignoreFirstChange(ignoreFirstChange),
      m_timeout(timeout),
      m_mode(mode),
      m_clock(std::move(clock)),
      m_start(Now()) {}

double ContentChangeDetection::Now() const { return m_clock ? m_clock() : SteadySeconds(); }

bool ContentChangeDetection::Update(const Image& image) {
  if (m_changed) return true;
  if (m_expired) return false;
  const double elapsed = std::min(Now() - m_start, m_timeout);
  m_time = elapsed;
  if (!m_reference) {
    m_reference = CopyImage(image);
    return false;
  }
  if (ImagesDiffer(*m_reference, image, kThreshold) && !m_ignoreFirstChange) {
    m_changed = true;
    return true;
  }
  if (elapsed >= m_timeout) {
    m_expired = true;
  } else {
    m_ignoreFirstChange = false;
    if (m_mode == 1) m_reference = CopyImage(image);
  }
  return false;
}

}  // namespace vid
