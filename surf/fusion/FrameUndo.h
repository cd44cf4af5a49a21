#pragma once

#include <cstddef>
#include <deque>
#include <map>

#include "foundation/math/Frame.h"
#include "foundation/utils/Guid.h"

namespace surf {

// The node frames (parent_T_node) of a set of scans, by geo guid.
using FrameSnapshot = std::map<utils::Guid, math::Frame4d>;

// Undo and redo of node frames: a bounded stack of snapshots to go back to
// and one of snapshots to go forward to again. The caller takes a snapshot
// of the current frames before a move (Remember) and applies the snapshot
// that Undo or Redo hands back; scans that no longer exist are simply not
// found in it.
class FrameHistory {
 public:
  // The number of undo steps kept; older ones are dropped.
  static constexpr std::size_t kDefaultMaxSteps = 100;

  explicit FrameHistory(std::size_t maxSteps = kDefaultMaxSteps) : m_maxSteps(maxSteps) {}

  // Pushes the frames as the state an Undo returns to; forgets the redo
  // steps.
  void Remember(FrameSnapshot current);
  // current goes onto the redo stack and restore receives the latest undo
  // step. False, with nothing changed, when there is none.
  bool Undo(FrameSnapshot current, FrameSnapshot& restore);
  // The inverse of Undo.
  bool Redo(FrameSnapshot current, FrameSnapshot& restore);

  std::size_t GetNumUndoSteps() const { return m_undo.size(); }
  std::size_t GetNumRedoSteps() const { return m_redo.size(); }
  void Clear();

 private:
  void Push(std::deque<FrameSnapshot>& stack, FrameSnapshot snapshot) const;

  std::size_t m_maxSteps;
  std::deque<FrameSnapshot> m_undo;
  std::deque<FrameSnapshot> m_redo;
};

}  // namespace surf
