#include "v3d/DataTipListener.h"

#include <cstdlib>
#include <iostream>

#include "v3d/Display.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

constexpr Color4ub kLabelBox{0x1E, 0x1E, 0x1E, 0xB4};
constexpr std::int32_t kEscape = 27;
constexpr std::int32_t kClickTolerance = 3;  // pixels between press and release

}  // namespace

DataTipListener::DataTipListener() : Renderable("DataTipListener") { SetRenderLayer(kLayerMarkers); }

DataTipListener::~DataTipListener() {
  Scene* scene = GetScene();
  if (scene && scene->HasDrawControl()) scene->GetDrawControl().GetDefaultCanvas()->ClearLayer(GetCanvasLayer());
}

bool DataTipListener::NewPickingSequence(std::int32_t n) {
  CancelPicking();
  if (n < 1) return false;
  for (std::int32_t i = 0; i < n; ++i) m_activePicks.push_back(DataTipPick());
  if (OnPickRequest(m_activePicks)) return true;
  CancelPicking();
  return false;
}

void DataTipListener::Commit(DataTipPick& pick) {
  DataTip* tip = pick.tip;
  if (!tip) return;
  OnPickCommitted(pick);
  if (pick.deleteOnCommit) {
    pick.tip = nullptr;
    RemoveDataTip(tip->GetNodeID());
    return;
  }
  Scene* scene = GetScene();
  if (scene && tip->GetScene() == scene) {
    Node* parent = scene->GetNode(pick.parentID);
    if (parent && parent != tip->GetParent()) {
      scene->RemoveNode(tip);
      scene->AddNode(tip, parent, true);
    }
  }
  tip->SetPosition(pick.position);
  tip->SetPositionMetaData(pick.metaData);
  if (tip->IsEdited()) {
    tip->SetEdited(false);
    if (scene) scene->Redraw();
  }
  pick.tip = nullptr;
}

void DataTipListener::CancelPicking() {
  // Committing may remove tips, which edits both lists: take them first.
  std::list<DataTipPick> second, active;
  second.swap(m_secondPicks);
  active.swap(m_activePicks);
  for (DataTipPick& pick : second) Commit(pick);
  for (DataTipPick& pick : active) Commit(pick);
  if (Scene* scene = GetScene()) scene->Redraw();
}

DataTip* DataTipListener::GetDataTip(std::int32_t nodeID) const {
  if (nodeID < 0 || nodeID >= Scene::MAX_NUM_NODES || !GetScene()) return nullptr;
  return dynamic_cast<DataTip*>(GetScene()->GetNode(nodeID));
}

DataTip* DataTipListener::NewDataTip(const math::Vec3f& position, std::int32_t parentID,
                                     const PositionMetaData& metaData) {
  Scene* scene = GetScene();
  if (!scene) {
    std::cerr << "Error in DataTipListener::NewDataTip: Invalid scene pointer.\n";
    return nullptr;
  }
  Geo* parent = parentID >= 0 && parentID < Scene::MAX_NUM_NODES ? dynamic_cast<Geo*>(scene->GetNode(parentID))
                                                                   : nullptr;
  if (!parent) {
    std::cerr << "Error in DataTipListener::NewDataTip: Could not find parent node with ID " << parentID << "\n";
    return nullptr;
  }
  DataTip* tip = CreateDataTip();
  if (!tip || !scene->AddNode(tip, parent, true)) {
    delete tip;
    std::cerr << "Error in DataTipListener::NewDataTip: Creation of data tip failed.\n";
    return nullptr;
  }
  m_dataTips.insert(tip->GetNodeID());
  tip->SetPosition(position);
  tip->SetPositionMetaData(metaData);
  return tip;
}

void DataTipListener::RemoveDataTip(std::int32_t nodeID) {
  OnDataTipRemoved(nodeID);
  DataTip* tip = GetDataTip(nodeID);
  for (auto* list : {&m_secondPicks, &m_activePicks}) {
    list->remove_if([&](const DataTipPick& pick) { return tip && pick.tip == tip; });
  }
  m_dataTips.erase(nodeID);
  if (tip && tip->GetScene() == GetScene()) GetScene()->DeleteNodeRecursive(tip);
}

