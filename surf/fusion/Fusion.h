#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "foundation/utils/Progress.h"

namespace surf {

// The octree settings of the screened Poisson reconstruction for a
// resolution (the "depth parameter" of the fusion: about how many finest
// cells span 1/1.2 of the samples' largest extent).
struct FusionDepth {
  int depth = 0;        // d = ⌈ln(resolution) / ln 2⌉
  int kernelDepth = 0;  // depth of the sample-density estimate: d − 2
  double scale = 0.0;   // bounding-cube edge / samples' largest extent: 1.2 · 2^d / resolution
};

// Resolutions the fusion accepts: 4 (depth 2, kernel depth 0) up to 8192
// (depth 13); the memory check of Fusion::Reconstruct may refuse less.
constexpr int kMinFusionResolution = 4;
constexpr int kMaxFusionResolution = 8192;

// d is the smallest integer with 2^d ≥ resolution (the rounded-up base-2
// logarithm, computed exactly). Throws std::invalid_argument outside
// [kMinFusionResolution, kMaxFusionResolution].
FusionDepth ComputeFusionDepth(int resolution);

// False when the kernel depth exceeds the depth or is negative, with the
// reconstruction's message in *error ("[ERROR] KernelDepth can't be greater
// than Depth: k <= d\n" or "[ERROR] KernelDepth must be at least 0: k\n").
bool ValidateFusionDepth(const FusionDepth& depth, std::string* error = nullptr);

// An axis-aligned box (world coordinates, mm).
struct FusionBox {
  math::Vec3d min;
  math::Vec3d max;
};

// The edge of the finest reconstruction cell (mm) for scans with the given
// boxes (already transformed into world coordinates): 1.2 · L / resolution
// with L the largest extent of the boxes' union; 0 without boxes. Throws
// std::invalid_argument for a resolution outside the accepted range.
double CalculateFusionVoxelSize(const std::vector<FusionBox>& boxes, int resolution);

// Hole filtering of a fusion result: with t ≥ 1 every triangle of
// unfiltered, else the triangles whose three vertices have a value ≥ −t.
// values holds one value per vertex; a triangle with an index past it is
// dropped.
std::vector<std::uint32_t> FilterFusionTriangles(const std::vector<std::uint32_t>& unfiltered,
                                                 const std::vector<float>& values, double t);

struct FusionOptions {
  int resolution = 512;
  // Post-processing: false cleans the mesh up (vertices merged within
  // 1.1920929e-07 mm, degenerate and duplicated triangles and unreferenced
  // vertices dropped); true makes it Delaunay by edge flips and smooths it
  // once. Both recompute the normals.
  bool delaunay = false;
  // Iso-vertices placed by linear interpolation along the cell edges
  // instead of the reconstruction's default fit.
  bool linearFit = false;
  // The screening (sharpness) weight. The reconstruction library in use
  // (Open3D 0.16) fixes its own point weight and offers no way to set it:
  // the value is accepted and has no effect.
  float sharpnessWeight = 0.0f;
  // Threads of the reconstruction; 0: one per hardware thread. The
  // library's parallel reconstruction crashes now and then on a busy machine
  // (a known fault of its multi-threaded code), so one thread is the default: on two
  // cores the parallel run saved at most 11 % (bench/FusionAccuracy).
  int threads = 1;
  // Memory the reconstruction may use (bytes); 0: the MemAvailable of
  // /proc/meminfo.
  std::uint64_t memoryLimit = 0;
};

// The fusion of oriented point clouds (world coordinates, mm) into one
// closed triangle mesh by screened Poisson surface reconstruction (Kazhdan
// and Hoppe, "Screened Poisson Surface Reconstruction", ACM ToG 2013; the
// implementation is Open3D's, which is used only inside Fusion.cc).
//
// What Open3D lets us set: the octree depth, the bounding-cube scale, the
// linear fit and the thread count. What it fixes itself, matching our
// settings: kernel depth d − 2, 1.5 samples per node, solver accuracy
// 0.001. It cannot be interrupted while it solves: a cancel is honoured at
// the next progress mark after it returns. Where the surface leaves the
// bounding cube (a hole bulging outwards) Open3D leaves it open; those
// border loops are closed with flat triangles (CloseBoundaryLoops), so the
// result is closed. Open3D's per-vertex densities are not used to trim the
// mesh: it stays whole, and the support values below decide what hole
// filtering removes.
//
// Support values: 1.0 at a fused vertex with an input sample within twice
// the voxel size. An unsupported vertex belongs to a connected region of
// unsupported vertices (a hole the reconstruction closed); all of the
// region's vertices get −min(1, e / L), where e is the largest extent of
// the region's axis-aligned box (about the hole's diameter) and L that of
// the whole result; a region that touches no supported vertex (a surface
// of its own, away from all samples) gets −1. FilterFusionTriangles(t)
// thus keeps (closes) the holes whose size is at most the fraction t of
// the object's size and removes larger ones whole. The size is measured on
// the box rather than along the surface because a hole the reconstruction
// closes can bulge out to the bounding cube, where the cut-off surface is
// closed with long flat triangles that would make geodesic distances
// meaningless.
//
// Ground ("Corona") processing: the ground is the xy plane of a reference
// frame (z up, the side the object stands on). Before the reconstruction a
// 200 × 200 grid of samples is laid one grid spacing below the lowest
// sample, centred under the samples' box enlarged by 15 % of its largest
// extent on every side and as wide as that enlarged extent; its normals
// point down (−z), away from the object. The outermost rows and columns
// turn the ground's rim down by 45° (their normals lean towards the
// centre), so that the reconstructed ground bends away below the cut at
// its rim instead of rising.
// After the reconstruction every triangle whose three vertices lie below
// the cut plane is deleted: the grid's plane raised by half a grid spacing
// or one voxel, whichever is more (the reconstructed ground lies within a
// fraction of a voxel of the grid). The reconstruction also closes the
// ground's open top with a low dome over the grid, joined to the object
// where it meets the ground; so every region of unsupported vertices (see
// the support values) that reaches a deleted triangle is deleted with it.
// An object standing on the ground is thus left open at the bottom, cut
// where its samples end.
//
// Progress marks of Reconstruct ("Fusion k\n" and the fraction reported):
// 1 start (0), 2 input and memory checked (0.05), 3 samples handed over
// (0.1; "Input Points: %d\n"), 4 solve starts (0.25), 5 solve and iso-surface
// done (0.7; "#        Got triangles in: …", "Memory Usage: %.3f MB\n" with
// the process's peak resident memory), then "PostProcessFusion\n", 6
// clean-up (0.72), 7 cube holes closed and Delaunay variant (0.75), 8
// normals (0.8), 9 support (0.85), 10 graded values (0.9), 11 (0.95), 12
// stored (1.0; "#             Total Solve: …", "Fusion finished\n"). Open3D
// reports neither its octree size nor its iso-value, so "Leaves/Nodes",
// "Got average in" and "Iso-Value" are not printed.
//
// Messages go to the log sink (default: stdout). Not thread-safe; one
// Fusion per fusion run.
class Fusion {
 public:
  using LogSink = std::function<void(const std::string&)>;

