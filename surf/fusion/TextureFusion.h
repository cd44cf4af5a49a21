#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "foundation/utils/Progress.h"

namespace surf {

// Texture fusion: one texture atlas and per-vertex texture coordinates for a
// fused mesh, taken from the textures of the scans it was fused from.
//
// Method:
//  1. Projection. Every fused vertex is looked up on every textured scan: its
//     world position is carried into the scan's coordinates, the nearest scan
//     vertex is found with a kd-tree and the closest point on the triangles
//     around it (two rings) gives the scan triangle, the distance and, by
//     barycentric interpolation, the scan texture coordinate. The look-up
//     counts as a hit when the distance is at most maxDistance and the
//     angle between the fused vertex normal and the scan triangle's normal
//     is at most maxAngle. Its score is
//         sqrt(texel density of the scan triangle) · cos(angle) · exp(-(d/maxDistance)²),
//     texel density being texture pixels per mm² of scan surface: it falls
//     with the scan's viewing angle and distance to the surface, so the
//     scan that saw a place most squarely and most closely wins.
//  2. View selection. A fused triangle may take a scan when all three of its
//     vertices hit it, its texture triangle there keeps the orientation of
//     the scan triangle hit by its first vertex, and its texture area lies
//     within a factor 4 of its 3D area times the texel density (this rejects
//     triangles that would straddle separate regions of a scan's texture).
//     Its data cost for that scan is 1 − score/best score, the score being
//     the mean of its vertices' scores.
//  3. Label smoothing: iterated conditional modes with cost data + smoothness
//     per edge neighbour of another label, a few sweeps in face order.
//  4. Charts: edge-connected faces of one label. A chart of a scan keeps that
//     scan's own parametrisation: its region of the scan texture (bounding box
//     of its texture coordinates) is copied into the atlas, scaled by one
//     factor for all charts (1 unless the atlas would exceed maxAtlasSize).
//     Vertices are duplicated where charts meet (one output vertex per fused
//     vertex and chart).
//  5. Seam levelling: an additive per-vertex colour correction per chart,
//     the least-squares solution of (a) equal corrected colours of a fused
//     vertex in all the charts that share it, (b) smooth corrections along
//     the edges of each chart (weight seamSmoothness) and (c) a tiny pull to
//     zero; conjugate gradients. The correction is interpolated
//     barycentrically over each triangle when the atlas is filled.
//  6. Atlas: charts are packed on shelves (tallest first) with padding
//     texels on every side; each triangle is rasterised (texel centres
//     inside) by bilinear sampling of its scan's texture, and the texels
//     within `padding` of a triangle get the scan texture beyond it (with the
//     correction of the triangle's nearest point), against bleeding. The
//     atlas is not padded to powers of two.
//  7. Faces no scan sees (in a component that some scan sees) form flat
//     charts: one colour, the mean corrected colour of the seen vertices
//     bordering them, held in a small block of the atlas that all their
//     vertices address. A connected component whose faces no scan sees, and
//     vertices in no triangle, address a neutral block of kNeutralColor.
//
// Connected components are vertex-connected groups of triangles, numbered
// from 0 in the order of their first triangle; each prints
// "TextureFusion(): CC " + number + " succeeded\n" (some face textured from a
// scan) or " failed!\n" through the log sink.
//
// Texture coordinates address images rows from the top (v = 0 the top edge,
// u = 0 the left edge); texel (x, y) has its centre at ((x + ½)/W, (y + ½)/H).
struct TexturedScan {
  std::span<const math::Vec3f> positions;      // scan coordinates, mm
  std::span<const std::uint32_t> indices;      // three per triangle
  std::span<const math::Vec2f> texCoords;      // one per position
  const img::RGBImage* texture = nullptr;      // b, g, r; none or empty: not textured
  math::Frame<double> worldTscan;              // the scan's node frame
};

struct TextureFusionOptions {
  // Largest distance (mm) between a fused vertex and a scan surface that
  // counts as seeing it; 0: three times the larger of the mean edge lengths
  // of the fused mesh and of the scans.
  float maxDistance = 0.f;
  // Largest angle (radians) between a fused vertex normal and a scan normal.
  float maxAngle = 1.3089969f;  // 75°
  // Cost of an edge between faces of different scans in label smoothing,
  // against data costs in [0, 1), and the number of sweeps.
  float smoothness = 0.3f;
  int smoothingSweeps = 5;
  // Weight of smooth corrections along chart edges against seam agreement.
  float seamSmoothness = 0.1f;
  // The atlas is at most this wide and high (texels).
  std::uint32_t maxAtlasSize = 4096;
  // Texels around every triangle in the atlas that continue the scan texture.
  int padding = 2;
  // Where log lines go; none: standard output.
  std::function<void(const std::string&)> log;
};

// The textured mesh: fused vertices (duplicated along chart seams), the
// fused triangles in their input order, one atlas and one texture coordinate
// per vertex.
struct TextureFusionResult {
  std::vector<math::Vec3f> positions;      // unchanged fused positions
  std::vector<std::uint32_t> indices;      // triangle t is fused triangle t
  std::vector<math::Vec2f> texCoords;      // one per vertex, v = 0 at the top
  std::vector<std::uint32_t> sourceVertex;  // fused vertex of each vertex
  std::size_t numFusedVertices = 0;
  img::RGBImage texture;

  // Carries a per-vertex array of the fused mesh (normals, support values…)
  // over to the result's vertices; std::invalid_argument unless it has one
  // element per fused vertex.
  template <typename T>
  std::vector<T> Remap(const std::vector<T>& fused) const;
};

// Colour (b, g, r) of surfaces no scan sees.
inline constexpr img::RGB8 kNeutralColor = img::RGB8::FromRGB(200, 200, 180);

// Builds the textured mesh (positions in world coordinates, mm, like the
// scans after their node frames). Returns false, with one " failed!" line
// per component, when no component could be textured, and false without any
// line when the progress callback asks to cancel (the caller knows which
// from its callback); result is only written on success. A layout that does
// not fit the atlas prints one "Error: ..." line and fails. Scans without texture are ignored. Throws
// std::invalid_argument for indices out of range or a texture-coordinate
// array of a textured scan that does not match its positions. The per-vertex
// and per-face work runs in OpenMP loops.
bool FuseTextures(std::span<const math::Vec3f> positions, std::span<const std::uint32_t> indices,
                  std::span<const TexturedScan> scans, const TextureFusionOptions& options,
                  TextureFusionResult& result, const utils::ProgressCallback& progress = {});

template <typename T>
std::vector<T> TextureFusionResult::Remap(const std::vector<T>& fused) const {
  if (fused.size() != numFusedVertices) {
    throw std::invalid_argument("TextureFusionResult::Remap - the array has " + std::to_string(fused.size()) +
                                " elements for " + std::to_string(numFusedVertices) + " fused vertices.");
  }
  std::vector<T> out;
  out.reserve(sourceVertex.size());
  for (std::uint32_t s : sourceVertex) out.push_back(fused[s]);
  return out;
}

}  // namespace surf
