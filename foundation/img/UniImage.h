#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "foundation/math/Vec.h"

namespace img {

using uint8 = std::uint8_t;
using int32 = std::int32_t;

// Three components stored in memory as blue, green, red (the order of
// 24-bit bitmaps). Default (0, 0, 0). Aggregate: UniRGB<uint8>{b, g, r}.
template <typename T>
struct UniRGB {
  T b{};
  T g{};
  T r{};

  static constexpr UniRGB FromRGB(T red, T green, T blue) { return {blue, green, red}; }
  friend constexpr bool operator==(const UniRGB&, const UniRGB&) = default;
};

using RGB8 = UniRGB<uint8>;

// Lets owners hold images of different pixel types.
class UniImage_abstract {
 public:
  virtual ~UniImage_abstract() = default;
};

// The typed 2D raster of the system: row-major, row 0 first, no padding;
// pixel (x, y) is data[y·width + x]. An image either owns its buffer (and
// frees it) or views a foreign one that it never frees. Scalar pixels of a
// new buffer are uninitialised; UniRGB pixels are zero.
template <typename T>
class UniImage : public UniImage_abstract {
 public:
  using Pixel = T;

  UniImage() = default;
  UniImage(std::uint32_t w, std::uint32_t h) { Allocate(w, h); }
  UniImage(const UniImage& other) { CopyFrom(other); }
  UniImage(UniImage&& other) noexcept { Take(other); }
  ~UniImage() override { Free(); }

  UniImage& operator=(const UniImage& other) {
    if (this != &other) {
      Free();
      CopyFrom(other);
    }
    return *this;
  }
  UniImage& operator=(UniImage&& other) noexcept {
    if (this != &other) {
      Free();
      Take(other);
    }
    return *this;
  }
  // Every pixel becomes value.
  UniImage& operator=(const T& value) {
    std::fill(data, data + size, value);
    return *this;
  }

  // False (pixels kept) when the size is unchanged; otherwise a new owned
  // buffer of the new size and true.
  bool ResetSize(std::uint32_t w, std::uint32_t h) {
    if (w == width && h == height) return false;
    Free();
    Allocate(w, h);
    return true;
  }

  // Frees the current buffer if owned, then adopts the given one.
  void SetImagePtr(T* buffer, std::uint32_t w, std::uint32_t h, bool owns) {
    Free();
    data = buffer;
    width = w;
    height = h;
    size = static_cast<std::int32_t>(w * h);
    ownsData = owns;
  }

  T* GetImagePtr() { return data; }
  const T* GetImagePtr() const { return data; }

  T& operator()(std::uint32_t x, std::uint32_t y) { return data[std::size_t(y) * width + x]; }
  const T& operator()(std::uint32_t x, std::uint32_t y) const { return data[std::size_t(y) * width + x]; }
  T* Row(std::uint32_t y) { return data + std::size_t(y) * width; }
  const T* Row(std::uint32_t y) const { return data + std::size_t(y) * width; }
  bool IsEmpty() const { return size == 0; }
  bool SameSize(std::uint32_t w, std::uint32_t h) const { return width == w && height == h; }
  template <typename U>
  bool SameSize(const UniImage<U>& o) const {
    return width == o.width && height == o.height;
  }

  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int32_t size = 0;
  T* data = nullptr;
  bool ownsData = true;

 private:
  void Allocate(std::uint32_t w, std::uint32_t h) {
    width = w;
    height = h;
    size = static_cast<std::int32_t>(std::size_t(w) * h);
    ownsData = true;
    data = nullptr;
    if (size > 0) {
      if constexpr (std::is_scalar_v<T>) {
        data = new T[static_cast<std::size_t>(size)];  // uninitialised on purpose
      } else {
        data = new T[static_cast<std::size_t>(size)]();
      }
    }
  }
  void Free() {
    if (ownsData) delete[] data;
    data = nullptr;
    width = height = 0;
    size = 0;
    ownsData = true;
  }
  void CopyFrom(const UniImage& other) {
    Allocate(other.width, other.height);
    if (size > 0) std::copy(other.data, other.data + size, data);
  }
  void Take(UniImage& other) {
    width = other.width;
    height = other.height;
    size = other.size;
    data = other.data;
    ownsData = other.ownsData;
    other.data = nullptr;
    other.width = other.height = 0;
    other.size = 0;
    other.ownsData = true;
  }
};

template <typename T>
using UniImagePtr = std::shared_ptr<UniImage<T>>;

using GreyImage = UniImage<uint8>;
using RGBImage = UniImage<RGB8>;
using FloatImage = UniImage<float>;

}  // namespace img