  explicit Fusion(LogSink log = {});
  Fusion(const Fusion&) = delete;
  Fusion& operator=(const Fusion&) = delete;

  // Adds one cloud: one normal per position (the normals need not be unit).
  // On a length mismatch prints an error and skips the cloud. Samples with a
  // non-finite coordinate or a zero or non-finite normal are dropped.
  void AddPointCloud(const std::vector<math::Vec3f>& positions, const std::vector<math::Vec3f>& normals);
  std::size_t GetNumSamples() const { return m_positions.size(); }

  // Adds the ground grid under the samples added so far. world_T_reference
  // places the reference frame (its z axis points up from the ground).
  void PreprocessGround(const math::Frame4d& world_T_reference);
  // Deletes the ground from the result (after a successful Reconstruct);
  // without PreprocessGround it does nothing.
  void PostprocessGround();

  // Runs the reconstruction and its post-processing. progress receives 0…1
  // and returns true to cancel (checked at every mark). False on failure,
  // refusal or cancel; the previous result is then kept.
  bool Reconstruct(const FusionOptions& options, const utils::ProgressCallback& progress = {});
  bool WasCancelled() const { return m_cancelled; }

  // The result (world coordinates, mm), triangles counter-clockwise seen
  // from outside; values as described above.
  const std::vector<math::Vec3f>& GetPositions() const { return m_resultPositions; }
  const std::vector<math::Vec3f>& GetNormals() const { return m_resultNormals; }
  const std::vector<float>& GetValues() const { return m_resultValues; }
  const std::vector<std::uint32_t>& GetTriangles() const { return m_resultTriangles; }
  // The finest cell edge of the last reconstruction (mm).
  double GetVoxelSize() const { return m_voxelSize; }

  // Rough upper bound on the bytes the reconstruction needs for these
  // samples at this depth, from the number of octree cells the samples
  // occupy at each level.
  std::uint64_t EstimateMemory(const FusionDepth& depth) const;

 private:
  struct Result;
  void Log(const std::string& text) const;
  bool Mark(int step, double fraction, const utils::ProgressCallback& progress);
  bool CheckMemory(const FusionDepth& depth, std::uint64_t limit) const;
  bool Solve(const FusionDepth& depth, const FusionOptions& options, const utils::ProgressCallback& progress,
             Result& result);
  bool PostProcess(const FusionOptions& options, const utils::ProgressCallback& progress, Result& result);
  // One flag per fused vertex: a scan sample within twice the voxel size.
  // Turns the triangles round when most supported vertices face against
  // their samples' normals.
  std::vector<char> FindSupport(Result& result) const;
  void GradeSupport(const std::vector<char>& supported, Result& result) const;
  void Store(Result& result);

  LogSink m_log;
  std::vector<math::Vec3f> m_positions;
  std::vector<math::Vec3f> m_normals;
  // Samples from m_numScanSamples on are the ground grid.
  std::size_t m_numScanSamples = 0;
  bool m_hasGround = false;
  // The grid's plane (world coordinates) and the grid spacing (mm).
  math::Vec3d m_groundPoint, m_groundNormal;
  double m_groundSpacing = 0.0;

  std::vector<math::Vec3f> m_resultPositions;
  std::vector<math::Vec3f> m_resultNormals;
  std::vector<float> m_resultValues;
  std::vector<std::uint32_t> m_resultTriangles;
  double m_voxelSize = 0.0;
  bool m_cancelled = false;
};

}  // namespace surf
