#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "foundation/utils/Progress.h"
#include "scan/SLPattern.h"

namespace scan {

// Where the scanner shows its patterns: the projector window, the virtual
// projector of the simulated rig, or a test double.
//
// Thread rules: during a capture DisplayPatterns is called from the capture
// threads of the cameras (one call at a time, under the scanner's capture
// lock) and from the thread running the capture; an implementation must
// accept calls from any thread and must not call back into an image capture.
class SLPatternDisplay {
 public:
  virtual ~SLPatternDisplay() = default;
  // Shows the patterns one after the other (the scanner always passes one);
  // progress may be empty. Returns one entry per pattern shown (the display's
  // own timing information; the scanner ignores it).
  virtual std::vector<double> DisplayPatterns(const utils::ProgressCallback& progress,
                                              const std::vector<SLPatternPtr>& patterns) = 0;
  // Shows the idle image for positioning and focusing; false when it could not.
  virtual bool DisplaySetupPattern() = 0;
};

using SLPatternDisplayPtr = std::shared_ptr<SLPatternDisplay>;

// A display made of two callbacks, the way an application window provides
// one: showPattern puts one pattern on the projector, showSetupPattern the
// idle image. DisplayPatterns shows only the first pattern and returns {0.0};
// it returns an empty vector when there is no callback or no pattern.
class SLCallbackPatternDisplay : public SLPatternDisplay {
 public:
  using ShowPattern = std::function<void(const SLPatternPtr& pattern)>;
  using ShowSetupPattern = std::function<bool()>;

  SLCallbackPatternDisplay(ShowPattern showPattern, ShowSetupPattern showSetupPattern)
      : m_showPattern(std::move(showPattern)), m_showSetupPattern(std::move(showSetupPattern)) {}

  std::vector<double> DisplayPatterns(const utils::ProgressCallback&,
                                      const std::vector<SLPatternPtr>& patterns) override {
    if (!m_showPattern || patterns.empty()) return {};
    m_showPattern(patterns.front());
    return {0.0};
  }
  bool DisplaySetupPattern() override { return m_showSetupPattern && m_showSetupPattern(); }

 private:
  ShowPattern m_showPattern;
  ShowSetupPattern m_showSetupPattern;
};

// Device-specific control of a projector unit (power, keystone, modes) that
// product variants install; the base scanner only holds it. Both operations
// do nothing by default.
class ProjectorControl {
 public:
  virtual ~ProjectorControl() = default;
  // Prepares the unit for showing patterns; false when it could not.
  virtual bool Activate() { return true; }
  // Gives back what Activate changed.
  virtual void Deactivate() {}
};

using ProjectorControlPtr = std::shared_ptr<ProjectorControl>;

}  // namespace scan
