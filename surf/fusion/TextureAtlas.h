#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "foundation/utils/Progress.h"

// The atlas of texture fusion (see TextureFusion.h): chart layout and filling.
namespace surf {

inline constexpr std::uint32_t kNoChart = 0xFFFFFFFFu;

// Edge-connected fused triangles textured alike.
struct AtlasChart {
  std::uint32_t scan = kNoChart;  // scan whose texture it shows; kNoChart: a flat chart
  std::vector<std::uint32_t> faces;
  math::Vec3f flatSum;  // flat chart: sum of the colours (b, g, r) around it
  int flatSamples = 0;  // none: the neutral colour
};

// What the atlas is built from; new vertices are the vertices of the result.
struct AtlasInput {
  std::span<const AtlasChart> charts;
  std::span<const std::uint32_t> cornerVertex;   // new vertex of each face corner (3 per face)
  std::span<const std::uint32_t> chartOfVertex;  // chart of each new vertex; kNoChart: neutral
  std::span<const math::Vec2f> scanTexel;        // per new vertex of a textured chart: its position
                                                 // in the scan texture, pixels (x right, y down)
  std::span<const math::Vec3f> correction;       // per new vertex: colour offset (b, g, r)
  std::vector<const img::RGBImage*> textures;    // per scan
};

// Lays charts out on shelves and fills the atlas image; texels within
// `padding` of a triangle hold the scan texture beyond it, against bleeding. A textured chart
// keeps its scan's parametrisation: atlas = (scan texel − chart origin) ·
// scale + chart corner + padding, one scale for all charts. Flat charts and
// the neutral colour get blocks of kFlatBlock² texels.
class TextureAtlas {
 public:
  static constexpr std::uint32_t kFlatBlock = 4;

  TextureAtlas(std::uint32_t maxSize, int padding) : m_maxSize(maxSize), m_padding(padding) {}

  // Chooses the scale (at most 1) and places the charts; false when they do
  // not fit into maxSize × maxSize at any reasonable scale.
  bool Layout(const AtlasInput& input);
  // Rasterises every chart (OpenMP over charts); false when cancelled.
  bool Fill(const AtlasInput& input, const utils::ProgressCallback& progress);
  // Texture coordinate of a new vertex (after Layout).
  math::Vec2f TexCoord(const AtlasInput& input, std::uint32_t vertex) const;
  float GetScale() const { return m_scale; }
  img::RGBImage TakeImage() { return std::move(m_image); }

 private:
  struct Rect {
    std::uint32_t x = 0, y = 0, w = 0, h = 0;
    math::Vec2f origin;  // textured chart: scan texel position of its bounding box's corner
    bool placed = false;
  };

  bool Pack(std::uint32_t& width, std::uint32_t& height);
  void FillTextured(const AtlasInput& input, std::uint32_t chart);
  void FillBlock(const Rect& rect, const img::RGB8& colour);
  void RasteriseFace(const AtlasInput& input, std::uint32_t chart, std::uint32_t face, bool padding);
  math::Vec2f AtlasPosition(const Rect& rect, const math::Vec2f& scanTexel) const;

  std::uint32_t m_maxSize;
  int m_padding;
  float m_scale = 1.f;
  std::vector<Rect> m_rects;            // per chart, then the neutral block last
  std::vector<math::Vec2f> m_extent;    // per textured chart: bounding box size in scan texels
  std::vector<bool> m_textured;         // per chart
  img::RGBImage m_image;
  img::GreyImage m_mask;                // 1: texel inside a triangle, 2: padding
};

// Colour (b, g, r) at a texture position in pixels (pixel centres at
// integer + ½), bilinear, clamped to the edge.
math::Vec3f SampleBilinear(const img::RGBImage& image, float x, float y);

}  // namespace surf
