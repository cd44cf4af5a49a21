#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/math/Frame.h"
#include "v3d/BoundingBox.h"
#include "v3d/Event.h"
#include "v3d/Object.h"
#include "v3d/ViewState.h"

namespace v3d {

class Display;

// The 32 bytes that picking stores in the node it hit.
using PickRecord = std::array<std::uint8_t, 32>;

// What one render pass asks of the nodes it draws.
struct RenderPass {
  Display* display = nullptr;
  std::uint32_t flags = 0;                  // the pass's own render flags
  std::uint32_t visibilityMask = 0xFFFFFFFF;  // nodes whose mask meets it are drawn
  std::int32_t layer = 2;                   // the render layer being drawn
  const ViewState* view = nullptr;          // the view, when the renderer knows it
  math::Frame4d camera_T_node;              // the node being drawn into camera coordinates
};

// An element of the scene tree. A node is detached (no scene, node ID -1) or
// attached to one scene (in its node table, with a parent unless it is the
// root). It does not own its children: the scene does, for nodes added with
// ownership. Only the Scene links and unlinks nodes.
//
// The frame is parent_T_node (node coordinates into the parent's, mm). The
// frame and the name carry change counters that start at 1.
//
// Not thread-safe; viewer data is guarded by LockGuard.
class Node : public Object {
 public:
  static constexpr std::uint32_t kDefaultVisibility = 0x7FFFFFFF;

  Node() : Node("Node") {}
  // Detaches the node from its scene and its children from the node.
  ~Node() override;

  // The object's text, then " " + frame counter and " " + name counter.
  std::string ToString() const override;
  virtual void Render(const RenderPass& pass) {}
  // Reports the node's primitives for picking; see PrimitiveMode.
  virtual void FeedbackRender(const RenderPass& pass) {}
  // In the node's own coordinates; the frame is not applied.
  virtual BoundingBox GetBoundingBox() const { return m_boundingBox; }
  // Called with the display's context current when the node enters a scene
  // that has a display, and when it leaves one.
  virtual void OnAdd(Display& display) {}
  virtual void OnRemove(Display& display) {}
  // Whether a hit on the picking name belongs to this node (for nodes drawn
  // under several names); the base node claims none.
  virtual bool HitQuery(std::int32_t pickName) const { return false; }
  // Stores the record of a pick that hit the node; true when the node acted
  // on it.
  virtual bool SetPickRecord(const PickRecord& record);
  virtual const PickRecord& GetPickRecord() const { return m_pickRecord; }
  // An input event offered by the scene (registered nodes, selected nodes,
  // the active camera); true when handled.
  virtual bool OnEvent(const Event& event) { return false; }

  Scene* GetScene() const { return m_scene; }
  Node* GetRoot() const { return m_root; }
  Node* GetParent() const { return m_parent; }
  const std::vector<Node*>& GetChildren() const { return m_children; }
  std::size_t GetNumChildren() const { return m_children.size(); }
  // The index in the parent's children, -1 when detached.
  std::int32_t GetIndex() const { return m_index; }
  // The slot in the scene's node table (also the picking name), -1 when detached.
  std::int32_t GetNodeID() const { return m_nodeID; }

  const math::Frame4d& GetFrame() const { return m_frame; }
  // Sets parent_T_node. With a reference node other than the parent, frame
  // is reference_T_node and is converted into the parent's coordinates
  // through both world frames. Increments the frame counter.
  void SetFrame(const math::Frame4d& frame, const Node* reference = nullptr);
  std::uint32_t GetFrameCounter() const { return m_frameCounter; }
  // root_T_node: the product of the frames from the top of the tree down.
  math::Frame4d GetWorldFrame() const;

  std::uint32_t GetRenderFlags() const { return m_renderFlags; }
  void SetRenderFlags(std::uint32_t flags) { m_renderFlags = flags; }
  std::uint32_t GetRenderFlagMask() const { return m_renderFlagMask; }
  void SetRenderFlagMask(std::uint32_t mask) { m_renderFlagMask = mask; }
  // What a pass with these flags draws of the node: (node | pass) & ~mask.
  std::uint32_t GetEffectiveRenderFlags(std::uint32_t passFlags) const {
    return (m_renderFlags | passFlags) & ~m_renderFlagMask;
  }

  const std::string& GetName() const { return m_name; }
  void SetName(const std::string& name);
  std::uint32_t GetNameCounter() const { return m_nameCounter; }

  bool IsSelected() const { return m_selected; }
  // Also tells the scene's selector.
  void SetSelected(bool selected);

  std::uint32_t GetVisibility() const { return m_visibility; }
  // With recursive, every descendant gets the mask too.
  void SetVisibility(std::uint32_t mask, bool recursive = false);
  // In a scene and (mask & the scene's global visibility) != 0.
  bool IsVisible() const;

 protected:
  explicit Node(std::string name) : m_name(std::move(name)) {}

  void IncFrameCounter() { ++m_frameCounter; }
  // Resets the frame to the identity; increments the frame counter.
  void ResetFrame();
  void SetCachedBoundingBox(const BoundingBox& box) const { m_boundingBox = box; }
  const BoundingBox& GetCachedBoundingBox() const { return m_boundingBox; }

 private:
  friend class Scene;

  mutable BoundingBox m_boundingBox;
  Scene* m_scene = nullptr;
  Node* m_root = nullptr;
  Node* m_parent = nullptr;
  std::vector<Node*> m_children;
  std::int32_t m_index = -1;
  std::int32_t m_nodeID = -1;
  math::Frame4d m_frame;
  std::uint32_t m_frameCounter = 1;
  std::uint32_t m_renderFlags = 0;
  std::uint32_t m_renderFlagMask = 0;
  std::string m_name;
  std::uint32_t m_nameCounter = 1;
  bool m_selected = false;
  PickRecord m_pickRecord{};
  std::uint32_t m_visibility = kDefaultVisibility;
};

// A node that draws: adds the render layer (default 2) that decides in which
// pass it is drawn.
class Renderable : public Node {
 public:
  Renderable() : Node("Renderable") {}

  std::int32_t GetRenderLayer() const { return m_renderLayer; }
  void SetRenderLayer(std::int32_t layer) { m_renderLayer = layer; }

 protected:
  explicit Renderable(std::string name) : Node(std::move(name)) {}

 private:
  std::int32_t m_renderLayer = 2;
};

}  // namespace v3d
