#include "v3d/LinkListener.h"

#include <cstdio>
#include <iostream>

#include "v3d/Display.h"
#include "v3d/Scene.h"

namespace v3d {

LinkListener::LinkListener() : m_lines(std::make_unique<Geo>()) {
  SetName("LinkListener");
  m_lines->SetName("LinkLines");
  m_lines->SetRenderLayer(kLayerMarkers);
}

Link* LinkListener::NewLink(const math::Vec3f& positionA, const math::Vec3f& positionB, std::int32_t parentA,
                            std::int32_t parentB) {
  DataTip* a = NewDataTip(positionA, parentA);
  DataTip* b = NewDataTip(positionB, parentB);
  if (!a || !b) {
    if (a) RemoveDataTip(a->GetNodeID());
    if (b) RemoveDataTip(b->GetNodeID());
    std::cerr << "Error in LinkListener::NewLink: Could not create one of the data tips.\n";
    return nullptr;
  }
  const std::int32_t id = m_nextLinkID++;
  Link& link = m_links[id];
  link.tipA = a->GetNodeID();
  link.tipB = b->GetNodeID();
  return &link;
}

std::vector<std::int32_t> LinkListener::GetLinkIDs() const {
  std::vector<std::int32_t> ids;
  for (const auto& [id, link] : m_links) ids.push_back(id);
  return ids;
}

Link* LinkListener::GetLink(std::int32_t id) {
  const auto it = m_links.find(id);
  return it == m_links.end() ? nullptr : &it->second;
}

void LinkListener::DeleteAllLinks() {
  for (std::int32_t id : GetLinkIDs()) m_links.erase(id);
}

void LinkListener::RemapLinkIDs() {
  std::map<std::int32_t, Link> renumbered;
  std::int32_t next = 0;
  for (const auto& [id, link] : m_links) renumbered[next++] = link;
  m_links.swap(renumbered);
  m_nextLinkID = next;
}

// A tip that goes takes its links with it.
void LinkListener::OnDataTipRemoved(std::int32_t nodeID) {
  for (auto it = m_links.begin(); it != m_links.end();) {
    it = it->second.tipA == nodeID || it->second.tipB == nodeID ? m_links.erase(it) : std::next(it);
  }
}

// Two tips placed by one picking sequence become a link.
void LinkListener::OnPickCommitted(const DataTipPick& pick) {
  if (pick.deleteOnCommit || !pick.tip) return;
  m_committedTips.push_back(pick.tip->GetNodeID());
  if (m_committedTips.size() == 2) {
    const std::int32_t id = m_nextLinkID++;
    m_links[id] = Link{m_committedTips[0], m_committedTips[1]};
    m_committedTips.clear();
  }
}

bool LinkListener::TipWorldPosition(std::int32_t nodeID, math::Vec3d& world) const {
  const DataTip* tip = GetDataTip(nodeID);
  if (!tip) return false;
  world = tip->GetWorldFrame().GetTrans();
  return true;
}

double LinkListener::GetLinkLength(std::int32_t id) const {
  const auto it = m_links.find(id);
  math::Vec3d a, b;
  if (it == m_links.end() || !TipWorldPosition(it->second.tipA, a) || !TipWorldPosition(it->second.tipB, b)) {
    return -1.0;
  }
  return (a - b).Length();
}

std::string LinkListener::FormatLength(double millimetres) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f mm", millimetres);
  return text;
}

void LinkListener::Render(const RenderPass& pass) {
  DataTipListener::Render(pass);  // countdown label
  Scene* scene = GetScene();
  if (!scene || !pass.display || pass.layer != GetRenderLayer()) return;
  m_committedTips.clear();
  m_lines->Clear();
  Mesh* mesh = m_lines->AddMesh(2);
  mesh->SetGlobalColor({255, 210, 0, 255});
  const math::Frame4d node_T_world = GetWorldFrame().GetInverse();
  for (const auto& [id, link] : m_links) {
    math::Vec3d a, b;
    if (!TipWorldPosition(link.tipA, a) || !TipWorldPosition(link.tipB, b)) continue;
    const std::uint32_t i = mesh->AddVertex(math::Vec3f(node_T_world.MultP(a)));
    mesh->AddVertex(math::Vec3f(node_T_world.MultP(b)));
    mesh->AddPrim(i, i + 1);
    math::Vec2d pixel;
    if (m_drawLengthLabel && pass.view && pass.view->Project((a + b) * 0.5, pixel)) {
      DrawLabel(static_cast<float>(pixel[0]) + 10.f, static_cast<float>(pixel[1]) + 10.f,
                FormatLength((a - b).Length()));
    }
  }
  pass.display->DrawGeo(*m_lines, {kRenderFlagNoLighting | kRenderFlagNoDepthTest, 1.f});
}

}  // namespace v3d
