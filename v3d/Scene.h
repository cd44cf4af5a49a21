#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "v3d/Animation.h"
#include "v3d/Camera.h"
#include "v3d/Display.h"
#include "v3d/DrawControl.h"
#include "v3d/Event.h"
#include "v3d/Font.h"
#include "v3d/Light.h"
#include "v3d/Node.h"
#include "v3d/Selector.h"
#include "v3d/Shader.h"
#include "v3d/Texture.h"

namespace v3d {

// The tree of nodes that a view shows, with the textures and fonts they use,
// the nodes and listeners that want input events, the cameras and lights.
//
// Nodes live in a fixed table of MAX_NUM_NODES slots; a node's slot is its
// node ID and picking name. The scene enforces a strict discipline: a node
// is in at most one scene and must be removed before it is added again, the
// root cannot be removed, capacity is never exceeded. Violations throw
// std::logic_error with "v3d::Scene::Method - text"; silent failures return
// false (or -1 for IDs). Objects added with ownership are deleted by the
// scene (DeleteNode, DeleteTexture, Reset, destruction); others stay the
// caller's.
//
// Every OpenGL side effect of adding and removing goes through the attached
// display with its context current; without a display nothing is made.
//
// Not thread-safe: the shell thread and the render thread take LockGuard
// around every access. The redraw ID, incremented after every change and
// never 0, lets views skip redrawing an unchanged scene.
class Scene {
 public:
  static constexpr int MAX_NUM_NODES = 1024;
  static constexpr int kMaxTextures = 256;
  static constexpr int kMaxCameras = 8;
  static constexpr int kMaxLights = 8;
  static constexpr std::uint32_t kDefaultGlobalVisibility = 0x7FFFFFFF;
  static constexpr double kFlashSeconds = 0.3;

  // A new scene has an invisible plain root node (visibility mask 0) with
  // node ID 0.
  Scene();
  virtual ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Adds node below parent (the root when null); false for a null node.
  bool AddNode(Node* node, Node* parent = nullptr, bool takeOwnership = false);
  // Detaches a node; its children stay attached to it (and in the table).
  // False for a null node or one of another scene.
  bool RemoveNode(Node* node);
  // RemoveNode, then deletes the node if the scene owned it.
  bool DeleteNode(Node* node);
  // Deletes the node's children first, last child first, each recursively,
  // then the node. True only when every removal succeeded.
  bool DeleteNodeRecursive(Node* node);

  Node* GetRoot() const { return m_root; }
  // The node with that ID, or null.
  Node* GetNode(std::int32_t nodeID) const;
  int GetNumNodes() const { return m_numNodes; }
  // All nodes in node-ID order.
  std::vector<Node*> GetNodes() const;

  // The texture's ID (its slot), or -1 for a null texture or a full table.
  std::int32_t AddTexture(Texture* texture, bool takeOwnership = false);
  // False for a null texture or an ID outside 0…255.
  bool RemoveTexture(Texture* texture);
  bool DeleteTexture(Texture* texture);
  Texture* GetTexture(std::int32_t id) const;

  // The new font ID, or -1 for a null font. IDs are not reused. The font's
  // page texture (if loaded) becomes a texture of the scene.
  std::int32_t AddFont(Font* font, bool takeOwnership = false);
  Font* GetFont(std::int32_t id) const;

  // Shaders are compiled with the display's context current when added (or
  // when a display is attached) and deleted when removed. False for a null
  // shader or one already in a scene.
  bool AddShader(Shader* shader, bool takeOwnership = false);
  bool RemoveShader(Shader* shader);

  // False for a null node.
  bool RegisterNodeForEvents(Node* node);
  bool UnregisterNodeForEvents(const Node* node);
  // Not owned; false for a null listener.
  bool RegisterEventListener(EventListener* listener);
  bool UnregisterEventListener(const EventListener* listener);

  // Offers the event to, in order, the listeners, the registered nodes, the
  // selected nodes, the scene's timer step (timer events), its input
  // handlers and the active camera; the first that handles it ends the
  // search. True when handled (and then the redraw ID is incremented).
  virtual bool OnEvent(const Event& event);

  // Attaching calls OnAdd of every texture and node with the new display's
  // context current; detaching calls OnRemove with the old one's.
  void SetDisplay(Display* display);
  Display* GetDisplay() const { return m_display; }
  // The native window the view lives in (opaque to the scene).
  void SetParent(void* window) { m_parentWindow = window; }
  void* GetParent() const { return m_parentWindow; }

  // The scene owns its cameras and lights; slots outside 0…7 are ignored.
  void SetCamera(int index, std::unique_ptr<Camera> camera);
  Camera* GetCamera(int index) const;
  void SetActiveCamera(int index) { m_activeCamera = index; }
  int GetActiveCameraIndex() const { return m_activeCamera; }
  // Null when the active index is outside 0…7 or its slot is empty.
  Camera* GetActiveCamera() const { return GetCamera(m_activeCamera); }
  void SetLight(int index, std::unique_ptr<Light> light);
  Light* GetLight(int index) const;

