#include "v3d/Selector.h"

#include <algorithm>

#include "v3d/Node.h"

namespace v3d {

void Selector::Update(Node* node) {
  if (!node) return;
  const auto it = std::find(m_nodes.begin(), m_nodes.end(), node);
  if (node->IsSelected() && it == m_nodes.end()) m_nodes.push_back(node);
  if (!node->IsSelected() && it != m_nodes.end()) m_nodes.erase(it);
}

void Selector::Deselect(const Node* node) {
  m_nodes.erase(std::remove(m_nodes.begin(), m_nodes.end(), node), m_nodes.end());
}

}  // namespace v3d
