#include "v3d/Scene.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace v3d {
namespace {

std::int64_t MonotonicNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

template <typename T>
bool EraseValue(std::vector<T*>& list, const T* value) {
  const auto it = std::find(list.begin(), list.end(), value);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

Scene::Scene()
    : m_animationPlayer(std::make_unique<AnimationPlayer>()), m_startTime(MonotonicNanoseconds()) {
  CreateRoot();
}

Scene::~Scene() { TearDown(); }

void Scene::CreateRoot() {
  auto* root = new Node();
  root->SetVisibility(0);
  AddNode(root, nullptr, true);
}

double Scene::GetElapsedSeconds() const {
  return static_cast<double>(MonotonicNanoseconds() - m_startTime) * 1e-9;
}

// ---------------------------------------------------------------- nodes

bool Scene::AddNode(Node* node, Node* parent, bool takeOwnership) {
  if (!node) return false;
  if (node->m_parent || node->m_scene) {
    throw std::logic_error("v3d::Scene::AddNode - Remove node before you add it again.");
  }
  if (m_numNodes >= MAX_NUM_NODES) {
    throw std::logic_error("v3d::Scene::AddNode - Number of nodes exceeds MAX_NUM_NODES.");
  }
  if (m_root) {
    if (!parent) parent = m_root;
    if (parent->m_root != m_root || parent->m_scene != this) {
      throw std::logic_error("v3d::Scene::AddNode - Parent is not a node of the scene.");
    }
    // A removed node keeps its children, which are still in the table: the
    // node must not go below one of them.
    for (const Node* n = parent; n; n = n->m_parent) {
      if (n == node) throw std::logic_error("v3d::Scene::AddNode - A node cannot be added below itself.");
    }
  }
  if (takeOwnership) node->SetOwner(this);
  if (m_root) {
    node->m_index = static_cast<std::int32_t>(parent->m_children.size());
    node->m_parent = parent;
    parent->m_children.push_back(node);
  } else {
    m_root = node;
  }
  node->m_root = m_root;
  node->m_scene = this;
  LinkSlot(node);
  m_selector.Update(node);
  if (m_display) {
    ContextScope context(m_display);
    node->OnAdd(*m_display);
  }
  IncRedrawID();
  return true;
}

void Scene::LinkSlot(Node* node) {
  std::int32_t id = 0;
  while (m_slots[id].node) ++id;  // a free slot exists: the count was checked
  // Keep the used list in ID order: link after the nearest used slot below.
  std::int32_t prev = id - 1;
  while (prev >= 0 && !m_slots[prev].node) --prev;
  const std::int32_t next = prev >= 0 ? m_slots[prev].next : m_firstUsed;
  m_slots[id] = Slot{node, prev, next};
  if (prev >= 0) {
    m_slots[prev].next = id;
  } else {
    m_firstUsed = id;
  }
  if (next >= 0) m_slots[next].prev = id;
  node->m_nodeID = id;
  ++m_numNodes;
}

bool Scene::UnlinkSlot(const Node* node) {
  const std::int32_t id = node->m_nodeID;
  if (id < 0 || id >= MAX_NUM_NODES || m_slots[id].node != node) return false;
  const Slot slot = m_slots[id];
  if (slot.prev >= 0) {
    m_slots[slot.prev].next = slot.next;
  } else {
    m_firstUsed = slot.next;
  }
  if (slot.next >= 0) m_slots[slot.next].prev = slot.prev;
  m_slots[id] = Slot{};
  --m_numNodes;
  return true;
}

void Scene::DetachFromParent(Node* node) {
  Node* parent = node->m_parent;
  if (!parent) return;
  auto& siblings = parent->m_children;
  const auto index = static_cast<std::size_t>(node->m_index);
  if (index < siblings.size() && siblings[index] == node) {
    siblings[index] = siblings.back();
    siblings[index]->m_index = static_cast<std::int32_t>(index);
    siblings.pop_back();
  } else {
    EraseValue(siblings, node);
  }
  node->m_parent = nullptr;
  node->m_index = -1;
}

bool Scene::RemoveNode(Node* node) {
  if (!node || node->m_scene != this) return false;
  if (node == m_root) {
    throw std::logic_error("v3d::Scene::RemoveNode - It is not allowed to remove the root node.");
  }
  m_selector.Deselect(node);
  m_animationPlayer->RemoveNode(node);
  EraseValue(m_eventNodes, node);
  if (m_display) {
    ContextScope context(m_display);
    node->OnRemove(*m_display);
  }
  if (!UnlinkSlot(node)) {
    throw std::logic_error("v3d::Scene::RemoveNode - This should not have happened.");
  }
  node->m_nodeID = -1;
  const bool hasParent = node->m_parent != nullptr;
  DetachFromParent(node);
  node->m_root = nullptr;
  node->m_scene = nullptr;
  if (node->GetOwner() == this) node->SetOwner(nullptr);
  IncRedrawID();
  if (!hasParent) throw std::logic_error("v3d::Scene::RemoveNode - Node must have a parent.");
  return true;
}

bool Scene::DeleteNode(Node* node) {
  const bool owned = node && node->m_scene == this && node->GetOwner() == this;
  if (!RemoveNode(node)) return false;
  if (owned) delete node;
  return true;
}

bool Scene::DeleteNodeRecursive(Node* node) {
  if (!node) return false;
  bool ok = true;
  const std::vector<Node*> children = node->m_children;
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (!DeleteNodeRecursive(*it)) ok = false;
  }
  return DeleteNode(node) && ok;
}

void Scene::ForgetNode(Node* node) {
  if (node == m_root) m_root = nullptr;
  m_selector.Deselect(node);
  if (m_animationPlayer) m_animationPlayer->RemoveNode(node);
  EraseValue(m_eventNodes, node);
  UnlinkSlot(node);
  DetachFromParent(node);
  node->m_nodeID = -1;
  node->m_root = nullptr;
  node->m_scene = nullptr;
}

Node* Scene::GetNode(std::int32_t nodeID) const {
  if (nodeID < 0 || nodeID >= MAX_NUM_NODES) return nullptr;
  return m_slots[nodeID].node;
}

std::vector<Node*> Scene::GetNodes() const {
  std::vector<Node*> nodes;
  nodes.reserve(m_numNodes);
  for (std::int32_t id = m_firstUsed; id >= 0; id = m_slots[id].next) nodes.push_back(m_slots[id].node);
  return nodes;
}

// ---------------------------------------------------------------- textures and fonts

std::int32_t Scene::AddTexture(Texture* texture, bool takeOwnership) {
  if (!texture) return -1;
  if (texture->m_textureID >= 0) {
    throw std::logic_error(
        "v3d::Scene::AddTexture - Texture already contains a valid texture ID.");
  }
  std::int32_t id = 0;
  while (id < kMaxTextures && m_textures[id]) ++id;
  if (id == kMaxTextures) return -1;
  if (m_display) {
    ContextScope context(m_display);
    texture->OnAdd(*m_display);
  }
  m_textures[id] = texture;
  texture->m_textureID = id;
  texture->m_scene = this;
  if (takeOwnership) texture->SetOwner(this);
  IncRedrawID();
  return id;
}

bool Scene::RemoveTexture(Texture* texture) {
  if (!texture) return false;
  const std::int32_t id = texture->m_textureID;
  if (id < 0 || id >= kMaxTextures) return false;
  if (m_textures[id] != texture) {
    throw std::logic_error(
        "v3d::Scene::RemoveTexture - Texture ID is wrong or texture is not part of the scene.");
  }
  if (m_display) {
    ContextScope context(m_display);
    texture->OnRemove(*m_display);
  }
  if (texture->GetOwner() == this) texture->SetOwner(nullptr);
  m_textures[id] = nullptr;
  texture->m_textureID = -1;
  texture->m_scene = nullptr;
  IncRedrawID();
  return true;
}

bool Scene::DeleteTexture(Texture* texture) {
  const bool owned = texture && texture->GetOwner() == this;
  if (!RemoveTexture(texture)) return false;
  if (owned) delete texture;
  return true;
}

void Scene::ForgetTexture(Texture* texture) {
  const std::int32_t id = texture->m_textureID;
  if (id >= 0 && id < kMaxTextures && m_textures[id] == texture) m_textures[id] = nullptr;
  texture->m_textureID = -1;
  texture->m_scene = nullptr;
}

Texture* Scene::GetTexture(std::int32_t id) const {
  return id >= 0 && id < kMaxTextures ? m_textures[id] : nullptr;
}

std::int32_t Scene::AddFont(Font* font, bool takeOwnership) {
  if (!font) return -1;
  if (font->m_fontID >= 0) {
    throw std::logic_error("v3d::Scene::AddFont - Font already contains a valid font ID.");
  }
  font->m_fontID = static_cast<std::int32_t>(m_fonts.size());
  font->m_scene = this;
  if (takeOwnership) font->SetOwner(this);
  m_fonts.push_back(font);
  if (Texture* page = font->GetTexture(); page && page->GetTextureID() < 0) AddTexture(page);
  return font->m_fontID;
}

void Scene::ForgetFont(Font* font) {
  for (Font*& entry : m_fonts) {
    if (entry == font) entry = nullptr;
  }
  if (Texture* page = font->GetTexture(); page && page->m_scene == this) RemoveTexture(page);
  font->m_fontID = -1;
  font->m_scene = nullptr;
}

bool Scene::AddShader(Shader* shader, bool takeOwnership) {
  if (!shader || shader->m_scene) return false;
  if (m_display) {
    ContextScope context(m_display);
    shader->OnAdd(*m_display);
  }
  shader->m_scene = this;
  if (takeOwnership) shader->SetOwner(this);
  m_shaders.push_back(shader);
  return true;
}

bool Scene::RemoveShader(Shader* shader) {
  if (!shader || shader->m_scene != this) return false;
  if (m_display) {
    ContextScope context(m_display);
    shader->OnRemove(*m_display);
  }
  ForgetShader(shader);
  return true;
}

void Scene::ForgetShader(Shader* shader) {
  EraseValue(m_shaders, shader);
  shader->m_scene = nullptr;
  if (shader->GetOwner() == this) shader->SetOwner(nullptr);
}

DrawControl& Scene::GetDrawControl() {
  if (!m_drawControl) m_drawControl = std::make_unique<DrawControl>(*this);
  return *m_drawControl;
}

Font* Scene::GetFont(std::int32_t id) const {
  return id >= 0 && id < static_cast<std::int32_t>(m_fonts.size()) ? m_fonts[id] : nullptr;
}

// ---------------------------------------------------------------- events

bool Scene::RegisterNodeForEvents(Node* node) {
  if (!node) return false;
  if (node->m_scene != this) {
    throw std::logic_error(
        "v3d::Scene::RegisterNodeForEvents - The node has to be an element of the scene.");
  }
  if (std::find(m_eventNodes.begin(), m_eventNodes.end(), node) != m_eventNodes.end()) {
    throw std::logic_error("v3d::Scene::RegisterNodeForEvents - The node is already registered.");
  }
  m_eventNodes.push_back(node);
  return true;
}

bool Scene::UnregisterNodeForEvents(const Node* node) { return EraseValue(m_eventNodes, node); }

bool Scene::RegisterEventListener(EventListener* listener) {
  if (!listener) return false;
  m_listeners.push_back(listener);
  return true;
}

bool Scene::UnregisterEventListener(const EventListener* listener) {
  return EraseValue(m_listeners, listener);
}

bool Scene::OnEvent(const Event& event) {
  if (event.kind == kEventNone) return false;
  const bool handled = Dispatch(event);
  if (handled) IncRedrawID();
  return handled;
}

bool Scene::Dispatch(const Event& event) {
  // Handlers may change the lists (register, remove nodes): walk copies.
  for (EventListener* listener : std::vector<EventListener*>(m_listeners)) {
    if (listener->OnEvent(event)) return true;
  }
  for (Node* node : std::vector<Node*>(m_eventNodes)) {
    if (node->OnEvent(event)) return true;
  }
  for (Node* node : std::vector<Node*>(m_selector.GetSelectedNodes())) {
    if (node->OnEvent(event)) return true;
  }
  if (event.kind == kEventTimer && OnTimerStep()) return true;
  switch (event.kind) {
    case kEventKey:
      if (OnKeyInput(event)) return true;
      break;
    case kEventMouse:
      if (DispatchMouse(event)) return true;
      break;
    case kEventWheel:
      if (OnWheelInput(event)) return true;
      break;
    default:
      break;
  }
  Camera* camera = GetActiveCamera();
  return camera && camera->OnEvent(event);
}

// A pointer move starts a drag. A button event with the left button held
// counts as handled until the pointer has moved (a click, not a drag);
// without the button the drag ends.
bool Scene::DispatchMouse(const Event& event) {
  if (event.subKind == kMouseMove) {
    m_dragging = true;
  } else if (event.modifiers & kModifierLeftButton) {
    if (!m_dragging) return true;
  } else {
    m_dragging = false;
  }
  return OnMouseInput(event);
}

bool Scene::OnTimerStep() { return m_animationPlayer->Advance(GetElapsedSeconds()); }

void Scene::ShowFlashAnimation() {
  auto animation = std::make_unique<Animation>();
  animation->AddStep({kFlashSeconds, [this](double progress) {
                        m_flashIntensity = static_cast<float>(1.0 - progress);
                      }});
  m_flashIntensity = 1.f;
  m_animationPlayer->Play(std::move(animation));
  IncRedrawID();
}

// ---------------------------------------------------------------- display, cameras, lights

void Scene::SetDisplay(Display* display) {
  if (display == m_display) return;
  const std::vector<Node*> nodes = GetNodes();
  if (m_display) {
    ContextScope context(m_display);
    for (Texture* texture : m_textures) {
      if (texture) texture->OnRemove(*m_display);
    }
    for (Node* node : nodes) node->OnRemove(*m_display);
    for (Shader* shader : m_shaders) shader->OnRemove(*m_display);
  }
  m_display = display;
  if (m_display) {
    ContextScope context(m_display);
    for (Texture* texture : m_textures) {
      if (texture) texture->OnAdd(*m_display);
    }
    for (Shader* shader : m_shaders) shader->OnAdd(*m_display);
    for (Node* node : nodes) node->OnAdd(*m_display);
  }
  IncRedrawID();
}

void Scene::SetCamera(int index, std::unique_ptr<Camera> camera) {
  if (index < 0 || index >= kMaxCameras) return;
  if (camera) camera->SetViewScene(this);
  m_cameras[index] = std::move(camera);
}

Camera* Scene::GetCamera(int index) const {
  return index >= 0 && index < kMaxCameras ? m_cameras[index].get() : nullptr;
}

void Scene::SetLight(int index, std::unique_ptr<Light> light) {
  if (index >= 0 && index < kMaxLights) m_lights[index] = std::move(light);
}

Light* Scene::GetLight(int index) const {
  return index >= 0 && index < kMaxLights ? m_lights[index].get() : nullptr;
}

// ---------------------------------------------------------------- reset

void Scene::TearDown() {
  SetDisplay(nullptr);
  for (auto& camera : m_cameras) camera.reset();
  for (auto& light : m_lights) light.reset();
  for (Texture* texture : m_textures) {
    if (texture) DeleteTexture(texture);
  }
  const std::vector<Font*> fonts = m_fonts;
  for (Font* font : fonts) {
    if (!font) continue;
    const bool owned = font->GetOwner() == this;
    ForgetFont(font);
    if (owned) delete font;
  }
  m_fonts.clear();
  for (Shader* shader : std::vector<Shader*>(m_shaders)) {
    const bool owned = shader->GetOwner() == this;
    ForgetShader(shader);
    if (owned) delete shader;
  }
  if (Node* root = m_root) {
    const std::vector<Node*> children = root->m_children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) DeleteNodeRecursive(*it);
    // Nodes left in the table were detached from the tree while still in it.
    for (Node* node : GetNodes()) {
      if (node != root) ForgetNode(node);
    }
    const bool owned = root->GetOwner() == this;
    ForgetNode(root);
    if (owned) delete root;
  }
  m_selector.Clear();
  m_eventNodes.clear();
  m_listeners.clear();
  m_drawControl.reset();
}

void Scene::Reset() {
  TearDown();
  m_animationPlayer = std::make_unique<AnimationPlayer>();
  m_flashIntensity = 0.f;
  m_dragging = false;
  CreateRoot();
  IncRedrawID();
}

}  // namespace v3d
