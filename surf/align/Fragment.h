#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "surf/mesh/KDTree.h"
#include "surf/align/RelationTable.h"
#include "surf/align/SurfaceFeatures.h"

namespace v3d {
class Geo;
}

namespace surf {

// A scan as alignment sees it: the positions and unit normals of all its
// meshes in the scan's local coordinates (mm), their statistics, a kd-tree,
// a random vertex order, and the pair table of coarse alignment.
//
// Fragment vertex indices run over the scan's meshes in order, skipping
// vertices with a non-finite position or a zero or non-finite normal;
// "source indices" count every vertex of the meshes in the same order, and
// the two are mapped by ToFragmentIndex / GetSourceIndex.
//
// Sampling may be restricted to a selection (texture-rich vertices); the
// exclusion set holds vertices that fine alignment ignores (empty: none).
class Fragment {
 public:
  struct InitOptions {
    // Normals are negated (the scan's normals are marked inverted).
    bool normalsInverted = false;
    // Restrict sampling to the vertices of strongest texture edges; needs
    // texture and texture coordinates on the meshes.
    bool useTexture = false;
    // The percentage of vertices dropped by the texture restriction (0…99).
    int useTexturePercentage = 80;
    const img::RGBImage* texture = nullptr;
    // Compute per-vertex weights of rare pair features (SimilarityRating).
    bool useSurfaceFeatures = false;
    SimilarityRating::Options surfaceFeatures;
    // Seed of the random vertex order; 0 takes the current time.
    std::uint64_t shuffleSeed = 0;
    // At most this many passes of normal smoothing over the triangles'
    // edges, each replacing every normal by the unit sum of itself and its
    // edge neighbours' normals; 0 keeps the scan's vertex normals as they
    // are. The passes taken follow the noise of the normals:
    // ceil(m / kNormalNoisePerPass), m the median angle between a normal and
    // the mean of its edge neighbours' normals, which on a smooth surface
    // sampled finely is mostly noise.
    //
    // Why: the one-ring normals of a finely sampled scan carry the depth
    // noise (virtual rig, 0.25 mm spacing: m = 2.9°, 3.1° median error
    // against the true normals, 0.3° after 8 passes, a kernel about two
    // spacings wide), and alignment leans on normals: coarse alignment bins
    // pairs by them (noise scatters corresponding pairs over different bins
    // and tilts the frames derived from them) and the point-to-plane fit
    // converges slowly on them. On coarse, smooth scans (1.6 mm spacing,
    // m = 0.55°) smoothing has little noise to remove, and wide kernels
    // bend the normals near the borders, where neighbouring views overlap:
    // they take 2 passes.
    int normalSmoothingPasses = 0;
  };

  // The smoothing that the scan list and the align command allow.
  static constexpr int kAlignmentNormalSmoothingPasses = 8;
  // Normal noise (median neighbour angle, radians) that one pass is taken for.
  static constexpr float kNormalNoisePerPass = 0.35f * 3.14159265f / 180.f;

  Fragment() = default;
  virtual ~Fragment() = default;
  Fragment(const Fragment&) = delete;
  Fragment& operator=(const Fragment&) = delete;

  // Rebuilds the fragment from every mesh of geo. An empty scan gives an
  // empty fragment. False, with one "Error: ..." line on standard error and
  // an empty fragment, when a mesh with vertices has no normals.
  virtual bool Init(const v3d::Geo& geo, const InitOptions& options);
  virtual std::int32_t GetId() const { return m_id; }
  virtual void SetId(std::int32_t id) { m_id = id; }
  // A new random vertex order (Fisher–Yates; seed 0 takes the current time).
  virtual void Shuffle(std::uint64_t seed);

