#include "vid/JpegDecoder.h"

#include <turbojpeg.h>

#include <climits>
#include <stdexcept>

namespace vid {

JpegDecoder::JpegDecoder() : m_handle(tjInitDecompress()) {
  if (!m_handle) throw std::runtime_error("JpegDecoder - Could not create a JPEG decompressor.");
}

JpegDecoder::~JpegDecoder() { tjDestroy(m_handle); }

bool JpegDecoder::Fail(const std::string& text) {
  m_error = text;
  return false;
}

bool JpegDecoder::ReadSize(const std::uint8_t* data, std::size_t bytes, int& width, int& height) {
  if (!data || bytes < 4 || bytes > ULONG_MAX) return Fail("not a JPEG frame (too short)");
  int subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(m_handle, data, static_cast<unsigned long>(bytes), &width, &height,
                          &subsampling, &colorspace) != 0)
    return Fail(tjGetErrorStr2(m_handle));
  m_error.clear();
  return true;
}

bool JpegDecoder::Decode(const std::uint8_t* data, std::size_t bytes, int width, int height,
                         Output output, std::uint8_t* out, std::size_t stride) {
  int w = 0, h = 0;
  if (!ReadSize(data, bytes, w, h)) return false;
  if (w != width || h != height)
    return Fail("JPEG frame is " + std::to_string(w) + " x " + std::to_string(h) + ", expected " +
                std::to_string(width) + " x " + std::to_string(height));
  const int format = output == Output::kGray8 ? TJPF_GRAY : TJPF_BGR;
  if (stride > INT_MAX) return Fail("stride too large");
  if (tjDecompress2(m_handle, data, static_cast<unsigned long>(bytes), out, width,
                    static_cast<int>(stride), height, format,
                    TJFLAG_FASTDCT | TJFLAG_STOPONWARNING) != 0)
    return Fail(tjGetErrorStr2(m_handle));
  return true;
}

}  // namespace vid
