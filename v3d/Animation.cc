#include "v3d/Animation.h"

#include <algorithm>

namespace v3d {

bool Animation::Targets(const Node* node) const {
  return std::any_of(m_steps.begin(), m_steps.end(),
                     [node](const AnimationStep& s) { return s.target == node; });
}

void AnimationPlayer::Play(std::unique_ptr<Animation> animation) {
  if (animation) m_playing.push_back(Playing{std::move(animation)});
}

bool AnimationPlayer::Advance(double now) {
  bool applied = false;
  for (Playing& p : m_playing) {
    if (p.start < 0.0) p.start = p.stepStart = now;
    const auto& steps = p.animation->GetSteps();
    while (p.step < steps.size()) {
      const AnimationStep& step = steps[p.step];
      const double elapsed = now - p.stepStart;
      const double progress = step.duration > 0.0 ? std::clamp(elapsed / step.duration, 0.0, 1.0) : 1.0;
      if (step.apply) step.apply(progress);
      applied = true;
      if (progress < 1.0) break;
      p.stepStart += step.duration;
      ++p.step;
    }
  }
  std::erase_if(m_playing, [](const Playing& p) { return p.step >= p.animation->GetSteps().size(); });
  return applied;
}

void AnimationPlayer::RemoveNode(const Node* node) {
  std::erase_if(m_playing, [node](const Playing& p) { return p.animation->Targets(node); });
}

}  // namespace v3d
