#include "v3d/Scene.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "v3d/TestDisplay.h"

namespace v3d {
namespace {

using testing::TestDisplay;

// Expects statement to throw std::logic_error with exactly this text.
#define EXPECT_THROW_TEXT(statement, text)                 \
  do {                                                     \
    try {                                                  \
      statement;                                           \
      ADD_FAILURE() << "no exception from " #statement;    \
    } catch (const std::exception& e) {                    \
      EXPECT_STREQ(e.what(), text);                        \
    }                                                      \
  } while (0)

// A node that logs its destruction, its display calls and the events it is
// offered (answering with `handles`).
class LoggingNode : public Node {
 public:
  LoggingNode(std::string tag, std::vector<std::string>* log, bool handles = false)
      : m_tag(std::move(tag)), m_log(log), m_handles(handles) {}
  ~LoggingNode() override {
    if (m_log) m_log->push_back("~" + m_tag);
  }
  bool OnEvent(const Event&) override {
    m_log->push_back(m_tag);
    return m_handles;
  }
  void OnAdd(Display& display) override { static_cast<TestDisplay&>(display).Record("add " + m_tag); }
  void OnRemove(Display& display) override {
    static_cast<TestDisplay&>(display).Record("remove " + m_tag);
  }

 private:
  std::string m_tag;
  std::vector<std::string>* m_log;
  bool m_handles;
};

TEST(Scene, NewSceneHasAnInvisibleRoot) {
  Scene scene;
  Node* root = scene.GetRoot();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetName(), "Node");
  EXPECT_EQ(root->GetNodeID(), 0);
  EXPECT_EQ(root->GetScene(), &scene);
  EXPECT_EQ(root->GetRoot(), root);
  EXPECT_EQ(root->GetParent(), nullptr);
  EXPECT_EQ(scene.GetNumNodes(), 1);
  EXPECT_FALSE(root->IsVisible());
  Node child;
  EXPECT_FALSE(child.IsVisible());  // not in a scene
  ASSERT_TRUE(scene.AddNode(&child));
  EXPECT_TRUE(child.IsVisible());
  EXPECT_EQ(child.GetParent(), root);
  EXPECT_EQ(child.GetIndex(), 0);
  EXPECT_EQ(child.GetNodeID(), 1);
  scene.SetGlobalVisibility(0x80000000);
  EXPECT_FALSE(child.IsVisible());
  EXPECT_EQ(scene.GetRedrawID(), 3u);  // the root and the child
  EXPECT_TRUE(scene.GetAllowCameraRotation());
  EXPECT_TRUE(scene.GetAllowObjectMovements());
  EXPECT_TRUE(scene.GetAllowObjectSelection());
  EXPECT_EQ(scene.GetGlobalVisibility(), 0x80000000u);
  scene.RemoveNode(&child);
}

TEST(Scene, AddTwiceThrowsAndReAddTakesTheLowestFreeID) {
  Scene scene;
  Node a, b, c;
  EXPECT_FALSE(scene.AddNode(nullptr));
  scene.AddNode(&a);
  scene.AddNode(&b);
  scene.AddNode(&c);
  EXPECT_THROW_TEXT(scene.AddNode(&b), "v3d::Scene::AddNode - Remove node before you add it again.");
  EXPECT_THROW_TEXT(scene.AddNode(scene.GetRoot()),
                    "v3d::Scene::AddNode - Remove node before you add it again.");
  EXPECT_EQ(scene.GetNumNodes(), 4);
  ASSERT_TRUE(scene.RemoveNode(&a));
  EXPECT_EQ(a.GetNodeID(), -1);
  EXPECT_EQ(a.GetScene(), nullptr);
  EXPECT_EQ(a.GetIndex(), -1);
  ASSERT_TRUE(scene.RemoveNode(&b));
  ASSERT_TRUE(scene.AddNode(&b, &c));
  EXPECT_EQ(b.GetNodeID(), 1);
  EXPECT_EQ(b.GetParent(), &c);
  ASSERT_TRUE(scene.AddNode(&a));
  EXPECT_EQ(a.GetNodeID(), 2);
  std::vector<Node*> inOrder = scene.GetNodes();
  EXPECT_EQ(inOrder, (std::vector<Node*>{scene.GetRoot(), &b, &a, &c}));
  EXPECT_EQ(scene.GetNode(2), &a);
  EXPECT_EQ(scene.GetNode(1024), nullptr);
  EXPECT_EQ(scene.GetNode(-1), nullptr);
  scene.RemoveNode(&b);
  scene.RemoveNode(&a);
  scene.RemoveNode(&c);
}

TEST(Scene, CapacityIsMaxNumNodes) {
  Scene scene;
  std::vector<std::unique_ptr<Node>> nodes;
  for (int i = 1; i < Scene::MAX_NUM_NODES; ++i) {
    nodes.push_back(std::make_unique<Node>());
    ASSERT_TRUE(scene.AddNode(nodes.back().get()));
  }
  EXPECT_EQ(scene.GetNumNodes(), 1024);
  Node extra;
  EXPECT_THROW_TEXT(scene.AddNode(&extra), "v3d::Scene::AddNode - Number of nodes exceeds MAX_NUM_NODES.");
  EXPECT_EQ(scene.GetNumNodes(), 1024);
  EXPECT_EQ(extra.GetScene(), nullptr);
  EXPECT_EQ(extra.GetOwner(), nullptr);
  // A freed slot in the middle is the one reused.
  scene.RemoveNode(nodes[500].get());
  EXPECT_TRUE(scene.AddNode(&extra));
  EXPECT_EQ(extra.GetNodeID(), 501);
  EXPECT_EQ(scene.GetNodes().size(), 1024u);
  scene.RemoveNode(&extra);
  for (auto& node : nodes) scene.RemoveNode(node.get());
}

TEST(Scene, ParentMustBelongToTheScene) {
  Scene scene, other;
  Node foreignParent, detached, node;
  other.AddNode(&foreignParent);
  EXPECT_THROW_TEXT(scene.AddNode(&node, &foreignParent),
                    "v3d::Scene::AddNode - Parent is not a node of the scene.");
  EXPECT_THROW_TEXT(scene.AddNode(&node, &detached),
                    "v3d::Scene::AddNode - Parent is not a node of the scene.");
  EXPECT_EQ(node.GetOwner(), nullptr);
  // A removed node keeps its children; it cannot go below one of them.
  Node child;
  scene.AddNode(&node);
  scene.AddNode(&child, &node);
  scene.RemoveNode(&node);
  EXPECT_EQ(child.GetParent(), &node);
  EXPECT_EQ(child.GetScene(), &scene);
  EXPECT_THROW_TEXT(scene.AddNode(&node, &child),
                    "v3d::Scene::AddNode - A node cannot be added below itself.");
  scene.AddNode(&node);
  scene.RemoveNode(&child);
  scene.RemoveNode(&node);
  other.RemoveNode(&foreignParent);
}

TEST(Scene, RemovingMovesTheLastChildIntoTheGap) {
  Scene scene;
  Node first, second, third;
  for (Node* n : {&first, &second, &third}) scene.AddNode(n);
  const std::uint32_t redraw = scene.GetRedrawID();
  ASSERT_TRUE(scene.RemoveNode(&second));
  EXPECT_GT(scene.GetRedrawID(), redraw);
  EXPECT_EQ(scene.GetRoot()->GetChildren(), (std::vector<Node*>{&first, &third}));
  EXPECT_EQ(third.GetIndex(), 1);
  // With four children, removing the first puts the last in front.
  Node fourth, fifth;
  scene.AddNode(&second);
  scene.AddNode(&fourth);
  scene.RemoveNode(&first);
  EXPECT_EQ(scene.GetRoot()->GetChildren(), (std::vector<Node*>{&fourth, &third, &second}));
  EXPECT_EQ(fourth.GetIndex(), 0);
  for (Node* n : {&second, &third, &fourth}) scene.RemoveNode(n);
}

TEST(Scene, RemoveRulesAndTheirTexts) {
  Scene scene, other;
  Node node, stranger;
  other.AddNode(&stranger);
  EXPECT_FALSE(scene.RemoveNode(nullptr));
  EXPECT_FALSE(scene.RemoveNode(&stranger));
  EXPECT_FALSE(scene.RemoveNode(&node));
  EXPECT_THROW_TEXT(scene.RemoveNode(scene.GetRoot()),
                    "v3d::Scene::RemoveNode - It is not allowed to remove the root node.");
  // A node whose parent was destroyed while both were in the scene.
  auto* parent = new Node();
  scene.AddNode(parent);
  scene.AddNode(&node, parent);
  delete parent;
  EXPECT_EQ(node.GetParent(), nullptr);
  EXPECT_EQ(scene.GetNumNodes(), 2);
  EXPECT_THROW_TEXT(scene.RemoveNode(&node), "v3d::Scene::RemoveNode - Node must have a parent.");
  EXPECT_EQ(node.GetScene(), nullptr);
  EXPECT_EQ(scene.GetNumNodes(), 1);
  other.RemoveNode(&stranger);
}

TEST(Scene, DeleteNodeDeletesOnlyOwnedNodes) {
  std::vector<std::string> log;
  Scene scene;
  auto* owned = new LoggingNode("owned", &log);
  LoggingNode kept("kept", &log);
  scene.AddNode(owned, nullptr, true);
  scene.AddNode(&kept);
  EXPECT_EQ(owned->GetOwner(), &scene);
  EXPECT_EQ(kept.GetOwner(), nullptr);
  EXPECT_TRUE(scene.DeleteNode(owned));
  EXPECT_TRUE(scene.DeleteNode(&kept));
  EXPECT_EQ(log, (std::vector<std::string>{"~owned"}));
  EXPECT_EQ(kept.GetScene(), nullptr);
  EXPECT_FALSE(scene.DeleteNode(&kept));
  // Removal drops ownership: the caller owns a removed node again.
  auto* back = new LoggingNode("back", &log);
  scene.AddNode(back, nullptr, true);
  scene.RemoveNode(back);
  EXPECT_EQ(back->GetOwner(), nullptr);
  delete back;
}

TEST(Scene, RecursiveDeleteGoesLastChildFirst) {
  std::vector<std::string> log;
  Scene scene;
  auto* top = new LoggingNode("top", &log);
  auto* a = new LoggingNode("a", &log);
  auto* b = new LoggingNode("b", &log);
  auto* a1 = new LoggingNode("a1", &log);
  auto* a2 = new LoggingNode("a2", &log);
  LoggingNode keep("keep", &log);
  scene.AddNode(top, nullptr, true);
  scene.AddNode(a, top, true);
  scene.AddNode(b, top, true);
  scene.AddNode(a1, a, true);
  scene.AddNode(a2, a, true);
  scene.AddNode(&keep, b);
  EXPECT_TRUE(scene.DeleteNodeRecursive(top));
  EXPECT_EQ(log, (std::vector<std::string>{"~b", "~a2", "~a1", "~a", "~top"}));
  EXPECT_EQ(scene.GetNumNodes(), 1);
  EXPECT_EQ(keep.GetScene(), nullptr);
  EXPECT_EQ(keep.GetParent(), nullptr);  // its parent b is gone
  EXPECT_FALSE(scene.DeleteNodeRecursive(&keep));
  EXPECT_FALSE(scene.DeleteNodeRecursive(nullptr));
}

TEST(Scene, DisplayWorkHappensWithTheContextCurrent) {
  std::vector<std::string> log;
  TestDisplay display;
  Scene scene;
  LoggingNode early("early", &log), late("late", &log);
  scene.AddNode(&early);
  Texture texture;
  EXPECT_EQ(scene.AddTexture(&texture), 0);
  EXPECT_EQ(texture.GetGLName(), 0u);  // no display, no name
  scene.SetDisplay(&display);
  EXPECT_EQ(scene.GetDisplay(), &display);
  EXPECT_EQ(texture.GetGLName(), 1u);
  scene.AddNode(&late, &early);
  scene.RemoveNode(&late);
  scene.SetDisplay(nullptr);
  EXPECT_EQ(texture.GetGLName(), 0u);
  EXPECT_EQ(display.log, (std::vector<std::string>{"current", "gen", "add early", "release",
                                                   "current", "add late", "release",
                                                   "current", "remove late", "release",
                                                   "current", "delete 1", "remove early", "release"}));
  scene.RemoveNode(&early);
  scene.RemoveTexture(&texture);
}

TEST(Scene, TextureSlotsAndTheirTexts) {
  Scene scene, other;
  EXPECT_EQ(scene.AddTexture(nullptr), -1);
  std::vector<std::unique_ptr<Texture>> textures;
  for (int i = 0; i < Scene::kMaxTextures; ++i) {
    textures.push_back(std::make_unique<Texture>());
    ASSERT_EQ(scene.AddTexture(textures.back().get()), i);
  }
  Texture extra;
  EXPECT_EQ(scene.AddTexture(&extra), -1);
  EXPECT_EQ(extra.GetTextureID(), -1);
  EXPECT_THROW_TEXT(scene.AddTexture(textures[3].get()),
                    "v3d::Scene::AddTexture - Texture already contains a valid texture ID.");
  EXPECT_EQ(scene.GetTexture(3), textures[3].get());
  EXPECT_EQ(scene.GetTexture(256), nullptr);
  EXPECT_EQ(scene.GetTexture(-1), nullptr);

  EXPECT_FALSE(scene.RemoveTexture(nullptr));
  EXPECT_FALSE(scene.RemoveTexture(&extra));  // ID -1
  Texture foreign;
  other.AddTexture(&foreign);  // slot 0 of the other scene
  EXPECT_THROW_TEXT(scene.RemoveTexture(&foreign),
                    "v3d::Scene::RemoveTexture - Texture ID is wrong or texture is not part of the scene.");
  EXPECT_EQ(scene.GetTexture(0), textures[0].get());
  ASSERT_TRUE(scene.RemoveTexture(textures[7].get()));
  EXPECT_EQ(textures[7]->GetTextureID(), -1);
  EXPECT_EQ(scene.GetTexture(7), nullptr);
  EXPECT_EQ(scene.AddTexture(&extra), 7);  // the first free slot

  // A texture destroyed while in the scene frees its slot.
  textures[9].reset();
  EXPECT_EQ(scene.GetTexture(9), nullptr);
  scene.RemoveTexture(&extra);
  other.RemoveTexture(&foreign);
}

TEST(Scene, TextureOwnershipAndDisplayFailures) {
  TestDisplay display;
  Scene scene;
  scene.SetDisplay(&display);
  auto* owned = new Texture();
  const std::int32_t id = scene.AddTexture(owned, true);
  EXPECT_EQ(owned->GetOwner(), &scene);
  EXPECT_TRUE(scene.DeleteTexture(owned));  // deleted: ASan would see a leak otherwise
  EXPECT_EQ(scene.GetTexture(id), nullptr);

  display.failGen = true;
  Texture texture;
  EXPECT_THROW_TEXT(scene.AddTexture(&texture), "v3d::Texture::OnAdd - glGenTextures failed.");
  EXPECT_EQ(texture.GetTextureID(), -1);
  EXPECT_EQ(scene.GetTexture(0), nullptr);
  EXPECT_EQ(display.log.back(), "release");  // the context was released
  scene.SetDisplay(nullptr);
}

TEST(Scene, FontsGetIDsOnce) {
  Scene scene;
  Font a, b;
  EXPECT_EQ(scene.AddFont(nullptr), -1);
  EXPECT_EQ(scene.AddFont(&a), 0);
  EXPECT_EQ(scene.AddFont(&b), 1);
  EXPECT_EQ(scene.GetFont(1), &b);
  EXPECT_EQ(scene.GetFont(2), nullptr);
  EXPECT_THROW_TEXT(scene.AddFont(&a), "v3d::Scene::AddFont - Font already contains a valid font ID.");
  scene.AddFont(new Font(), true);  // deleted with the scene
}

TEST(Scene, EventRegistrationTexts) {
  Scene scene, other;
  std::vector<std::string> log;
  LoggingNode node("n", &log), stranger("s", &log);
  other.AddNode(&stranger);
  scene.AddNode(&node);
  EXPECT_FALSE(scene.RegisterNodeForEvents(nullptr));
  EXPECT_THROW_TEXT(scene.RegisterNodeForEvents(&stranger),
                    "v3d::Scene::RegisterNodeForEvents - The node has to be an element of the scene.");
  EXPECT_TRUE(scene.RegisterNodeForEvents(&node));
  EXPECT_THROW_TEXT(scene.RegisterNodeForEvents(&node),
                    "v3d::Scene::RegisterNodeForEvents - The node is already registered.");
  EXPECT_FALSE(scene.RegisterEventListener(nullptr));
  // Removal unregisters: after re-adding it can register again.
  scene.RemoveNode(&node);
  scene.AddNode(&node);
  EXPECT_TRUE(scene.RegisterNodeForEvents(&node));
  scene.RemoveNode(&node);
  other.RemoveNode(&stranger);
}

class LoggingListener : public EventListener {
 public:
  LoggingListener(std::string tag, std::vector<std::string>* log, bool handles = false)
      : m_tag(std::move(tag)), m_log(log), m_handles(handles) {}
  bool OnEvent(const Event&) override {
    m_log->push_back(m_tag);
    return m_handles;
  }

