#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Frame.h"
#include "foundation/utils/ChunkNode.h"
#include "foundation/utils/Progress.h"
#include "surf/fusion/FrameUndo.h"
#include "surf/mesh/GeoItem.h"
#include "surf/files/ImportOptions.h"
#include "surf/files/MeshFormats.h"
#include "surf/files/ProjectFile.h"
#include "surf/align/Registration.h"
#include "surf/fusion/ScanColors.h"
#include "v3d/Display.h"
#include "v3d/Scene.h"

namespace surf {

// Render flag bits that the display switches set on the scan and fusion
// result nodes: textures, a second drawing of each surface for its edges and
// a third for its normals.
inline constexpr std::uint32_t kRenderShowTextures = 1;
inline constexpr std::uint32_t kRenderShowEdges = 2;
inline constexpr std::uint32_t kRenderShowNormals = 4;

// The view's parameter block.
struct ViewParams {
  // Caps the larger side of every uploaded texture (0: no cap).
  std::int32_t textureResolutionLimit = 0;
};

// The scan list's parameter block (from the shell's settings).
struct ShapeFusionParams {
  // Seed of alignment: of the search engine, and (plus the scan index) of
  // each fragment's random vertex order. 0 takes the current time.
  std::uint64_t seed = 0;
  // The percentage of vertices the texture restriction of coarse alignment
  // drops (0…99).
  int useTexturePercentage = 80;
  // Global fine registration (iterations from the shell's setting).
  GlobalFineParams globalFine;
  // Memory the fusion may use (bytes); 0: what the system has available.
  // A resolution whose reconstruction would need more is refused with a
  // message instead of running out of memory.
  std::uint64_t fusionMemoryLimit = 0;
};

// How scans are prepared for a pairwise alignment.
struct FragmentOptions {
  // Sample only vertices at strong texture edges (scans with a texture).
  bool useTexture = false;
  // Weight rare surface features.
  bool useSurfaceFeatures = false;
  // Smooth the fragments' normals (Fragment::InitOptions); 0: the scans'
  // vertex normals as they are.
  int normalSmoothingPasses = Fragment::kAlignmentNormalSmoothingPasses;
};

// The scan list behind the shell: the scans, each a v3d::Geo placed as a
// node below the root of the list's scene with its textures in the scene's
// texture slots, one alignment fragment per scan in the same order, the
// fusion result and its unfiltered triangle list, the palette index of each
// scan, the alignment state of the last pair, and the undo history of the
// node frames. A scan's fragment starts empty and is built by the
// registrations (keepPrepared false, or a pair not prepared before).
//
// Scan index i names scan i of the list; index -1 names the fusion result
// where an operation says so. Operations given a scan index that names no
// scan throw std::out_of_range ("ShapeFusion::Method - Invalid scan index
// i."), except the look-ups (null or -1), SaveGeo_zentomesh and the
// registrations, which report failure by their results.
//
// Inside the scene a mesh's texture ID is the scene slot of its texture;
// items handed in (AddGeo) and out (ExportScanListData) use item-local IDs
// (see GeoItem). Every change increments the scene's redraw ID (never 0);
// structural edits and node-state changes take the viewer lock
// (v3d::LockGuard). Not thread-safe otherwise: the shell must not edit the
// list while an alignment runs on a worker thread.
class ShapeFusion {
 public:
  static constexpr int kFusionResultIndex = -1;
  // NodeID2GeoIndex of a node that is neither a scan nor the fusion result.
  static constexpr int kNoGeo = -2;

  ShapeFusion();
  virtual ~ShapeFusion();
  ShapeFusion(const ShapeFusion&) = delete;
  ShapeFusion& operator=(const ShapeFusion&) = delete;

  v3d::Scene& GetScene() { return *m_scene; }
  const v3d::Scene& GetScene() const { return *m_scene; }
  // Attaches the view's display to the scene (null detaches it).
  void SetV3dClientWnd(v3d::Display* display);
  void Set3DViewParams(const ViewParams& params);
  // Also starts the alignment state afresh (best score, prepared pair).
  void SetShapeFusionParams(const ShapeFusionParams& params);
  const ShapeFusionParams& GetShapeFusionParams() const { return m_params; }

  // --- Adding and storing scans

