#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "v3d/Object.h"

namespace v3d {

class Node;

// One step of an animation: for duration seconds, apply is called with the
// step's progress in 0…1 (the last call always gets exactly 1). A step may
// name the node it changes, so that removing that node drops the animation.
struct AnimationStep {
  double duration = 0.0;  // seconds
  std::function<void(double progress)> apply;
  const Node* target = nullptr;
};

// An ordered list of steps that the scene plays one after the other.
class Animation : public Object {
 public:
  void AddStep(AnimationStep step) { m_steps.push_back(std::move(step)); }
  const std::vector<AnimationStep>& GetSteps() const { return m_steps; }
  bool Targets(const Node* node) const;

 private:
  std::vector<AnimationStep> m_steps;
};

// Plays the scene's animations on the display's timer. Time is in seconds
// on any monotonic clock; an animation starts at the first Advance after
// Play.
class AnimationPlayer {
 public:
  void Play(std::unique_ptr<Animation> animation);
  // Runs every animation up to time now and drops finished ones. True when
  // some step was applied (the view changed).
  bool Advance(double now);
  // Drops the animations that change the node.
  void RemoveNode(const Node* node);
  std::size_t GetNumPlaying() const { return m_playing.size(); }

 private:
  struct Playing {
    std::unique_ptr<Animation> animation;
    double start = -1.0;  // not yet started
    std::size_t step = 0;
    double stepStart = 0.0;
  };
  std::vector<Playing> m_playing;
};

}  // namespace v3d