 private:
  std::string m_tag;
  std::vector<std::string>* m_log;
  bool m_handles;
};

class LoggingCamera : public Camera {
 public:
  explicit LoggingCamera(std::vector<std::string>* log) : m_log(log) {}
  bool OnEvent(const Event& e) override {
    m_log->push_back("camera " + std::to_string(e.kind));
    return false;
  }

 private:
  std::vector<std::string>* m_log;
};

class LoggingScene : public Scene {
 public:
  explicit LoggingScene(std::vector<std::string>* log) : m_log(log) {}
  bool timerHandles = false;
  bool inputHandles = false;

 protected:
  bool OnTimerStep() override { return m_log->push_back("timer"), timerHandles; }
  bool OnKeyInput(const Event&) override { return m_log->push_back("key"), inputHandles; }
  bool OnMouseInput(const Event&) override { return m_log->push_back("mouse"), inputHandles; }
  bool OnWheelInput(const Event&) override { return m_log->push_back("wheel"), inputHandles; }

 private:
  std::vector<std::string>* m_log;
};

TEST(SceneEvents, DispatchOrder) {
  std::vector<std::string> log;
  LoggingScene scene(&log);
  LoggingListener l1("listener 1", &log), l2("listener 2", &log);
  LoggingNode registeredB("registered b", &log), registeredA("registered a", &log);
  LoggingNode selected("selected", &log), other("plain", &log);
  for (Node* n : {static_cast<Node*>(&registeredA), static_cast<Node*>(&registeredB),
                  static_cast<Node*>(&selected), static_cast<Node*>(&other)}) {
    scene.AddNode(n);
  }
  scene.RegisterEventListener(&l1);
  scene.RegisterEventListener(&l2);
  scene.RegisterNodeForEvents(&registeredB);
  scene.RegisterNodeForEvents(&registeredA);
  selected.SetSelected(true);
  scene.SetCamera(0, std::make_unique<LoggingCamera>(&log));

  const std::uint32_t redraw = scene.GetRedrawID();
  EXPECT_FALSE(scene.OnEvent(Event{kEventTimer}));
  EXPECT_EQ(log, (std::vector<std::string>{"listener 1", "listener 2", "registered b", "registered a",
                                           "selected", "timer", "camera 4"}));
  EXPECT_EQ(scene.GetRedrawID(), redraw);

  log.clear();
  scene.OnEvent(Event{kEventKey});
  scene.OnEvent(Event{kEventWheel});
  scene.OnEvent(Event{6});
  EXPECT_EQ(log, (std::vector<std::string>{
                     "listener 1", "listener 2", "registered b", "registered a", "selected", "key", "camera 1",
                     "listener 1", "listener 2", "registered b", "registered a", "selected", "wheel", "camera 7",
                     "listener 1", "listener 2", "registered b", "registered a", "selected", "camera 6"}));

  log.clear();
  EXPECT_FALSE(scene.OnEvent(Event{kEventNone}));
  EXPECT_TRUE(log.empty());

  // The first handler that answers true ends the search and asks for a redraw.
  scene.inputHandles = true;
  EXPECT_TRUE(scene.OnEvent(Event{kEventKey}));
  EXPECT_EQ(log.back(), "key");
  EXPECT_EQ(scene.GetRedrawID(), Scene::NextRedrawID(redraw));
  log.clear();
  LoggingNode handler("handler", &log, true);
  scene.AddNode(&handler);
  scene.RegisterNodeForEvents(&handler);
  EXPECT_TRUE(scene.OnEvent(Event{kEventKey}));
  EXPECT_EQ(log, (std::vector<std::string>{"listener 1", "listener 2", "registered b", "registered a", "handler"}));

  // Deselected and removed nodes no longer get events.
  log.clear();
  selected.SetSelected(false);
  scene.RemoveNode(&registeredB);
  scene.RemoveNode(&handler);
  scene.timerHandles = true;
  EXPECT_TRUE(scene.OnEvent(Event{kEventTimer}));
  EXPECT_EQ(log, (std::vector<std::string>{"listener 1", "listener 2", "registered a", "timer"}));
  for (Node* n : {&registeredA, &selected, &other}) scene.RemoveNode(n);
}

TEST(SceneEvents, PointerClicksAndDrags) {
  std::vector<std::string> log;
  LoggingScene scene(&log);
  auto mouse = [](std::int32_t action, std::uint32_t modifiers) {
    Event e{kEventMouse, action, modifiers};
    return e;
  };
  // A button event with the left button before any move counts as handled
  // by the scene itself.
  EXPECT_TRUE(scene.OnEvent(mouse(kMouseButtonDown, kModifierLeftButton)));
  EXPECT_TRUE(log.empty());
  // A move starts a drag: button events now reach the mouse handler.
  EXPECT_FALSE(scene.OnEvent(mouse(kMouseMove, kModifierLeftButton)));
  EXPECT_FALSE(scene.OnEvent(mouse(kMouseButtonUp, kModifierLeftButton)));
  EXPECT_EQ(log, (std::vector<std::string>{"mouse", "mouse"}));
  // Without the button the drag ends.
  EXPECT_FALSE(scene.OnEvent(mouse(kMouseButtonUp, 0)));
  EXPECT_TRUE(scene.OnEvent(mouse(kMouseButtonDown, kModifierLeftButton)));
  EXPECT_EQ(log.size(), 3u);
}

TEST(Scene, RedrawIDNeverBecomesZero) {
  EXPECT_EQ(Scene::NextRedrawID(0xFFFFFFFFu), 1u);
  EXPECT_EQ(Scene::NextRedrawID(1u), 2u);
  Scene scene;
  const std::uint32_t before = scene.GetRedrawID();
  scene.Redraw();
  EXPECT_EQ(scene.GetRedrawID(), before + 1);
}

TEST(Scene, SelectionFollowsTheNodes) {
  Scene scene;
  Node a, b;
  a.SetSelected(true);  // before adding: the scene learns it on AddNode
  scene.AddNode(&a);
  scene.AddNode(&b);
  b.SetSelected(true);
  EXPECT_EQ(scene.GetSelector().GetSelectedNodes(), (std::vector<Node*>{&a, &b}));
  a.SetSelected(false);
  EXPECT_EQ(scene.GetSelector().GetSelectedNodes(), (std::vector<Node*>{&b}));
  scene.RemoveNode(&b);
  EXPECT_TRUE(scene.GetSelector().GetSelectedNodes().empty());
  EXPECT_TRUE(b.IsSelected());
  scene.RemoveNode(&a);
}

TEST(Scene, CamerasAndLights) {
  Scene scene;
  EXPECT_EQ(scene.GetActiveCamera(), nullptr);
  scene.SetCamera(2, std::make_unique<Camera>());
  scene.SetActiveCamera(2);
  ASSERT_NE(scene.GetActiveCamera(), nullptr);
  EXPECT_EQ(scene.GetActiveCamera()->GetName(), "Camera");
  scene.SetActiveCamera(8);
  EXPECT_EQ(scene.GetActiveCamera(), nullptr);
  scene.SetCamera(8, std::make_unique<Camera>());  // ignored
  scene.SetLight(0, std::make_unique<Light>());
  EXPECT_EQ(scene.GetLight(0)->GetName(), "Light");
  EXPECT_EQ(scene.GetLight(-1), nullptr);
}

TEST(Scene, ResetDeletesOwnedObjectsAndStartsAgain) {
  std::vector<std::string> log;
  TestDisplay display;
  Scene scene;
  auto* owned = new LoggingNode("owned", &log);
  LoggingNode kept("kept", &log);
  scene.AddNode(owned, nullptr, true);
  scene.AddNode(&kept, owned);
  Texture keptTexture;
  scene.AddTexture(&keptTexture);
  scene.AddTexture(new Texture(), true);
  scene.SetCamera(0, std::make_unique<Camera>());
  scene.SetDisplay(&display);
  Node* oldRoot = scene.GetRoot();
  scene.Reset();
  EXPECT_EQ(log, (std::vector<std::string>{"~owned"}));
  EXPECT_EQ(kept.GetScene(), nullptr);
  EXPECT_EQ(keptTexture.GetTextureID(), -1);
  EXPECT_EQ(scene.GetDisplay(), nullptr);
  EXPECT_EQ(scene.GetActiveCamera(), nullptr);
  EXPECT_EQ(scene.GetNumNodes(), 1);
  EXPECT_NE(scene.GetRoot(), nullptr);
  EXPECT_EQ(scene.GetRoot()->GetNodeID(), 0);
  EXPECT_EQ(scene.GetRoot()->GetVisibility(), 0u);
  (void)oldRoot;
  // Still usable afterwards.
  EXPECT_TRUE(scene.AddNode(&kept));
  scene.RemoveNode(&kept);
}

TEST(Scene, FlashAnimationFadesOnTimerSteps) {
  Scene scene;
  scene.ShowFlashAnimation();
  EXPECT_EQ(scene.GetFlashIntensity(), 1.f);
  AnimationPlayer& player = scene.GetAnimationPlayer();
  EXPECT_TRUE(player.Advance(0.0));  // starts now
  EXPECT_FLOAT_EQ(scene.GetFlashIntensity(), 1.f);
  EXPECT_TRUE(player.Advance(Scene::kFlashSeconds / 2));
  EXPECT_NEAR(scene.GetFlashIntensity(), 0.5f, 1e-6f);
  EXPECT_TRUE(player.Advance(Scene::kFlashSeconds));
  EXPECT_EQ(scene.GetFlashIntensity(), 0.f);
  EXPECT_EQ(player.GetNumPlaying(), 0u);
  EXPECT_FALSE(player.Advance(101.0));
}

TEST(AnimationPlayer, StepsRunInOrderAndRemovedNodesStopTheirAnimations) {
  AnimationPlayer player;
  std::vector<std::string> log;
  Node target;
  auto animation = std::make_unique<Animation>();
  animation->AddStep({1.0, [&](double p) { log.push_back("a " + std::to_string(p)); }});
  animation->AddStep({2.0, [&](double p) { log.push_back("b " + std::to_string(p)); }});
  player.Play(std::move(animation));
  auto moving = std::make_unique<Animation>();
  moving->AddStep({5.0, [&](double) { log.push_back("move"); }, &target});
  player.Play(std::move(moving));
  player.Advance(0.0);
  player.Advance(2.0);  // a finishes, b is half-way
  EXPECT_EQ(log, (std::vector<std::string>{"a 0.000000", "move", "a 1.000000", "b 0.500000", "move"}));
  player.RemoveNode(&target);
  EXPECT_EQ(player.GetNumPlaying(), 1u);
  log.clear();
  player.Advance(3.5);
  EXPECT_EQ(log, (std::vector<std::string>{"b 1.000000"}));
  EXPECT_EQ(player.GetNumPlaying(), 0u);
}

}  // namespace
}  // namespace v3d
