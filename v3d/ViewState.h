#pragma once

#include <cstdint>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"

namespace v3d {

// Render layers: which pass draws a renderable.
enum RenderLayer : std::int32_t {
  kLayerBackground = 1,  // 2D, pixel coordinates, behind everything
  kLayerScene = 2,       // the 3D scene (scans, models): picked and bounded
  kLayerMarkers = 3,     // 3D markers over the scene (data tips, boxes); bounded, not picked
  kLayerForeground = 4,  // 2D overlays in pixel coordinates (canvases)
};

// Render flags of nodes and passes (combined as (node | pass) & ~mask).
enum RenderFlag : std::uint32_t {
  kRenderFlagWireframe = 1u << 1,     // a second drawing of the surface as edges
  kRenderFlagPoints = 1u << 2,        // a third drawing of the vertices as points
  kRenderFlagNoLighting = 1u << 3,    // colours as they are, unshaded
  kRenderFlagFlat = 1u << 4,          // one normal per face (faceted)
  kRenderFlagNoTexture = 1u << 5,     // ignore the mesh's texture
  kRenderFlagNoVertexColors = 1u << 6,  // the global colour instead of per-vertex colours
  kRenderFlagNoDepthTest = 1u << 7,   // drawn over everything of its layer
};

// What a pass knows of the view. Camera coordinates: x right, y down, z
// forward (mm); pixels: origin at the top-left corner of the viewport, the
// centre of pixel (i, j) at (i + 0.5, j + 0.5).
struct ViewState {
  math::Frame4d camera_T_world;
  std::int32_t width = 0, height = 0;  // viewport, pixels
  bool perspective = true;
  // Perspective: pixels per unit of x / z (the projection factor); parallel:
  // pixels per mm.
  double focalPixels = 0.0;
  double nearMm = 1.0, farMm = 1000.0;

  // The pixel of a point in camera coordinates; false behind the camera.
  bool ProjectCamera(const math::Vec3d& camera, math::Vec2d& pixel) const;
  // The pixel and depth (camera z, mm) of a world point.
  bool Project(const math::Vec3d& world, math::Vec2d& pixel, double* depth = nullptr) const;
  // The ray through a pixel, in world coordinates: origin and unit direction.
  void Ray(const math::Vec2d& pixel, math::Vec3d& origin, math::Vec3d& direction) const;
};

}  // namespace v3d