  // A mesh file (by extension: ".zentomesh"/".tarvelinmesh", ".stl", else
  // OBJ). Returns the new scan's index; -1 for an empty path; -2, with
  // "Mesh file could not be loaded!" printed, when it cannot be read;
  // kAddedFusionResult when the file holds a fusion result, which then
  // replaces the current one. Triangle meshes without normals get vertex
  // normals.
  int AddGeo(const std::filesystem::path& path, const ImportOptions& options = {});
  // One triangle mesh of 3 floats per vertex, 3 indices per triangle and,
  // when given one pair per vertex, texture coordinates (u, v); vertex
  // normals are computed. Prints "Generate geometry..." and "done.\n". An
  // empty name gives "Scan_" and a running number (from 1). -1, with an
  // error line, without vertices or triangles.
  int AddGeo(const std::vector<float>& vertices, const std::vector<std::uint32_t>& indices,
             const std::vector<float>& textureCoordinates, const std::string& name = {});
  // An existing geo with its textures (item-local texture IDs); the list
  // shares them from now on. Throws std::invalid_argument for a null geo or
  // one that is already in a scene.
  int AddGeo(GeoItem item);

  // Writes scan geoIndex, or the fusion result for -1, as a single-object
  // mesh file; an index outside the list prints "ERROR: Invalid geoIndex << "
  // and the index. False on any failure.
  bool SaveGeo_zentomesh(const std::filesystem::path& path, int geoIndex) const;
  // Reads a project container: its scans are appended, its fusion result,
  // unfiltered triangle list and colour map replace the current ones when
  // the project has them. False (messages on standard error) with the list
  // unchanged when the project cannot be read. Trees of other modules go to
  // the first module that takes them, after the scans are in the list; a
  // tree a module cannot read is left out with an error line, the rest of
  // the project stays loaded.
  bool LoadProject(const std::filesystem::path& path, const std::vector<ProjectItemModule*>& modules = {});
  // Writes the project container of the whole list (surf::SaveProject).
  bool SaveProject(const std::filesystem::path& path, const ProjectSaveOptions& options = {}) const;

  // The item interface of the project container (surf::GetProjectItem and
  // surf::LoadProjectItem over this list). LoadProjectItem throws the chunk
  // exceptions, leaving the list unchanged.
  std::size_t GetNumProjectItems() const;
  utils::ChunkNode::Ptr GetProjectItem(std::size_t i) const;
  void LoadProjectItem(const utils::ChunkNode& tree);

  // The list as detached items sharing the geos and textures; each item's
  // texture list is indexed by scene slot, so that its meshes' texture IDs
  // stay valid item-local IDs. For writing only: the items must not be added
  // to a scene.
  ScanListData ExportScanListData() const;

  // --- Editing the list (fragments and colours follow)

  // A copy of the scan (its own geo, guid and textures) appended to the list
  // with the name + "_copy"; returns its index.
  int DuplicateGeo(int index);
  void RemoveGeo(int index);
  void SwapGeoIndices(int i, int j);
  // Negates the scan's normals and reverses the winding of its triangles and
  // quads; toggles its "normals inverted" flag.
  void InvertNormals(int index);
  bool GetNormalsInverted(int index) const;

  // Gives every mesh of scan index (-1: the fusion result) the image as its
  // texture, replacing the one it had; an empty image removes the texture.
  // True when the scan has the texture afterwards (false also when the
  // scene's 256 texture slots are full, with an error line).
  bool AddTexture(int index, const img::RGBImage& image);
  void RemoveTexture(int index);
  bool HasTexture(int index) const;
  // The texture of the first textured mesh in blue-green-red order; empty
  // when there is none.
  img::RGBImage GetTextureImage(int index) const;

  // --- Look-ups (scan index -1 is the fusion result)

  // kFusionResultIndex for the fusion result's node, kNoGeo for any other
  // node that is not a scan.
  int NodeID2GeoIndex(std::int32_t nodeID) const;
  // -1 for an index that names nothing.
  std::int32_t GeoIndex2NodeID(int index) const;
  // Null for an index that names nothing.
  v3d::Geo* GetGeo(int index) const;
  v3d::Geo* GetGeoByNodeID(std::int32_t nodeID) const;
  Fragment* GetFragment(int index) const;
  int GetNumGeos() const { return static_cast<int>(m_scans.size()); }