  std::int32_t GetNumVertices() const { return m_numVertices; }
  const std::vector<math::Vec3f>& GetPositions() const { return m_tree.GetPoints(); }
  const std::vector<math::Vec3f>& GetNormals() const { return m_normals; }
  const KDTree& GetTree() const { return m_tree; }
  const std::vector<std::uint32_t>& GetShuffledOrder() const { return m_shuffled; }
  const math::Vec3f& GetCentroid() const { return m_centroid; }
  float GetRadius() const { return m_radius; }
  // Mean edge length of the triangles (mm); radius / 200 without edges.
  float GetResolution() const { return m_resolution; }
  std::int32_t GetEdgeCount() const { return m_edgeCount; }
  bool GetNormalsInverted() const { return m_normalsInverted; }
  // With smoothing asked for: the median angle between a scan normal and
  // the mean of its edge neighbours' (radians), and the passes taken.
  float GetNormalNoise() const { return m_normalNoise; }
  int GetNormalSmoothingPasses() const { return m_normalSmoothingPasses; }

  // The next position in the shuffled order for the rating of coarse
  // alignment.
  std::int32_t GetRatingCursor() const { return m_ratingCursor; }
  void SetRatingCursor(std::int32_t cursor) { m_ratingCursor = cursor; }

  // Vertices to which sampling is restricted; empty when unrestricted.
  const std::vector<bool>& GetSelection() const { return m_selection; }
  void SetSelection(std::vector<bool> selection);
  // Vertices that fine alignment skips; empty when none.
  const std::vector<bool>& GetExclusion() const { return m_exclusion; }
  void SetExclusion(std::vector<bool> exclusion);
  bool IsExcluded(std::uint32_t i) const { return !m_exclusion.empty() && m_exclusion[i]; }

  // Surface-feature data (when prepared with useSurfaceFeatures).
  bool GetUseWeights() const { return m_useWeights; }
  const std::vector<float>& GetVertexWeights() const;
  const std::shared_ptr<SimilarityRating>& GetSimilarityRating() const { return m_vertexWeights; }
  const std::shared_ptr<VertexBinDistribution>& GetVertexBins() const { return m_vertexBins; }

  RelationTableOPP& GetPairTable() { return m_pairTable; }

  std::size_t GetNumSourceVertices() const { return m_numSourceVertices; }
  // −1 for a source index that is out of range or was skipped.
  std::int64_t ToFragmentIndex(std::uint64_t sourceIndex) const;
  std::uint64_t GetSourceIndex(std::uint32_t fragmentIndex) const;
  // The fragment vertices named by source indices as a membership set
  // (invalid and skipped indices are ignored).
  std::vector<bool> MakeVertexSet(const std::vector<std::uint32_t>& sourceIndices) const;

 private:
  void Reset();
  // meshVertices[m][i]: fragment index of vertex i of mesh m, −1 when skipped.
  void SmoothNormals(const v3d::Geo& geo, const std::vector<std::vector<std::int32_t>>& meshVertices,
                     int maxPasses);
  void SelectTextureFeatures(const v3d::Geo& geo, const img::RGBImage& texture, int percentage);

  std::vector<math::Vec3f> m_normals;
  KDTree m_tree;
  std::int32_t m_numVertices = 0;
  std::vector<std::uint32_t> m_shuffled;
  math::Vec3f m_centroid;
  float m_radius = 0.f;
  float m_resolution = 0.f;
  std::int32_t m_ratingCursor = 0;
  std::int32_t m_id = -1;
  std::int32_t m_edgeCount = 0;
  std::vector<bool> m_selection;
  std::vector<bool> m_exclusion;
  std::shared_ptr<VertexBinDistribution> m_vertexBins;
  std::shared_ptr<SimilarityRating> m_vertexWeights;
  bool m_useWeights = false;
  bool m_normalsInverted = false;
  float m_normalNoise = 0.f;
  int m_normalSmoothingPasses = 0;
  RelationTableOPP m_pairTable;
  // Source index of each fragment vertex; empty when none was skipped.
  std::vector<std::uint64_t> m_sourceIndex;
  std::size_t m_numSourceVertices = 0;
};

}  // namespace surf
