#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "surf/files/ProjectFile.h"
#include "surf/measure/Comparison.h"
#include "surf/measure/MeasureTree.h"
#include "surf/measure/ReferenceMarker.h"
#include "v3d/Scene.h"

namespace surf {

// The measurement module: compares a test object with a reference object
// (two geos of a scene, named by node ID, −1 for none), shows the deviations
// as vertex colours of the test object and markers of the planes and
// spheres found on it, writes the text report, keeps reference markers
// that show the local distance to the other object, and point-to-point
// distances A–B. Its state goes into the project container as a "measure"
// tree (ProjectItemModule).
//
// Runs on the shell's thread; every access to the scene takes the viewer
// lock (v3d::LockGuard). The change counter grows with every change.
class Measure : public ProjectItemModule {
 public:
  static constexpr float kDefaultTolerance = 0.1f;

  // Two picked points, each on a parent geo (node ID) in its coordinates.
  struct DistanceAB {
    std::int32_t parentA = -1, parentB = -1;
    math::Vec3f positionA, positionB;
  };

  explicit Measure(v3d::Scene& scene);
  ~Measure() override;
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;

  // Back to the start: no objects, the default tolerance, no markers,
  // distances or comparison (markers are deleted from the scene).
  void InitMeasure();
  void SyncShowColorBar(bool show);
  bool GetShowColorBar() const { return m_showColorBar; }

  // IDs below −1 count as −1. A new reference object becomes the only entry
  // of the view (none for −1), every marker is deleted, the scene's redraw
  // ID and the change counter grow and the markers are updated (forced).
  void SetReferenceObject(std::int32_t nodeID);
  v3d::Geo* GetReferenceObject() const { return ResolveGeo(m_referenceID); }
  std::int32_t GetReferenceObjectNodeID() const { return m_referenceID; }
  // A new test object updates the markers, discards the shown comparison
  // (the old test object gets its own colours back) and counts a change.
  void SetTestObject(std::int32_t nodeID);
  v3d::Geo* GetTestObject() const { return ResolveGeo(m_testID); }
  std::int32_t GetTestObjectNodeID() const { return m_testID; }
  // The node IDs the deviation display shows.
  const std::vector<std::int32_t>& GetViewNodeIDs() const { return m_viewNodeIDs; }

  ReferenceMarkerListener& GetReferenceMarkerListener() { return m_listener; }
  // A marker at position (coordinates of the geo parentID) with its distance
  // to the other object; null (and the listener's message) when it cannot
  // be made.
  ReferenceMarker* AddReferenceMarker(const math::Vec3f& position, std::int32_t parentID);
  std::size_t GetNumReferenceMarkers() const { return m_markerIDs.size(); }
  ReferenceMarker* GetReferenceMarker(std::size_t index) const;
  void DeleteSelectedReferenceMarkers();
  // Recomputes each marker's signed distance to the surface of the other
  // object (markers on the test object measure to the reference and the
  // others to the test object: the closest point of its triangles, signed
  // by its normals there), valid when |distance| ≤ tolerance, and its
  // label. Without force only markers not yet measured at the current
  // tolerance and objects are measured.
  void UpdateReferenceMarkers(bool force);

  // When both objects exist and a comparison is shown: a different
  // comparison key (the objects changed, moved or were replaced) updates the
  // markers (forced) and discards the comparison.
  void CheckComparisonValid();
  // The key of the objects' current states (test first), empty without both.
  std::string MakeComparisonKey() const;
  const std::string& GetComparisonKey() const { return m_comparisonKey; }

  // t in mm; throws std::invalid_argument unless t is a number above 0.
  void SyncComparisonTolerance(float tolerance);
  float GetComparisonTolerance() const { return m_tolerance; }

  void SetReportPath(const std::filesystem::path& path) { m_reportPath = path; }
  const std::filesystem::path& GetReportPath() const { return m_reportPath; }

  struct CompareOptions {
    DeviationMethod method = DeviationMethod::kVertex;
    bool detectFeatures = true;
    utils::ProgressCallback progress;
  };
  // Compares the test object with the reference object (both must be geos;
  // otherwise nothing happens and the result is false): deviations and
  // features (CompareObjects), the test object's vertex colours on the
  // deviation ramp, one marker per feature below the test object, the report
  // at the report path (when one is set) and the comparison key. False also
  // when cancelled (nothing is shown then) or the report cannot be written.
  bool Compare(const CompareOptions& options);
  bool Compare() { return Compare(CompareOptions{}); }
  // The shown comparison, or null.
  const Comparison* GetComparison() const { return m_comparison.get(); }
  // The report of the shown comparison (empty data without one).
  MeasureReportData GetReportData() const;
  // The feature markers of the shown comparison: planes first, then spheres.
  std::vector<ReferenceMarker*> GetFeatureMarkers() const;

  // Adds a distance between two picked points; its index, or −1 when a
  // parent is not a geo of the scene.
  int AddDistanceAB(const math::Vec3f& positionA, std::int32_t parentA,
                    const math::Vec3f& positionB, std::int32_t parentB);
  void DeleteDistancesAB();
  const std::vector<DistanceAB>& GetDistancesAB() const { return m_distances; }
  // The length of distance i in world coordinates; nullopt when a parent is
  // gone.
  std::optional<double> GetDistanceABLength(std::size_t i) const;

  std::int32_t GetChangeCounter() const { return m_changeCounter; }

  // The project item interface: one "measure" tree.
  std::string GetProjectItemType() const override { return "Measure"; }
  std::size_t GetNumProjectItems() const override { return 1; }
  utils::ChunkNode::Ptr GetProjectItem(std::size_t i) const override;
  bool TakesProjectItem(const std::string& rootName) const override {
    return rootName == kMeasureRoot;
  }
  // Objects and parents are found by guid among the scene's geos; markers
  // whose parent is missing are left out with the listener's message.
  void LoadProjectItem(const utils::ChunkNode& tree) override;

 private:
  v3d::Geo* ResolveGeo(std::int32_t nodeID) const;
  std::int32_t FindGeoByGuid(const std::optional<utils::Guid>& guid) const;
  std::optional<utils::Guid> GuidOf(std::int32_t nodeID) const;
  void DiscardComparison();
  void MeasureMarker(ReferenceMarker& marker);
  void Changed() { ++m_changeCounter; }

  v3d::Scene& m_scene;
  ReferenceMarkerListener m_listener;
  std::int32_t m_referenceID = -1;
  std::int32_t m_testID = -1;
  float m_tolerance = kDefaultTolerance;
  bool m_showColorBar = false;
  std::vector<std::int32_t> m_viewNodeIDs;
  std::vector<std::int32_t> m_markerIDs;   // the user's reference markers
  std::vector<std::int32_t> m_featureIDs;  // markers of the shown comparison's features
  // The state each reference marker was last measured against.
  std::vector<std::string> m_markerKeys;
  std::vector<DistanceAB> m_distances;
  std::string m_comparisonKey;
  std::filesystem::path m_reportPath;
  std::unique_ptr<Comparison> m_comparison;
  MeasureReportData m_reportData;
  // The test object's own vertex colours while the comparison's are shown
  // (per mesh: had colours, and which).
  std::int32_t m_colouredID = -1;
  std::vector<std::optional<std::vector<v3d::Color4ub>>> m_savedColors;
  std::int32_t m_changeCounter = 0;
};

}  // namespace surf