  // Merges the scans (at least two distinct indices) into one scan at the
  // place of the lowest index, in the frame of the first one given: each
  // mesh of each scan becomes one mesh of the new scan with its attributes
  // (normals rotated into the new frame) and texture. The new scan keeps the
  // first scan's name and colour. Returns its index.
  int CombineGeos(const std::vector<int>& indices);
  // Splits a scan of several meshes into one scan per mesh, in mesh order at
  // the scan's place, named name + "_" + (mesh number from 1); the first
  // keeps the scan's colour. Returns the number of new scans (0 for a scan
  // of fewer than two meshes, which stays as it is).
  int UncombineGeo(int index);
  // Moves the scan along +x so that its bounding box (in the root's
  // coordinates) starts a tenth of its largest extent beyond the union of the
  // other scans' boxes, centred on them in y and z. False, with nothing
  // moved, when the scan or all the others are empty.
  bool MoveToFreePosition(int index);

  // --- Alignment (surf/Registration.h on the scans' nodes and fragments)

  // Coarse alignment of scan indexA onto scan indexB; moves A's node frame.
  // Returns the score, 0 for fewer than two scans, invalid or equal indices
  // (with an error line), fragments that cannot be built (a scan without
  // normals) or no result.
  double CoarseRegistration(int indexA, int indexB, bool keepPrepared, const CoarseRegistrationParams& params,
                            const FragmentOptions& options = {}, const utils::ProgressCallback& progress = {});
  // ICP of A onto B from the last coarse result or the current poses; an
  // invalid record under the same conditions as above.
  PairAlignmentInfo FineRegistration(int indexA, int indexB, bool keepPrepared, const IcpParams& params = {},
                                     const FragmentOptions& options = {});
  // Joint refinement of all scans enabled for it (IsEnabledForGlobalAlignment),
  // with the parameter block's globalFine settings or the given ones.
  GlobalFineResult GlobalFineRegistration(const utils::ProgressCallback& progress = {});
  GlobalFineResult GlobalFineRegistration(const GlobalFineParams& params,
                                          const utils::ProgressCallback& progress = {});
  // The last coarse alignment's best score and transform (A into B).
  double GetBestScore() const { return m_registration->GetState().bestScore; }
  const math::Frame4d& GetBestTransform() const { return m_registration->GetState().bestTransform; }

  // --- Node state (scan index -1 is the fusion result)

  void SetGeoSelected(int index, bool selected);
  // The visibility state (node visibility mask): a scan takes part in fusion
  // when it is non-zero.
  void SetGeoVisibility(int index, std::uint32_t state);
  void SetGlobalVisibility(std::uint32_t mask);
  // parent_T_scan.
  void SetGeoFrame(int index, const math::Frame4d& frame);
  // Moves scan index to the next palette index of lowest usage; returns it.
  int ChangeGeoColor(int index);
  // The scan's palette index, -1 when it has none.
  int GetGeoColorIndex(int index) const;
  const ScanColorMap& GetColorMap() const { return m_colors; }

  // Display switches: set or clear their render flag on every scan and the
  // fusion result, and on scans added later.
  void SyncShowTextures(bool on);
  void SyncShowNormals(bool on);
  void SyncShowEdges(bool on);
  std::uint32_t GetDisplayFlags() const { return m_displayFlags; }

  // --- Undo of node frames (scans and fusion result, by geo guid)

  void RememberCurrentFramesForUndo();
  bool Undo();
  bool Redo();
  std::size_t GetNumUndoSteps() const { return m_history.GetNumUndoSteps(); }
  std::size_t GetNumRedoSteps() const { return m_history.GetNumRedoSteps(); }

  // The program version recorded with the project data (kept in memory;
  // the container's outer trees are the shell's).
  void UpdateVersionInfo(const std::string& version) { m_versionInfo = version; }
  const std::string& GetVersionInfo() const { return m_versionInfo; }

  // --- Fusion

