#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/math/Vec.h"
#include "sim/Procedural.h"
#include "sim/RigScanResult.h"
#include "sim/SceneFile.h"
#include "sim/TriMesh.h"
#include "surf/mesh/KDTree.h"

// Fusion of rig scans placed by their true poses, scored against the true
// vase, for the end-to-end fusion test and bench/RigFusionAccuracy.
namespace sim::testing {

// A checker on the vase's wall in its surface parameters (s = φ/2π,
// t = z/height + 1/2): cell (floor(s·cellsS), floor(t·cellsT)) has albedo a
// when the sum of its indices is even, else b (as the scene's checker
// texture lays it).
struct VaseChecker {
  int cellsS = 16, cellsT = 8;
  float a = 0.8f, b = 0.3f;
};

// Gives the scene's vase the checker's albedos and cells.
void PaintChecker(ObjectDescription& vase, const VaseChecker& checker);

// The true vase in its own coordinates (origin at its centre, z its axis).
// Distances go to the nearest of dense samples of the analytic surface
// (wall and both caps, spaced at most `spacing` mm): point to the sample's
// tangent plane, or to the sample itself where the point's foot on that
// plane lies more than a spacing away (beyond the rim of a cap). With
// spacing 0.1 mm the sampling adds below 0.001 mm on the ribs.
class VaseTruth {
 public:
  explicit VaseTruth(const VaseSpec& spec, double spacing = 0.1);
  double Distance(const math::Vec3f& objectPoint) const;
  // The checker's albedo at the wall point nearest objectPoint; false on a
  // cap, within `margin` mm (along the wall) of a cell edge or of the rims.
  bool Albedo(const math::Vec3f& objectPoint, const VaseChecker& checker, double margin, float& albedo) const;
  const VaseSpec& GetSpec() const { return m_spec; }

 private:
  VaseSpec m_spec;
  double m_spacing;
  surf::KDTree m_tree;
};

struct DistanceStats {
  std::size_t count = 0;
  double rms = 0.0, p99 = 0.0, max = 0.0;  // mm
};
DistanceStats Summarise(std::vector<double> distances);

// The fused texture against the true albedo where the checker is known:
// the texture's grey level at a vertex, divided by the gain that fits the
// levels best to the albedos in least squares (the camera's exposure and
// the lighting scale the texture), compared with the albedo.
struct ColourStats {
  std::size_t count = 0;
  double gain = 0.0;         // grey level (0…255) per unit of albedo
  double rmsRelative = 0.0;  // RMS of (level/gain − albedo)/albedo
  double meanA = 0.0, meanB = 0.0;  // mean level/gain over the cells of albedo a and of b
  double wrongCell = 0.0;    // fraction whose level/gain is nearer the other cell's albedo
};

struct RigFusionOptions {
  int resolution = 512;
  bool texture = true;
  float holeClosing = 1.0f;  // FilterFusionResult: 1 keeps every triangle
  VaseChecker checker;       // the albedo truth of the scanned vase
  bool hasChecker = true;    // false: uniform albedo checker.a
  double colourMargin = 1.0; // mm from cell edges and rims
};

// Wall-clock and CPU (user + system, all threads) seconds.
struct StageTime {
  double wall = 0.0, cpu = 0.0;
};

struct RigFusionResult {
  bool ok = false;
  std::string error;
  std::size_t scanVertices = 0, vertices = 0, triangles = 0;
  // Each scan's own vertices (placed by the true pose) against the truth.
  std::vector<DistanceStats> scanErrors;
  bool closed = false, textured = false;
  double voxelSize = 0.0;     // mm
  DistanceStats supported;    // fused vertices with an input sample within two voxels
  DistanceStats all;
  ColourStats colour;
  StageTime fusion;           // gathering, reconstruction, post-processing
  StageTime textureFusion;    // texture fusion, hole filtering, scene insertion
  double peakMemoryMB = 0.0;  // of the process, after the run
  double estimatedMemoryMB = 0.0;  // surf::Fusion::EstimateMemory for the samples
};

// Adds the scans to a fresh scan list, each with node frame
// object_T_world (its world_T_object inverted), fuses them with
// ShapeFusion::StartFusionPoisson and scores the result.
RigFusionResult FuseAndScore(const std::vector<RigScan>& scans, const VaseTruth& truth,
                             const RigFusionOptions& options);

// Every edge used by exactly two triangles (and at least one triangle),
// vertices at the same position counted as one (texture fusion splits the
// mesh's vertices along its chart seams).
bool IsClosed(const std::vector<math::Vec3f>& positions, const std::vector<std::uint32_t>& triangles);

}  // namespace sim::testing
