#include "surf/fusion/FrameUndo.h"

namespace surf {

void FrameHistory::Push(std::deque<FrameSnapshot>& stack, FrameSnapshot snapshot) const {
  if (m_maxSteps == 0) return;
  stack.push_back(std::move(snapshot));
  while (stack.size() > m_maxSteps) stack.pop_front();
}

void FrameHistory::Remember(FrameSnapshot current) {
  Push(m_undo, std::move(current));
  m_redo.clear();
}

bool FrameHistory::Undo(FrameSnapshot current, FrameSnapshot& restore) {
  if (m_undo.empty()) return false;
  restore = std::move(m_undo.back());
  m_undo.pop_back();
  Push(m_redo, std::move(current));
  return true;
}

bool FrameHistory::Redo(FrameSnapshot current, FrameSnapshot& restore) {
  if (m_redo.empty()) return false;
  restore = std::move(m_redo.back());
  m_redo.pop_back();
  Push(m_undo, std::move(current));
  return true;
}

void FrameHistory::Clear() {
  m_undo.clear();
  m_redo.clear();
}

}  // namespace surf