bool DataTipListener::DeleteDataTip(std::int32_t nodeID) {
  if (!m_dataTips.count(nodeID)) return false;
  RemoveDataTip(nodeID);
  return true;
}

void DataTipListener::DeleteAllDataTips() {
  CancelPicking();
  for (std::int32_t id : std::vector<std::int32_t>(m_dataTips.begin(), m_dataTips.end())) RemoveDataTip(id);
}

std::string DataTipListener::GetCountdownLabel() const {
  if (m_activePicks.empty() || m_countdownText.empty()) return "";
  const std::size_t remaining = m_activePicks.size();
  if (m_countdownText == "default") return std::to_string(remaining);
  std::vector<std::string> segments;
  std::size_t open = m_countdownText.find('{');
  while (open != std::string::npos) {
    const std::size_t close = m_countdownText.find('}', open + 1);
    if (close == std::string::npos) break;
    segments.push_back(m_countdownText.substr(open + 1, close - open - 1));
    open = m_countdownText.find('{', close + 1);
  }
  return remaining - 1 < segments.size() ? segments[remaining - 1] : "";
}

bool DataTipListener::PickAt(std::int32_t x, std::int32_t y) {
  Scene* scene = GetScene();
  Display* display = scene ? scene->GetDisplay() : nullptr;
  if (!display || m_activePicks.empty()) return false;
  SurfacePick hit;
  if (!display->PickSurface(x, y, m_pickRadius2D, hit)) return false;
  PositionMetaData metaData;
  metaData.meshIndex = hit.meshIndex;
  metaData.primIndex = hit.primIndex;
  const math::Vec3f position(hit.local);
  DataTip* tip = NewDataTip(position, hit.nodeID, metaData);
  if (!tip) return false;
  tip->SetEdited(true);
  DataTipPick pick = m_activePicks.front();
  m_activePicks.pop_front();
  pick.tip = tip;
  pick.deleteOnCommit = false;
  pick.position = position;
  pick.metaData = metaData;
  pick.parentID = hit.nodeID;
  m_secondPicks.push_back(pick);
  if (m_activePicks.empty()) CancelPicking();  // the sequence is complete: commit it
  return true;
}

bool DataTipListener::OnEvent(const Event& event) {
  if (!IsPickingInProgress()) return false;
  if (event.kind == kEventKey && event.key == kEscape) {
    CancelPicking();
    return true;
  }
  if (event.kind != kEventMouse) return false;
  m_cursorX = event.x;
  m_cursorY = event.y;
  if (event.subKind == kMouseMove) {
    if (GetScene()) GetScene()->Redraw();  // the label follows the cursor
    return false;
  }
  if (event.key != 0) return false;  // the left button only
  if (event.subKind == kMouseButtonDown) {
    m_pressed = true;
    m_pressX = event.x;
    m_pressY = event.y;
    return false;
  }
  if (event.subKind == kMouseButtonUp && m_pressed) {
    m_pressed = false;
    if (std::abs(event.x - m_pressX) > kClickTolerance || std::abs(event.y - m_pressY) > kClickTolerance) {
      return false;  // a drag, not a click
    }
    PickAt(event.x, event.y);
    return true;
  }
  return false;
}

void DataTipListener::DrawLabel(float x, float y, const std::string& text) {
  Canvas* canvas = GetScene()->GetDrawControl().GetDefaultCanvas();
  float width = 0.f, height = 0.f;
  canvas->MeasureString(text, width, height);
  if (height <= 0.f) return;  // the canvas has no font
  canvas->SetLayer(GetCanvasLayer());
  canvas->SetPenColor(kLabelBox);
  canvas->DrawRect(x, y, width + 8.f, height + 4.f);
  canvas->SetPenColor({255, 255, 255, 255});
  canvas->DrawString(x + 4.f, y + 2.f, text);
}

void DataTipListener::Render(const RenderPass& pass) {
  Scene* scene = GetScene();
  if (!scene || pass.layer != GetRenderLayer()) return;
  scene->GetDrawControl().GetDefaultCanvas()->ClearLayer(GetCanvasLayer());
  const std::string label = GetCountdownLabel();
  if (!label.empty()) DrawLabel(m_cursorX + 10.f, m_cursorY + 10.f, label);
}

}  // namespace v3d
