#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/img/UniImage.h"
#include "foundation/math/Mat.h"
#include "v3d/Color.h"
#include "v3d/Geo.h"
#include "v3d/Node.h"

namespace surf {

// Selection of vertices by a reserved vertex colour: a vertex is selected
// when its colour equals the selection colour in red, green and blue (alpha
// is ignored). The tools walk the node tree below (and including) a node and
// act on every Geo in it; a group mask other than kAllGroups restricts them
// to the nodes whose visibility mask shares a bit with it. Each takes the
// viewer lock, increments the colour counters of the arrays it changes and
// the redraw ID of the node's scene.

inline constexpr std::uint32_t kAllGroups = 0xFFFFFFFF;

// Selects the vertices that the view sees inside the mask: each vertex goes
// through its node's world frame and clipTWorld (the view's projection
// times its model-view, OpenGL clip coordinates, column vectors) to
// (x, y, z, w); a vertex with w > 0 lands on the mask pixel
// (round((x/w + 1)·W/2), round((y/w + 1)·H/2)) — W, H the mask's size, row 0
// at the bottom of the view as OpenGL reads pixels — and is selected when
// that pixel lies inside the mask and is non-zero. Meshes without colours
// get them (filled with their global colour) when a vertex of theirs is
// selected. Returns the number of vertices that hit a set mask pixel.
std::size_t ColorAllGeosByBitmapMask(v3d::Node& node, const img::GreyImage& mask, const v3d::Color4ub& selectionColor,
                                     const math::Mat<4, 4, double>& clipTWorld, std::uint32_t groupMask = kAllGroups);

// Grows the selection by one ring: every vertex sharing a primitive (line,
// triangle or quad) with a selected vertex becomes selected. Returns the
// number of vertices newly selected.
std::size_t ExpandColorAllGeos(v3d::Node& node, const v3d::Color4ub& selectionColor,
                               std::uint32_t groupMask = kAllGroups);

// Selected vertices get their mesh's global colour, all others the selection
// colour (a mesh without colours gets them first, so all its vertices become
// selected). Returns the number of vertices selected afterwards.
std::size_t InvertVertexColors(v3d::Geo& geo, const v3d::Color4ub& selectionColor);

// Removes the selected vertices, and the primitives that use them, from
// every mesh with colours; the other vertices keep their order and
// attributes. Returns the number of vertices removed.
std::size_t RemoveColoredVerticesFromAllGeos(v3d::Node& node, const v3d::Color4ub& selectionColor,
                                             std::uint32_t groupMask = kAllGroups);

// Frees the colour arrays of every mesh below node.
void RemoveVertexColorFromAllGeos(v3d::Node& node);

// The number of selected vertices of a geo.
std::size_t CountSelectedVertices(const v3d::Geo& geo, const v3d::Color4ub& selectionColor);

}  // namespace surf
