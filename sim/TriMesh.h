#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"

namespace v3d {
class Mesh;
}

namespace sim {

// Reflectance in linear units, components red, green, blue in 0…1.
using Albedo = math::Vec3f;

// A texture as reflectance: bytes are read as linear reflectance × 255 (no
// display gamma). Coordinates (s, t) = (0, 0) at the top-left corner of
// pixel (0, 0) and (1, 1) at the bottom-right corner of the last pixel;
// lookups are bilinear between pixel centres and repeat outside 0…1.
class AlbedoTexture {
 public:
  // Throws std::invalid_argument for an empty image.
  explicit AlbedoTexture(img::RGBImage image);

  Albedo Lookup(float s, float t) const;
  const img::RGBImage& GetImage() const { return m_image; }

  // A checkerboard of cellsX × cellsY cells over the unit square, cell (0, 0)
  // in colour a, with cellPixels pixels per cell side.
  static std::shared_ptr<const AlbedoTexture> MakeChecker(int cellsX, int cellsY, const Albedo& a,
                                                          const Albedo& b, int cellPixels = 16);

 private:
  img::RGBImage m_image;
};

// The indexed triangle mesh the virtual rig casts rays against: a plain,
// copyable value with reflectance in floats, positions in float like the
// ray caster's acceleration structure. (v3d::Mesh is the viewer's
// container: not copyable, change counters, 8-bit colours; FromV3dMesh
// converts.) Triangles wind counter-clockwise seen from the
// side their normal points to (outside of closed objects).
//
// Per-vertex albedo and texture coordinates are each either empty or one
// per position. The reflectance at a surface point is the interpolated
// per-vertex albedo (or the owning object's uniform albedo when there is
// none), multiplied by the texture value when a texture and texture
// coordinates are present.
struct TriMesh {
  using Triangle = math::Vec<3, std::uint32_t>;

  std::vector<math::Vec3f> positions;
  std::vector<Triangle> triangles;
  std::vector<Albedo> albedo;
  std::vector<math::Vec2f> texCoords;
  std::shared_ptr<const AlbedoTexture> texture;

  std::size_t GetNumVertices() const { return positions.size(); }
  std::size_t GetNumTriangles() const { return triangles.size(); }

  // Empty string when the invariants hold: indices in range, attribute
  // arrays empty or one per position, finite positions; otherwise what is
  // wrong.
  std::string Validate() const;

  // Positions mapped through a_T_mesh (computed in double).
  TriMesh Transformed(const math::Frame4d& a_T_mesh) const;
};

// The triangles (and quads, split along their first diagonal) of a viewer
// mesh, with its vertex colours as albedo (alpha ignored) and its texture
// coordinates. Points and lines give no triangles. Throws
// std::invalid_argument when an index is out of range.
TriMesh FromV3dMesh(const v3d::Mesh& mesh);

}  // namespace sim
