// Data tips and links: picking sequences driven by pointer events over a
// display double that reports fixed surface points.
#include <gtest/gtest.h>

#include "v3d/LinkListener.h"
#include "v3d/Scene.h"
#include "v3d/TestDisplay.h"

namespace v3d {
namespace {

// Picks land on `target` at a point that depends on the cursor.
class PickingDisplay : public testing::TestDisplay {
 public:
  bool PickSurface(std::int32_t x, std::int32_t y, float radius, SurfacePick& pick) override {
    ++picks;
    lastRadius = radius;
    if (!target || x < 0) return false;
    pick.nodeID = target->GetNodeID();
    pick.meshIndex = 0;
    pick.primIndex = 7;
    pick.local = math::Vec3d(x, y, 0.0);
    pick.world = target->GetWorldFrame().MultP(pick.local);
    return true;
  }
  Geo* target = nullptr;
  int picks = 0;
  float lastRadius = 0.f;
};

class DataTips : public ::testing::Test {
 protected:
  void SetUp() override {
    scene.SetDisplay(&display);
    scene.AddNode(&surface);
    surface.SetFrame(math::FTrans(100.0, 0.0, 0.0));
    display.target = &surface;
    scene.AddNode(&links);
    scene.RegisterNodeForEvents(&links);
  }
  void TearDown() override {
    links.DeleteAllDataTips();
    scene.RemoveNode(&links);
    scene.RemoveNode(&surface);
    scene.SetDisplay(nullptr);
  }
  bool Mouse(std::int32_t subKind, std::int32_t x, std::int32_t y) {
    Event event;
    event.kind = kEventMouse;
    event.subKind = subKind;
    event.x = x;
    event.y = y;
    event.modifiers = subKind == kMouseButtonDown ? std::uint32_t{kModifierLeftButton} : 0u;
    return scene.OnEvent(event);
  }
  bool Click(std::int32_t x, std::int32_t y) {
    Mouse(kMouseButtonDown, x, y);
    return Mouse(kMouseButtonUp, x, y);
  }

