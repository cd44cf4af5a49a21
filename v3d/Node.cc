#include "v3d/Node.h"

#include "v3d/Scene.h"

namespace v3d {

Node::~Node() {
  if (m_scene) m_scene->ForgetNode(this);
  for (Node* child : m_children) {
    child->m_parent = nullptr;
    child->m_index = -1;
  }
}

std::string Node::ToString() const {
  return Object::ToString() + " " + std::to_string(m_frameCounter) + " " +
         std::to_string(m_nameCounter);
}

bool Node::SetPickRecord(const PickRecord& record) {
  m_pickRecord = record;
  return false;
}

void Node::SetFrame(const math::Frame4d& frame, const Node* reference) {
  if (reference && reference != m_parent) {
    // parent_T_node = (root_T_parent)^-1 · root_T_reference · reference_T_node
    const math::Frame4d root_T_parent = m_parent ? m_parent->GetWorldFrame() : math::Frame4d();
    m_frame = root_T_parent.GetInverse() * reference->GetWorldFrame() * frame;
  } else {
    m_frame = frame;
  }
  ++m_frameCounter;
}

math::Frame4d Node::GetWorldFrame() const {
  math::Frame4d result = m_frame;
  for (const Node* node = m_parent; node; node = node->m_parent) result = node->m_frame * result;
  return result;
}

void Node::ResetFrame() {
  m_frame = math::Frame4d();
  ++m_frameCounter;
}

void Node::SetName(const std::string& name) {
  m_name = name;
  ++m_nameCounter;
}

void Node::SetSelected(bool selected) {
  m_selected = selected;
  if (m_scene) m_scene->GetSelector().Update(this);
}

void Node::SetVisibility(std::uint32_t mask, bool recursive) {
  m_visibility = mask;
  if (!recursive) return;
  std::vector<Node*> pending(m_children.begin(), m_children.end());
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    node->m_visibility = mask;
    pending.insert(pending.end(), node->m_children.begin(), node->m_children.end());
  }
}

bool Node::IsVisible() const {
  return m_scene && (m_visibility & m_scene->GetGlobalVisibility()) != 0;
}

}  // namespace v3d
