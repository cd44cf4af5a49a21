#pragma once

#include <cstdint>
#include <vector>

#include "foundation/img/UniImage.h"
#include "v3d/GlEnums.h"
#include "v3d/Object.h"

namespace v3d {

class Display;

// A rectangle of texture pixels: x, y of the top-left pixel, width, height.
struct TextureRegion {
  std::int32_t x = 0, y = 0, width = 0, height = 0;

  bool IsEmpty() const { return width <= 0 || height <= 0; }
  // The smallest region holding both; an empty region adds nothing.
  TextureRegion United(const TextureRegion& other) const;
  friend bool operator==(const TextureRegion&, const TextureRegion&) = default;
};

// An image for the scene's meshes: its properties (size, OpenGL pixel format
// and component type, filters), its data in rows from the top, and its state
// on the display (texture name, the region still to upload).
//
// A texture lives in one of the scene's 256 slots (its texture ID, -1 when
// not added); meshes refer to it by that ID. The scene creates and deletes
// its OpenGL name through the display; uploads happen through the display
// too, at once when the scene has one (TransferROI) or later when the
// renderer calls OnUpdate. Violations throw std::invalid_argument (bad
// properties or regions) or std::runtime_error (display failures) with
// "v3d::Texture::Method - text".
class Texture : public Object {
 public:
  Texture() = default;
  // Leaves its scene.
  ~Texture() override;

  // Accepted formats: kRed, kLuminance (1 component); kLuminanceAlpha, kRg
  // (2); kRgb, kBgr (3); kRgba, kBgra (4). Types: kByte, kUnsignedByte (1
  // byte); kShort, kUnsignedShort (2); kInt, kUnsignedInt, kFloat (4).
  // Resets filters to linear and the environment mode to modulate. The data
  // is kept only if its size still fits.
  void SetProps(std::int32_t width, std::int32_t height, gl::Enum format, gl::Enum type);
  // Replaces the data (rows from the top, tightly packed) with a copy of
  // size bytes, which must be GetImageDataSize(); null data frees the buffer.
  // False, with an error line on standard error, for a wrong size.
  bool ChangeImage(const void* data, std::size_t size);
  // SetProps, then ChangeImage.
  bool ChangeImage(std::int32_t width, std::int32_t height, gl::Enum format, gl::Enum type,
                   const void* data);
  // Colour images become kBgr (their memory order), grey images kLuminance.
  void SetImage(const img::RGBImage& image);
  void SetImage(const img::GreyImage& image);

  // Uploads a region of the data: at once with the scene's display, else at
  // the next OnUpdate.
  void TransferROI(const TextureRegion& region);
  // Caps the larger side of the uploaded texture (0 = no cap); the smaller
  // side is scaled in proportion.
  void SetTextureResolutionLimit(std::int32_t limit);
  std::int32_t GetTextureResolutionLimit() const { return m_resolutionLimit; }

  std::int32_t GetTextureID() const { return m_textureID; }
  std::int32_t GetWidth() const { return m_width; }
  std::int32_t GetHeight() const { return m_height; }
  // The size of the texture allocated on the display.
  std::int32_t GetTexWidth() const { return m_texWidth; }
  std::int32_t GetTexHeight() const { return m_texHeight; }
  gl::Enum GetFormat() const { return m_format; }
  gl::Enum GetType() const { return m_type; }
  std::int32_t GetBytesPerComponent() const { return m_bytesPerComponent; }
  std::int32_t GetNumComponents() const { return m_numComponents; }
  gl::Enum GetMinFilter() const { return m_minFilter; }
  gl::Enum GetMagFilter() const { return m_magFilter; }
  gl::Enum GetEnvMode() const { return m_envMode; }
  void SetFilters(gl::Enum minFilter, gl::Enum magFilter);
  void SetEnvMode(gl::Enum mode) { m_envMode = mode; }
  // width · height · components · bytes per component.
  std::size_t GetImageDataSize() const;
  const std::vector<std::uint8_t>& GetData() const { return m_data; }
  bool HasData() const { return !m_data.empty(); }

  // Display side: the OpenGL name (0 = none) and the region not yet uploaded.
  std::uint32_t GetGLName() const { return m_glName; }
  const TextureRegion& GetPendingRegion() const { return m_pending; }
  // With the display's context current: creates or deletes the texture name.
  void OnAdd(Display& display);
  void OnRemove(Display& display);
  // With the context current: uploads the pending region (nothing if none).
  void OnUpdate(Display& display);

 private:
  friend class Scene;

  void UpdateAllocatedSize();
  void Upload(Display& display, const TextureRegion& region);
  TextureRegion Full() const { return {0, 0, m_width, m_height}; }

  std::int32_t m_width = 0, m_height = 0;
  std::int32_t m_texWidth = 0, m_texHeight = 0;
  gl::Enum m_format = 0, m_type = 0;
  std::int32_t m_bytesPerComponent = 0, m_numComponents = 0;
  gl::Enum m_minFilter = gl::kLinear, m_magFilter = gl::kLinear, m_envMode = gl::kModulate;
  std::uint32_t m_glName = 0;
  std::int32_t m_textureID = -1;
  std::vector<std::uint8_t> m_data;
  TextureRegion m_pending;
  std::int32_t m_resolutionLimit = 0;
  bool m_initialized = false;  // storage allocated on the display
  Scene* m_scene = nullptr;
};

}  // namespace v3d
