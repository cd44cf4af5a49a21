#include "v3d/Texture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "v3d/Display.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

std::int32_t ComponentsOf(gl::Enum format) {
  switch (format) {
    case gl::kRed:
    case gl::kLuminance:
      return 1;
    case gl::kLuminanceAlpha:
    case gl::kRg:
      return 2;
    case gl::kRgb:
    case gl::kBgr:
      return 3;
    case gl::kRgba:
    case gl::kBgra:
      return 4;
    default:
      return 0;
  }
}

std::int32_t BytesOf(gl::Enum type) {
  switch (type) {
    case gl::kByte:
    case gl::kUnsignedByte:
      return 1;
    case gl::kShort:
    case gl::kUnsignedShort:
      return 2;
    case gl::kInt:
    case gl::kUnsignedInt:
    case gl::kFloat:
      return 4;
    default:
      return 0;
  }
}

}  // namespace

TextureRegion TextureRegion::United(const TextureRegion& other) const {
  if (other.IsEmpty()) return *this;
  if (IsEmpty()) return other;
  const std::int32_t x0 = std::min(x, other.x), y0 = std::min(y, other.y);
  const std::int32_t x1 = std::max(x + width, other.x + other.width);
  const std::int32_t y1 = std::max(y + height, other.y + other.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

Texture::~Texture() {
  if (m_scene) m_scene->ForgetTexture(this);
}

void Texture::SetProps(std::int32_t width, std::int32_t height, gl::Enum format, gl::Enum type) {
  const std::int32_t components = ComponentsOf(format);
  if (components == 0) {
    throw std::invalid_argument(
        "v3d::Texture::SetProps - Texture format is unknown or not supported.");
  }
  const std::int32_t bytes = BytesOf(type);
  if (bytes == 0) {
    throw std::invalid_argument(
        "v3d::Texture::SetProps - Texture data type is unknown or not supported.");
  }
  if (width < 1 || height < 1) {
    throw std::invalid_argument("v3d::Texture::SetProps - Width or height is less than 1.");
  }
  m_width = width;
  m_height = height;
  m_format = format;
  m_type = type;
  m_numComponents = components;
  m_bytesPerComponent = bytes;
  m_minFilter = m_magFilter = gl::kLinear;
  m_envMode = gl::kModulate;
  if (m_data.size() != GetImageDataSize()) std::vector<std::uint8_t>().swap(m_data);
  m_initialized = false;
  m_pending = m_data.empty() ? TextureRegion() : Full();
  UpdateAllocatedSize();
}

std::size_t Texture::GetImageDataSize() const {
  return static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height) *
         static_cast<std::size_t>(m_numComponents) * static_cast<std::size_t>(m_bytesPerComponent);
}

bool Texture::ChangeImage(const void* data, std::size_t size) {
  if (!data) {
    std::vector<std::uint8_t>().swap(m_data);
    m_pending = TextureRegion();
    return true;
  }
  if (m_numComponents < 1 || m_numComponents > 4) {
    std::cerr << "ERROR - Texture: Invalid m_texNumComponents: " << m_numComponents << '\n';
    return false;
  }
  if (size != GetImageDataSize()) {
    std::cerr << "ERROR - Texture: Invalid m_texDataSize: " << size << '\n';
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  m_data.assign(bytes, bytes + size);
  m_pending = Full();
  return true;
}

bool Texture::ChangeImage(std::int32_t width, std::int32_t height, gl::Enum format, gl::Enum type,
                          const void* data) {
  SetProps(width, height, format, type);
  return ChangeImage(data, GetImageDataSize());
}

void Texture::SetImage(const img::RGBImage& image) {
  static_assert(sizeof(img::RGB8) == 3);
  ChangeImage(static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height),
              gl::kBgr, gl::kUnsignedByte, image.data);
}

void Texture::SetImage(const img::GreyImage& image) {
  ChangeImage(static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height),
              gl::kLuminance, gl::kUnsignedByte, image.data);
}

void Texture::SetFilters(gl::Enum minFilter, gl::Enum magFilter) {
  m_minFilter = minFilter;
  m_magFilter = magFilter;
  m_initialized = false;
  if (HasData()) m_pending = Full();
}

void Texture::SetTextureResolutionLimit(std::int32_t limit) {
  m_resolutionLimit = std::max(limit, 0);
  UpdateAllocatedSize();
}

void Texture::UpdateAllocatedSize() {
  std::int32_t width = m_width, height = m_height;
  const std::int32_t larger = std::max(width, height);
  if (m_resolutionLimit > 0 && larger > m_resolutionLimit) {
    const double scale = static_cast<double>(m_resolutionLimit) / larger;
    width = std::max(1, static_cast<std::int32_t>(std::lround(width * scale)));
    height = std::max(1, static_cast<std::int32_t>(std::lround(height * scale)));
  }
  if (width == m_texWidth && height == m_texHeight) return;
  m_texWidth = width;
  m_texHeight = height;
  m_initialized = false;
  if (HasData()) m_pending = Full();
}

void Texture::TransferROI(const TextureRegion& region) {
  if (region.IsEmpty() || region.x < 0 || region.y < 0 || region.x > m_width - region.width ||
      region.y > m_height - region.height) {
    throw std::invalid_argument("v3d::Texture::TransferROI - Region of interest is invalid.");
  }
  if (m_data.empty()) {
    throw std::invalid_argument("v3d::Texture::TransferROI - Texture data buffer is NULL.");
  }
  Display* display = m_scene ? m_scene->GetDisplay() : nullptr;
  if (!display || m_glName == 0) {
    m_pending = m_pending.United(region);
    return;
  }
  ContextScope context(display);
  Upload(*display, region);
}

void Texture::Upload(Display& display, const TextureRegion& region) {
  if (!display.BindTexture(m_glName)) {
    throw std::runtime_error("v3d::Texture::TransferROI - glBindTexture failed.");
  }
  if (!m_initialized) {
    if (!display.SetupTextureParameters(*this)) {
      throw std::runtime_error(
          "v3d::Texture::SetupTextureParameters - Setting up texture parameters failed.");
    }
    if (!display.InitTexture(*this)) {
      throw std::runtime_error("v3d::Texture::TransferROI - Init texture failed.");
    }
    m_initialized = true;
  }
  if (!display.TexSubImage(*this, region)) {
    throw std::runtime_error("v3d::Texture::TransferROI - glTexSubImage2D failed.");
  }
  if (region.United(m_pending) == region) m_pending = TextureRegion();
}

void Texture::OnAdd(Display& display) {
  const std::uint32_t name = display.GenTexture();
  if (name == 0) throw std::runtime_error("v3d::Texture::OnAdd - glGenTextures failed.");
  m_glName = name;
  m_initialized = false;
  if (HasData()) m_pending = Full();
}

void Texture::OnRemove(Display& display) {
  if (m_glName != 0) display.DeleteTexture(m_glName);
  m_glName = 0;
  m_initialized = false;
}

void Texture::OnUpdate(Display& display) {
  if (m_data.empty()) {
    throw std::runtime_error("v3d::Texture::OnUpdate - Texture data buffer is NULL.");
  }
  if (m_pending.IsEmpty() || m_glName == 0) return;
  Upload(display, m_pending);
}

}  // namespace v3d
