#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "scan/SLPatternDisplay.h"

namespace shell {

// The projector's pattern window as the scan workflow sees it: a display of
// known size in projector pixels that shows the scanner's patterns through
// a colour mask, shows the setup pattern between scans and can be raised
// above other windows. The desktop application puts a full-screen window
// behind it; headless runs put the virtual projector or a test double.
//
// Colour mask bits: 0 red, 1 green, 2 blue, 3 alpha (15 shows every channel).
//
// Thread rules: the scanner calls the display from its capture threads; the
// size, the mask and BringToFront are used from the user-interface thread.
class PatternWindow {
 public:
  static constexpr std::uint32_t kAllChannels = 15;

  virtual ~PatternWindow() = default;
  virtual std::uint32_t GetWidth() const = 0;
  virtual std::uint32_t GetHeight() const = 0;
  virtual void SetColorMask(std::uint32_t mask) = 0;
  virtual std::uint32_t GetColorMask() const = 0;
  // Shows the idle image for positioning and focusing; false when it could not.
  virtual bool ShowSetupPattern() = 0;
  // Raises the window above every other one (nothing when headless).
  virtual void BringToFront() {}
  // The display the scanner shows its patterns through (the window's own).
  virtual scan::SLPatternDisplayPtr GetPatternDisplay() = 0;
};

// A pattern window over any pattern display: every pattern passed on to the
// inner display is wrapped so that it renders through the window's colour
// mask (the scan's own pattern objects stay untouched, so the scanner still
// files frames under them). bringToFront may be empty.
class MaskedPatternWindow : public PatternWindow {
 public:
  // Throws std::invalid_argument for a null display or a zero size.
  MaskedPatternWindow(scan::SLPatternDisplayPtr inner, std::uint32_t width, std::uint32_t height,
                      std::function<void()> bringToFront = {});

  std::uint32_t GetWidth() const override { return m_width; }
  std::uint32_t GetHeight() const override { return m_height; }
  void SetColorMask(std::uint32_t mask) override { m_mask->store(mask & kAllChannels); }
  std::uint32_t GetColorMask() const override { return m_mask->load(); }
  bool ShowSetupPattern() override { return m_inner->DisplaySetupPattern(); }
  void BringToFront() override;
  scan::SLPatternDisplayPtr GetPatternDisplay() override { return m_display; }

 private:
  class Display;

  scan::SLPatternDisplayPtr m_inner;
  std::uint32_t m_width;
  std::uint32_t m_height;
  std::function<void()> m_bringToFront;
  std::shared_ptr<std::atomic<std::uint32_t>> m_mask;
  scan::SLPatternDisplayPtr m_display;
};

// Shows every pattern on two displays: the first one's results count (the
// device the scanner depends on), the second one follows it (a window that
// mirrors what a simulated projector shows). Either call goes to the first
// display, then to the second.
class TeePatternDisplay : public scan::SLPatternDisplay {
 public:
  // Throws std::invalid_argument for a null display.
  TeePatternDisplay(scan::SLPatternDisplayPtr first, scan::SLPatternDisplayPtr second);
  std::vector<double> DisplayPatterns(const utils::ProgressCallback& progress,
                                      const std::vector<scan::SLPatternPtr>& patterns) override;
  bool DisplaySetupPattern() override;

 private:
  scan::SLPatternDisplayPtr m_first;
  scan::SLPatternDisplayPtr m_second;
};

// The colour mask of a "PatternColor" setting: "red" 9, "green" 10, "blue"
// 12, anything else 15.
std::uint32_t PatternColorMask(const std::string& patternColor);

}  // namespace shell