  // Fuses the visible scans (node visibility non-zero) into one closed mesh
  // by screened Poisson reconstruction (surf::Fusion) at the resolution,
  // smooths it smoothingPasses times, fuses the textures of the textured
  // scans onto it, and makes it the fusion result (colour 200, 200, 180,
  // visibility state 2, named resultName when given) with its full triangle
  // list kept for FilterFusionResult(holeClosingSize). ground adds and later
  // removes a ground plane under the scans (the scene's z = up);
  // reconstructionOption places iso-vertices by linear interpolation;
  // sharpness is the screening weight. Progress: 0…0.05 gathering, 0.05…0.7
  // reconstruction, 0.8…0.9 smoothing, 0.9…1.0 texture fusion; every report
  // may cancel.
  // Returns false on success; true when the fusion failed or was cancelled,
  // with the scan list and the previous result untouched.
  bool StartFusionPoisson(const utils::ProgressCallback& progress, int resolution, float holeClosingSize, bool ground,
                          bool reconstructionOption, float sharpness, int smoothingPasses,
                          const std::string& resultName);
  // Hole filtering: the result's triangles become those of the unfiltered
  // list whose vertices all have a support value ≥ −t (all of them for
  // t ≥ 1). Nothing without a result or an unfiltered list.
  void FilterFusionResult(double holeClosingSize);
  void ClearUnfilteredFusionResult();
  // The finest fusion cell (mm) for the resolution, from the world boxes of
  // the (visible) scans; 0 without scans or for a resolution fusion refuses.
  double CalculateFusionVoxelSize(int resolution, bool visibleOnly = true) const;

  // --- Mesh tools on one geo (scan index, or -1 for the fusion result),
  // each on every triangle mesh of it (surf/MeshEditing.h). Tools that
  // change the vertices of the fusion result drop its hole-filtering data.

  void ShrinkMesh(int index);
  void Smoothing(int index, bool recomputeNormals);
  void MakeDelaunay(int index);
  // Quadric-error decimation to keepFraction (0, 1] of the triangles.
  void SimplifyMesh(int index, double keepFraction);

  // --- The fusion result slot, filled by fusion

  // Replaces the fusion result by the item (item-local texture IDs); a null
  // geo removes it.
  void SetFusionResult(GeoItem item);
  const std::vector<std::uint32_t>& GetUnfilteredFusionTriangles() const { return m_unfilteredFusionTriangles; }
  void SetUnfilteredFusionTriangles(std::vector<std::uint32_t> triangles) {
    m_unfilteredFusionTriangles = std::move(triangles);
  }

 private:
  // A geo in the scene with the textures it holds slots for.
  struct Placed {
    std::shared_ptr<v3d::Geo> geo;
    std::vector<std::shared_ptr<v3d::Texture>> textures;
  };
  struct Scan : Placed {
    std::unique_ptr<Fragment> fragment;
    bool normalsInverted = false;
  };

  Placed* Find(int index);
  const Placed* Find(int index) const;
  Scan& At(int index, const char* method);
  Placed& PlacedAt(int index, const char* method);

  // Adds the item's geo and textures to the scene (IDs to slots).
  Placed Attach(GeoItem item);
  // Removes the geo and its textures from the scene.
  void Detach(Placed& placed);
  void DetachTextures(Placed& placed);
  int AppendScan(Placed placed, int position = -1);
  void MergeLoaded(ScanListData&& loaded, const std::optional<GeoItem>& previousResult);
  GeoItem ExportItem(const Placed& placed) const;
  void ApplyColors();
  void RenumberFragments();
  void ResetRegistration();
  void SetDisplayFlag(std::uint32_t flag, bool on);
  FrameSnapshot TakeFrames() const;
  void RestoreFrames(const FrameSnapshot& frames);
  AlignScan MakeAlignScan(int index, const FragmentOptions& options, img::RGBImage& texture);
  bool CheckPair(int indexA, int indexB, const char* method) const;
  void ApplyMeshTool(int index, const char* method, const std::function<void(MeshArrays&)>& tool);
  void Touch() { m_scene->Redraw(); }

  std::unique_ptr<v3d::Scene> m_scene;
  ShapeFusionParams m_params;
  ViewParams m_viewParams;
  std::unique_ptr<PairRegistration> m_registration;
  std::vector<Scan> m_scans;
  std::optional<Placed> m_fusionResult;
  std::vector<std::uint32_t> m_unfilteredFusionTriangles;
  ScanColorMap m_colors;
  FrameHistory m_history;
  std::uint32_t m_displayFlags = kRenderShowTextures;
  std::string m_versionInfo;
  int m_scanNumber = 0;
};

}  // namespace surf
