#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vid {

// Decodes the JPEG frames of MJPG cameras (libjpeg-turbo) into top-down rows
// of blue, green, red bytes or of grey bytes. One decoder per thread.
class JpegDecoder {
 public:
  enum class Output { kBgr24, kGray8 };

  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Reads the frame's size; false (with GetError) for data that is no JPEG.
  bool ReadSize(const std::uint8_t* data, std::size_t bytes, int& width, int& height);
  // Decodes a width × height frame into `out` (height rows of `stride`
  // bytes). False when the data is not a complete, clean JPEG of that size:
  // libjpeg's warnings (a truncated or damaged stream) count as errors, so a
  // damaged frame is never passed on half grey.
  bool Decode(const std::uint8_t* data, std::size_t bytes, int width, int height, Output output,
              std::uint8_t* out, std::size_t stride);
  // Why the last call failed.
  const std::string& GetError() const { return m_error; }

 private:
  bool Fail(const std::string& text);

  void* m_handle;
  std::string m_error;
};

}  // namespace vid
