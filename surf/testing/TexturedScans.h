#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "surf/fusion/TextureFusion.h"

// Synthetic textured scans of spheres with a known colour on the surface,
// for the texture-fusion tests and benchmark.
namespace surf::testing {

// A colour (b, g, r, 0…255 before rounding) of a world point.
using SurfaceColour = std::function<math::Vec3d(const math::Vec3d& world)>;

// An icosahedron subdivided `levels` times and pushed onto the sphere;
// triangles counter-clockwise seen from outside (20·4^levels of them).
// Appends to positions and indices.
void AppendIcosphere(const math::Vec3d& centre, double radius, int levels, std::vector<math::Vec3f>& positions,
                     std::vector<std::uint32_t>& indices);

struct SphereScanSpec {
  math::Vec3d centre;            // world, mm
  double radius = 30.0;
  math::Vec3d viewDirection{0.0, 0.0, -1.0};  // world direction the scanner looks along
  int grid = 101;                // grid points across the sphere's diameter
  std::uint32_t textureWidth = 512;
  std::uint32_t textureHeight = 512;
  double maxAngle = 1.396;       // the scan keeps surface up to this angle (rad) from the view
  double twist = 0.0;            // rotation (rad) of the scan frame about the view direction
};

// One scan of a sphere by an orthographic scanner, in scan coordinates
// (z along the view, y down the texture): the grid vertices on the visible
// side, two outward triangles per grid cell whose corners are all kept, and
// a texture whose pixel centres show the colour of the sphere point they
// project onto (the nearest rim point outside the disc).
struct SyntheticTexturedScan {
  std::vector<math::Vec3f> positions;
  std::vector<std::uint32_t> indices;
  std::vector<math::Vec2f> texCoords;
  img::RGBImage texture;
  math::Frame<double> worldTscan;

  TexturedScan View() const { return {positions, indices, texCoords, &texture, worldTscan}; }
};

SyntheticTexturedScan ScanSphere(const SphereScanSpec& spec, const SurfaceColour& colour);

}  // namespace surf::testing
