#include "surf/fusion/FrameUndo.h"

#include <gtest/gtest.h>

namespace surf {
namespace {

FrameSnapshot At(const utils::Guid& guid, double x) { return {{guid, math::FTrans(x, 0.0, 0.0)}}; }
double X(const FrameSnapshot& s, const utils::Guid& guid) { return s.at(guid).m[12]; }

TEST(FrameHistory, UndoAndRedoWalkBackAndForth) {
  const utils::Guid guid = utils::Guid::NewGuid();
  FrameHistory history;
  FrameSnapshot restore;
  EXPECT_FALSE(history.Undo(At(guid, 0.0), restore));
  EXPECT_FALSE(history.Redo(At(guid, 0.0), restore));

  history.Remember(At(guid, 1.0));  // then moved to 2
  history.Remember(At(guid, 2.0));  // then moved to 3
  EXPECT_EQ(history.GetNumUndoSteps(), 2u);
  ASSERT_TRUE(history.Undo(At(guid, 3.0), restore));
  EXPECT_EQ(X(restore, guid), 2.0);
  ASSERT_TRUE(history.Undo(At(guid, 2.0), restore));
  EXPECT_EQ(X(restore, guid), 1.0);
  EXPECT_EQ(history.GetNumUndoSteps(), 0u);
  EXPECT_EQ(history.GetNumRedoSteps(), 2u);
  ASSERT_TRUE(history.Redo(At(guid, 1.0), restore));
  EXPECT_EQ(X(restore, guid), 2.0);
  ASSERT_TRUE(history.Redo(At(guid, 2.0), restore));
  EXPECT_EQ(X(restore, guid), 3.0);
  EXPECT_FALSE(history.Redo(At(guid, 3.0), restore));
  EXPECT_EQ(X(restore, guid), 3.0);
}

TEST(FrameHistory, RememberingForgetsTheRedoSteps) {
  const utils::Guid guid = utils::Guid::NewGuid();
  FrameHistory history;
  FrameSnapshot restore;
  history.Remember(At(guid, 1.0));
  history.Undo(At(guid, 2.0), restore);
  EXPECT_EQ(history.GetNumRedoSteps(), 1u);
  history.Remember(At(guid, 1.0));
  EXPECT_EQ(history.GetNumRedoSteps(), 0u);
  EXPECT_EQ(history.GetNumUndoSteps(), 1u);
  history.Clear();
  EXPECT_EQ(history.GetNumUndoSteps(), 0u);
}

TEST(FrameHistory, TheOldestStepsAreDroppedBeyondTheDepth) {
  const utils::Guid guid = utils::Guid::NewGuid();
  FrameHistory history(3);
  for (int i = 0; i < 5; ++i) history.Remember(At(guid, i));
  EXPECT_EQ(history.GetNumUndoSteps(), 3u);
  FrameSnapshot restore;
  for (int expected = 4; expected >= 2; --expected) {
    ASSERT_TRUE(history.Undo(At(guid, 9.0), restore));
    EXPECT_EQ(X(restore, guid), expected);
  }
  EXPECT_FALSE(history.Undo(At(guid, 9.0), restore));
  EXPECT_EQ(history.GetNumRedoSteps(), 3u);
}

}  // namespace
}  // namespace surf