  Selector& GetSelector() { return m_selector; }
  // The default canvas and marker geometry; made (and its two nodes added)
  // on first use.
  DrawControl& GetDrawControl();
  bool HasDrawControl() const { return m_drawControl != nullptr; }
  AnimationPlayer& GetAnimationPlayer() { return *m_animationPlayer; }

  std::uint32_t GetRedrawID() const { return m_redrawID; }
  // The ID after id: id + 1, skipping 0 on wrap-around.
  static constexpr std::uint32_t NextRedrawID(std::uint32_t id) { return id + 1 == 0 ? 1 : id + 1; }
  void Redraw() { IncRedrawID(); }
  // Sets the redraw ID (for restoring a view's state and for tests of the
  // wrap-around); 0 becomes 1.
  void SetRedrawID(std::uint32_t id) { m_redrawID = id == 0 ? 1 : id; }
  // A short white flash of the view (after a capture): GetFlashIntensity
  // falls from 1 to 0 over kFlashSeconds as timer events arrive.
  void ShowFlashAnimation();
  float GetFlashIntensity() const { return m_flashIntensity; }

  // Monotonic clock reading at construction, in nanoseconds.
  std::int64_t GetStartTime() const { return m_startTime; }
  // Seconds since construction on the same clock.
  double GetElapsedSeconds() const;

  std::uint32_t GetGlobalVisibility() const { return m_globalVisibility; }
  void SetGlobalVisibility(std::uint32_t mask) { m_globalVisibility = mask; }

  void SetAllowCameraRotation(bool allow) { m_allowCameraRotation = allow; }
  bool GetAllowCameraRotation() const { return m_allowCameraRotation; }
  void SetAllowObjectMovements(bool allow) { m_allowObjectMovements = allow; }
  bool GetAllowObjectMovements() const { return m_allowObjectMovements; }
  void SetAllowObjectSelection(bool allow) { m_allowObjectSelection = allow; }
  bool GetAllowObjectSelection() const { return m_allowObjectSelection; }
  void SetKeysToIgnore(std::vector<std::int32_t> keys) { m_keysToIgnore = std::move(keys); }
  const std::vector<std::int32_t>& GetKeysToIgnore() const { return m_keysToIgnore; }
  // Restricts object movements to an axis: a bit set of x = 1, y = 2, z = 4;
  // 0 = free.
  void SetMotionAxis(std::uint32_t axis) { m_motionAxis = axis; }
  std::uint32_t GetMotionAxis() const { return m_motionAxis; }

  // Detaches the display, empties the camera and light slots, removes every
  // texture and font and every node (deleting the owned ones), then starts
  // again with a new root and new helpers.
  void Reset();

 protected:
  // The scene's own steps of event dispatch; the base handles nothing
  // except the timer, which plays the animations.
  virtual bool OnTimerStep();
  virtual bool OnKeyInput(const Event& event) { return false; }
  virtual bool OnMouseInput(const Event& event) { return false; }
  virtual bool OnWheelInput(const Event& event) { return false; }

 private:
  friend class Node;
  friend class Texture;
  friend class Font;
  friend class Shader;

  struct Slot {
    Node* node = nullptr;
    std::int32_t prev = -1;
    std::int32_t next = -1;
  };

  void IncRedrawID() { m_redrawID = NextRedrawID(m_redrawID); }
  void CreateRoot();
  void TearDown();
  void LinkSlot(Node* node);
  bool UnlinkSlot(const Node* node);
  void DetachFromParent(Node* node);
  bool Dispatch(const Event& event);
  bool DispatchMouse(const Event& event);
  // Called by a node or texture that is destroyed while still in the scene.
  void ForgetNode(Node* node);
  void ForgetTexture(Texture* texture);
  void ForgetFont(Font* font);
  void ForgetShader(Shader* shader);

  std::uint32_t m_redrawID = 1;
  Node* m_root = nullptr;
  Display* m_display = nullptr;
  void* m_parentWindow = nullptr;
  std::array<std::unique_ptr<Camera>, kMaxCameras> m_cameras;
  int m_activeCamera = 0;
  std::array<std::unique_ptr<Light>, kMaxLights> m_lights;
  Selector m_selector;
  std::unique_ptr<AnimationPlayer> m_animationPlayer;
  std::int64_t m_startTime = 0;
  std::uint32_t m_globalVisibility = kDefaultGlobalVisibility;

  std::array<Slot, MAX_NUM_NODES> m_slots{};
  int m_numNodes = 0;
  std::int32_t m_firstUsed = -1;

  std::array<Texture*, kMaxTextures> m_textures{};
  std::vector<Font*> m_fonts;
  std::vector<Shader*> m_shaders;
  std::unique_ptr<DrawControl> m_drawControl;

  std::vector<Node*> m_eventNodes;
  std::vector<EventListener*> m_listeners;

  bool m_allowCameraRotation = true;
  bool m_allowObjectMovements = true;
  bool m_allowObjectSelection = true;
  std::vector<std::int32_t> m_keysToIgnore;
  std::uint32_t m_motionAxis = 0;

  bool m_dragging = false;
  float m_flashIntensity = 0.f;
};

}  // namespace v3d
