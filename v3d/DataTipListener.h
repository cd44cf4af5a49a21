#pragma once

#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "v3d/DataTip.h"
#include "v3d/Geo.h"

namespace v3d {

// One requested pick of a picking sequence.
struct DataTipPick {
  DataTip* tip = nullptr;       // the tip being placed, or none
  bool deleteOnCommit = true;   // commit removes the tip (nothing was picked)
  math::Vec3f position;         // in the parent's coordinates (mm)
  PositionMetaData metaData;
  std::int32_t parentID = -1;   // node ID of the parent, -1 = none
};

// A renderable node of the scene that runs picking sequences: the user
// clicks surface points, each click within the pick radius of a surface of
// the scene layer places a data tip there, below the Geo that was hit. The
// listener keeps the set of tips it created.
//
// Register it for events (Scene::RegisterNodeForEvents) to let it pick.
// While picking, a left click (press and release within 3 pixels) picks,
// Escape (key 27) cancels, and a label at the cursor counts down the picks
// still to come. Not thread-safe (viewer data, LockGuard).
class DataTipListener : public Renderable {
 public:
  DataTipListener();
  ~DataTipListener() override;

  // Cancels any picking in progress; n < 1 gives false. Otherwise asks for
  // n picks (OnPickRequest) and returns whether picking started.
  bool NewPickingSequence(std::int32_t n);
  // Commits the records of the second list, then those of the active list.
  void CancelPicking();
  bool IsPickingInProgress() const { return !m_activePicks.empty(); }
  const std::list<DataTipPick>& GetActivePicks() const { return m_activePicks; }
  const std::list<DataTipPick>& GetSecondPicks() const { return m_secondPicks; }

  std::size_t GetNumDataTips() const { return m_dataTips.size(); }
  // Ascending.
  std::vector<std::int32_t> GetDataTipNodeIDs() const { return {m_dataTips.begin(), m_dataTips.end()}; }
  // The tip with that node ID; null for IDs of 1024 or more, without a
  // scene, or for a node of another type.
  DataTip* GetDataTip(std::int32_t nodeID) const;
  // Cancels picking, then removes every tip of the set.
  void DeleteAllDataTips();
  // Removes one tip of the set (see RemoveDataTip).
  bool DeleteDataTip(std::int32_t nodeID);

  void SetPickRadius2D(float radius) { m_pickRadius2D = radius; }
  float GetPickRadius2D() const { return m_pickRadius2D; }
  // "default": the label is the number of picks still to come; otherwise
  // the segments in braces ("{first}{second}") name them, by that number
  // minus one; an empty text shows no label.
  void SetDrawCountdownSequence(const std::string& text) { m_countdownText = text; }
  // The label at the cursor now; empty for none.
  std::string GetCountdownLabel() const;

  // Creates a tip at position (parent's coordinates) below the Geo with that
  // node ID, adds it to the scene (which owns it) and to the set. Null, with
  // an "Error in DataTipListener::NewDataTip: …" line, when that fails.
  DataTip* NewDataTip(const math::Vec3f& position, std::int32_t parentID, const PositionMetaData& metaData = {});

  bool OnEvent(const Event& event) override;
  void Render(const RenderPass& pass) override;

 protected:
  // Asked when a sequence starts; the base accepts when the listener is in a scene.
  virtual bool OnPickRequest(std::list<DataTipPick>& picks) { return GetScene() != nullptr; }
  // The factory of new tips.
  virtual DataTip* CreateDataTip() { return new DataTip(); }
  // Told before a tip of the set is removed, and when a pick is committed.
  virtual void OnDataTipRemoved(std::int32_t nodeID) {}
  virtual void OnPickCommitted(const DataTipPick& pick) {}
  // Removes a tip: notifies, drops the pick records that refer to it, erases
  // it from the set and deletes it from the scene.
  void RemoveDataTip(std::int32_t nodeID);
  // Picks at the cursor for the first active record; true when a tip was placed.
  bool PickAt(std::int32_t x, std::int32_t y);
  // The canvas layer this node draws its labels in.
  std::int32_t GetCanvasLayer() const { return 1000 + GetNodeID(); }
  // Draws a label on a dark box at a pixel of the default canvas.
  void DrawLabel(float x, float y, const std::string& text);

 private:
  void Commit(DataTipPick& pick);

  std::list<DataTipPick> m_secondPicks;
  std::list<DataTipPick> m_activePicks;
  std::set<std::int32_t> m_dataTips;
  std::string m_countdownText = "default";
  float m_pickRadius2D = 10.f;
  std::int32_t m_cursorX = 0, m_cursorY = 0;
  std::int32_t m_pressX = 0, m_pressY = 0;
  bool m_pressed = false;
};

}  // namespace v3d
