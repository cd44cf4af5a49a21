#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "foundation/math/Vec.h"
#include "v3d/Color.h"
#include "v3d/Geo.h"
#include "v3d/Scene.h"

namespace surf {

// A marker on the surface of a scan that shows the local distance to the
// other object of a measurement: a node below the geo it sits on, at a
// position in that geo's coordinates (its frame is the translation to the
// position). Its label is the distance as text, prefixed by three blanks,
// drawn white on a box of colour kLabelBackground; a label colour other than
// zero adds a swatch of that colour beside the text.
class ReferenceMarker : public v3d::Geo {
 public:
  // Alpha 0xB4 over grey 0x1E, as 0xAARRGGBB.
  static constexpr std::uint32_t kLabelBackground = 0xB41E1E1E;

  ReferenceMarker();

  const math::Vec3f& GetPosition() const { return m_position; }
  void SetPosition(const math::Vec3f& position);

  float GetDistance() const { return m_distance; }
  bool IsDistanceValid() const { return m_distanceValid; }
  // The tolerance the validity was judged against (mm).
  float GetTolerance() const { return m_tolerance; }
  v3d::Color4ub GetLabelColor() const { return m_labelColor; }
  const std::string& GetLabelText() const { return m_labelText; }

  // A signed distance (mm) judged against tolerance: valid when
  // |distance| ≤ tolerance; the label shows it with its sign in mm to three
  // decimals ("   +0.012 mm") and takes its colour on the deviation ramp.
  void SetDistance(float distance, float tolerance);
  // Restores stored values without judging them again.
  void SetStoredDistance(float distance, bool valid, float tolerance);
  // No distance: label "   no surface", no swatch.
  void ClearDistance(float tolerance);
  // A label of its own (feature markers), no swatch unless a colour is given.
  void SetLabel(const std::string& text, v3d::Color4ub color = {0, 0, 0, 0});

 private:
  math::Vec3f m_position;
  float m_distance = 0.f;
  bool m_distanceValid = false;
  float m_tolerance = 0.f;
  v3d::Color4ub m_labelColor{0, 0, 0, 0};
  std::string m_labelText;
};

// Creates reference markers below the geos of a scene and keeps the set of
// the markers it created (their node IDs). The scene owns the markers.
class ReferenceMarkerListener {
 public:
  explicit ReferenceMarkerListener(v3d::Scene* scene) : m_scene(scene) {}
  ReferenceMarkerListener(const ReferenceMarkerListener&) = delete;
  ReferenceMarkerListener& operator=(const ReferenceMarkerListener&) = delete;

  // A new marker at position (parent coordinates) below the geo with node ID
  // parentID, or null after one line on standard error: "Error in
  // DataTipListener::NewDataTip: Invalid scene pointer." without a scene,
  // "... Could not find parent node with ID " + ID when no geo has that ID,
  // "... Creation of data tip failed." when the scene cannot take it.
  ReferenceMarker* NewDataTip(const math::Vec3f& position, std::int32_t parentID);
  // Removes the marker from the set and deletes it from the scene.
  void RemoveDataTip(std::int32_t nodeID);
  void DeleteAllDataTips();

  std::size_t GetNumDataTips() const { return m_tips.size(); }
  // Ascending.
  std::vector<std::int32_t> GetDataTipNodeIDs() const { return {m_tips.begin(), m_tips.end()}; }
  // The marker with that node ID if this listener made it, else null.
  ReferenceMarker* GetDataTip(std::int32_t nodeID) const;
  // The marker at index i of GetDataTipNodeIDs, or null.
  ReferenceMarker* GetReferenceMarker(std::size_t index) const;

 private:
  v3d::Scene* m_scene;
  std::set<std::int32_t> m_tips;
};

}  // namespace surf
