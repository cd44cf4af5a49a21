#include "surf/measure/ReferenceMarker.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>

#include "surf/measure/DeviationColors.h"

namespace surf {

ReferenceMarker::ReferenceMarker() : v3d::Geo("ReferenceMarker") {}

void ReferenceMarker::SetPosition(const math::Vec3f& position) {
  m_position = position;
  math::Frame4d frame;
  frame.SetTrans(math::Vec3d(position));
  SetFrame(frame);
}

void ReferenceMarker::SetDistance(float distance, float tolerance) {
  SetStoredDistance(distance, std::abs(distance) <= tolerance, tolerance);
}

void ReferenceMarker::SetStoredDistance(float distance, bool valid, float tolerance) {
  m_distance = distance;
  m_distanceValid = valid;
  m_tolerance = tolerance;
  char text[64];
  std::snprintf(text, sizeof(text), "   %+.3f mm", double(distance));
  m_labelText = text;
  m_labelColor = DeviationColor(distance, tolerance > 0 ? tolerance : std::abs(distance) + 1e-6f);
  IncVersion();
}

void ReferenceMarker::ClearDistance(float tolerance) {
  m_distance = 0.f;
  m_distanceValid = false;
  m_tolerance = tolerance;
  m_labelText = "   no surface";
  m_labelColor = {0, 0, 0, 0};
  IncVersion();
}

void ReferenceMarker::SetLabel(const std::string& text, v3d::Color4ub color) {
  m_labelText = "   " + text;
  m_labelColor = color;
  IncVersion();
}

ReferenceMarker* ReferenceMarkerListener::NewDataTip(const math::Vec3f& position,
                                                     std::int32_t parentID) {
  if (!m_scene) {
    std::cerr << "Error in DataTipListener::NewDataTip: Invalid scene pointer." << std::endl;
    return nullptr;
  }
  auto* parent = dynamic_cast<v3d::Geo*>(
      parentID >= 0 && parentID < v3d::Scene::MAX_NUM_NODES ? m_scene->GetNode(parentID) : nullptr);
  if (!parent) {
    std::cerr << "Error in DataTipListener::NewDataTip: Could not find parent node with ID "
              << parentID << std::endl;
    return nullptr;
  }
  auto marker = std::make_unique<ReferenceMarker>();
  bool added = false;
  try {
    added = m_scene->AddNode(marker.get(), parent, true);
  } catch (const std::logic_error&) {
    added = false;  // the scene is full
  }
  if (!added) {
    std::cerr << "Error in DataTipListener::NewDataTip: Creation of data tip failed." << std::endl;
    return nullptr;
  }
  ReferenceMarker* tip = marker.release();
  m_tips.insert(tip->GetNodeID());
  tip->SetPosition(position);
  return tip;
}

ReferenceMarker* ReferenceMarkerListener::GetDataTip(std::int32_t nodeID) const {
  if (!m_scene || !m_tips.contains(nodeID)) return nullptr;
  return dynamic_cast<ReferenceMarker*>(m_scene->GetNode(nodeID));
}

ReferenceMarker* ReferenceMarkerListener::GetReferenceMarker(std::size_t index) const {
  if (index >= m_tips.size()) return nullptr;
  return GetDataTip(*std::next(m_tips.begin(), std::ptrdiff_t(index)));
}

void ReferenceMarkerListener::RemoveDataTip(std::int32_t nodeID) {
  ReferenceMarker* tip = GetDataTip(nodeID);
  m_tips.erase(nodeID);
  if (tip && tip->GetScene() == m_scene) m_scene->DeleteNode(tip);
}

void ReferenceMarkerListener::DeleteAllDataTips() {
  for (const std::int32_t id : GetDataTipNodeIDs()) RemoveDataTip(id);
}

}  // namespace surf