  PickingDisplay display;
  Scene scene;
  Geo surface{3};
  LinkListener links;
};

TEST_F(DataTips, APickingSequenceOfTwoClicksMakesALink) {
  ASSERT_TRUE(links.NewPickingSequence(2));
  EXPECT_TRUE(links.IsPickingInProgress());
  EXPECT_EQ(links.GetCountdownLabel(), "2");
  EXPECT_TRUE(Click(30, 40));
  EXPECT_EQ(display.lastRadius, 10.f);
  EXPECT_EQ(links.GetCountdownLabel(), "1");
  ASSERT_EQ(links.GetNumDataTips(), 1u);
  DataTip* first = links.GetDataTip(links.GetDataTipNodeIDs()[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetParent(), &surface);
  EXPECT_TRUE(first->IsEdited());
  EXPECT_EQ(first->GetPosition(), math::Vec3f(30.f, 40.f, 0.f));
  EXPECT_EQ(first->GetPositionMetaData().primIndex, 7);

  EXPECT_TRUE(Click(60, 80));
  EXPECT_FALSE(links.IsPickingInProgress());
  EXPECT_FALSE(first->IsEdited());  // committed
  ASSERT_TRUE(links.HasLinks());
  const std::int32_t id = links.GetLinkIDs()[0];
  EXPECT_DOUBLE_EQ(links.GetLinkLength(id), 50.0);  // (30, 40) to (60, 80)
  EXPECT_EQ(LinkListener::FormatLength(links.GetLinkLength(id)), "50.00 mm");
  EXPECT_EQ(links.GetLink(id)->field0, 0);
  EXPECT_EQ(links.GetLink(id)->field1, 256);
  // The tips sit in world coordinates through their parent's frame.
  EXPECT_EQ(first->GetWorldFrame().GetTrans(), math::Vec3d(130.0, 40.0, 0.0));
}

TEST_F(DataTips, DragsDoNotPickAndEscapeCancels) {
  ASSERT_TRUE(links.NewPickingSequence(3));
  Mouse(kMouseButtonDown, 10, 10);
  Mouse(kMouseMove, 40, 10);
  EXPECT_FALSE(Mouse(kMouseButtonUp, 40, 10));  // an orbit, not a pick
  EXPECT_EQ(display.picks, 0);
  EXPECT_TRUE(Click(40, 10));
  EXPECT_EQ(links.GetNumDataTips(), 1u);
  Event escape;
  escape.kind = kEventKey;
  escape.key = 27;
  EXPECT_TRUE(scene.OnEvent(escape));
  EXPECT_FALSE(links.IsPickingInProgress());
  EXPECT_EQ(links.GetNumDataTips(), 1u);  // the placed tip stays, without a link
  EXPECT_FALSE(links.HasLinks());
  EXPECT_FALSE(scene.OnEvent(escape));  // nothing to cancel any more
  // A click that finds no surface places nothing.
  ASSERT_TRUE(links.NewPickingSequence(1));
  EXPECT_TRUE(Click(-5, 10));
  EXPECT_EQ(links.GetNumDataTips(), 1u);
  EXPECT_TRUE(links.IsPickingInProgress());
}

TEST_F(DataTips, SequencesAndCountdownLabels) {
  EXPECT_FALSE(links.NewPickingSequence(0));
  EXPECT_FALSE(links.IsPickingInProgress());
  EXPECT_TRUE(links.GetActivePicks().empty());
  links.SetDrawCountdownSequence("{first}{second}{third}");
  ASSERT_TRUE(links.NewPickingSequence(2));
  EXPECT_EQ(links.GetCountdownLabel(), "second");
  links.SetDrawCountdownSequence("{only}");
  EXPECT_EQ(links.GetCountdownLabel(), "");
  links.SetDrawCountdownSequence("");
  EXPECT_EQ(links.GetCountdownLabel(), "");
  links.CancelPicking();
  EXPECT_FALSE(links.IsPickingInProgress());
  // A listener outside a scene refuses to pick.
  DataTipListener loose;
  EXPECT_FALSE(loose.NewPickingSequence(1));
  EXPECT_TRUE(loose.GetActivePicks().empty());
}

TEST_F(DataTips, NewLinkWithAMissingParentRemovesTheFirstTip) {
  const int nodes = scene.GetNumNodes();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(links.NewLink({1.f, 2.f, 3.f}, {4.f, 5.f, 6.f}, surface.GetNodeID(), 77), nullptr);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors,
            "Error in DataTipListener::NewDataTip: Could not find parent node with ID 77\n"
            "Error in LinkListener::NewLink: Could not create one of the data tips.\n");
  EXPECT_EQ(scene.GetNumNodes(), nodes);
  EXPECT_EQ(links.GetNumDataTips(), 0u);
  EXPECT_FALSE(links.HasLinks());

  Link* link = links.NewLink({0.f, 0.f, 0.f}, {3.f, 4.f, 0.f}, surface.GetNodeID(), surface.GetNodeID());
  ASSERT_NE(link, nullptr);
  EXPECT_DOUBLE_EQ(links.GetLinkLength(links.GetLinkIDs()[0]), 5.0);
  EXPECT_EQ(links.GetDataTip(1024), nullptr);
  EXPECT_EQ(links.GetDataTip(surface.GetNodeID()), nullptr);  // not a data tip
  // Removing a tip takes its link with it; the other tip stays.
  EXPECT_TRUE(links.DeleteDataTip(link->tipA));
  EXPECT_FALSE(links.HasLinks());
  EXPECT_EQ(links.GetNumDataTips(), 1u);
  links.DeleteAllDataTips();
  EXPECT_EQ(scene.GetNumNodes(), nodes);
}

TEST_F(DataTips, NewDataTipErrors) {
  DataTipListener loose;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(loose.NewDataTip({0.f, 0.f, 0.f}, 0), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error in DataTipListener::NewDataTip: Invalid scene pointer.\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(links.NewDataTip({0.f, 0.f, 0.f}, 2000), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error in DataTipListener::NewDataTip: Could not find parent node with ID 2000\n");
}

TEST_F(DataTips, RemapLinkIdsRenumbersInOrder) {
  for (int k = 0; k < 3; ++k) links.NewLink({0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, surface.GetNodeID(), surface.GetNodeID());
  links.DeleteDataTip(links.GetLink(1)->tipB);
  EXPECT_EQ(links.GetLinkIDs(), (std::vector<std::int32_t>{0, 2}));
  links.RemapLinkIDs();
  EXPECT_EQ(links.GetLinkIDs(), (std::vector<std::int32_t>{0, 1}));
  links.DeleteAllLinks();
  EXPECT_FALSE(links.HasLinks());
}

}  // namespace
}  // namespace v3d
