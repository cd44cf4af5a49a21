#pragma once

#include <vector>

namespace v3d {

class Node;

// The scene's list of selected nodes, in the order they were selected.
// Selected nodes get the scene's events after the registered ones.
class Selector {
 public:
  // Adds the node if it is selected and not listed, drops it otherwise.
  void Update(Node* node);
  void Deselect(const Node* node);
  void Clear() { m_nodes.clear(); }
  const std::vector<Node*>& GetSelectedNodes() const { return m_nodes; }

 private:
  std::vector<Node*> m_nodes;
};

}  // namespace v3d
