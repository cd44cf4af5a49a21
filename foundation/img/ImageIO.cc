#include "foundation/img/ImageIO.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace img {
namespace {

struct StbFree {
  void operator()(unsigned char* p) const { stbi_image_free(p); }
};
using StbPixels = std::unique_ptr<unsigned char, StbFree>;

std::vector<unsigned char> ReadFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return {};
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  try {
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  } catch (const std::exception&) {
    return {};
  }
}

// A decoded file: its channel count and the pixels with `wanted` channels.
struct Decoded {
  StbPixels pixels;
  int width = 0;
  int height = 0;
  int channels = 0;
};

Decoded Decode(const std::vector<unsigned char>& bytes, int wanted) {
  Decoded d;
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return d;
  const auto* data = bytes.data();
  const int length = static_cast<int>(bytes.size());
  if (!stbi_info_from_memory(data, length, &d.width, &d.height, &d.channels)) return d;
  if (d.channels == 2) return d;  // grey + alpha is not an image we accept
  d.pixels.reset(stbi_load_from_memory(data, length, &d.width, &d.height, &d.channels, wanted));
  if (d.width < 1 || d.height < 1) d.pixels.reset();
  return d;
}

bool WriteBytes(const std::vector<unsigned char>& bytes, const std::filesystem::path& path) {
  if (bytes.empty()) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

void Append(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<unsigned char>*>(context);
  const auto* bytes = static_cast<const unsigned char*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

std::vector<unsigned char> ToRGB(const UniImage<RGB8>& image) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(image.size) * 3);
  for (std::int32_t i = 0; i < image.size; ++i) {
    rgb[3 * i] = image.data[i].r;
    rgb[3 * i + 1] = image.data[i].g;
    rgb[3 * i + 2] = image.data[i].b;
  }
  return rgb;
}

bool Encodable(std::uint32_t w, std::uint32_t h) { return w > 0 && h > 0 && w < 65536 && h < 65536; }

}  // namespace

bool LoadUniImage(UniImage<uint8>& image, const std::filesystem::path& path) {
  const std::vector<unsigned char> bytes = ReadFile(path);
  Decoded d = Decode(bytes, 0);
  if (!d.pixels) return false;
  const unsigned char* src = d.pixels.get();
  UniImage<uint8> result(static_cast<std::uint32_t>(d.width), static_cast<std::uint32_t>(d.height));
  if (d.channels == 1) {
    std::copy(src, src + result.size, result.data);
  } else {
    for (std::int32_t i = 0; i < result.size; ++i) {
      const unsigned char* p = src + static_cast<std::size_t>(i) * d.channels;
      result.data[i] = static_cast<uint8>((p[0] + p[1] + p[2]) / 3);
    }
  }
  image = std::move(result);
  return true;
}

bool LoadUniImage(UniImage<RGB8>& image, const std::filesystem::path& path) {
  const std::vector<unsigned char> bytes = ReadFile(path);
  Decoded d = Decode(bytes, 3);
  if (!d.pixels) return false;
  const unsigned char* src = d.pixels.get();
  UniImage<RGB8> result(static_cast<std::uint32_t>(d.width), static_cast<std::uint32_t>(d.height));
  for (std::int32_t i = 0; i < result.size; ++i) {
    result.data[i] = RGB8::FromRGB(src[3 * i], src[3 * i + 1], src[3 * i + 2]);
  }
  image = std::move(result);
  return true;
}

bool SaveBMP(const UniImage<uint8>& image, const std::filesystem::path& path) {
  if (!Encodable(image.width, image.height)) return false;
  std::vector<unsigned char> out;
  stbi_write_bmp_to_func(Append, &out, static_cast<int>(image.width), static_cast<int>(image.height), 1,
                         image.data);
  return WriteBytes(out, path);
}

bool SavePNG(const UniImage<uint8>& image, const std::filesystem::path& path) {
  if (!Encodable(image.width, image.height)) return false;
  std::vector<unsigned char> out;
  stbi_write_png_to_func(Append, &out, static_cast<int>(image.width), static_cast<int>(image.height), 1,
                         image.data, static_cast<int>(image.width));
  return WriteBytes(out, path);
}

bool SavePNG(const UniImage<RGB8>& image, const std::filesystem::path& path) {
  if (!Encodable(image.width, image.height)) return false;
  const std::vector<unsigned char> rgb = ToRGB(image);
  std::vector<unsigned char> out;
  stbi_write_png_to_func(Append, &out, static_cast<int>(image.width), static_cast<int>(image.height), 3,
                         rgb.data(), static_cast<int>(image.width) * 3);
  return WriteBytes(out, path);
}

bool SaveJPEG(const UniImage<RGB8>& image, const std::filesystem::path& path, int quality) {
  if (!Encodable(image.width, image.height)) return false;
  const std::vector<unsigned char> rgb = ToRGB(image);
  std::vector<unsigned char> out;
  stbi_write_jpg_to_func(Append, &out, static_cast<int>(image.width), static_cast<int>(image.height), 3,
                         rgb.data(), std::clamp(quality, 1, 100));
  return WriteBytes(out, path);
}

UniImage<uint8> ConvertImageRGBToGray(const UniImage<RGB8>& image, int mode) {
  UniImage<uint8> grey(image.width, image.height);
  for (std::int32_t i = 0; i < image.size; ++i) {
    const RGB8 p = image.data[i];
    uint8 value;
    switch (mode) {
      case 1: value = p.r; break;
      case 2: value = p.g; break;
      case 3: value = p.b; break;
      case 4: value = static_cast<uint8>(0.3 * p.r + 0.6 * p.g + 0.1 * p.b); break;
      default: value = static_cast<uint8>((p.r + p.g + p.b) / 3); break;
    }
    grey.data[i] = value;
  }
  return grey;
}

}  // namespace img
