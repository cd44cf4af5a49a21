#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/utils/DisplayInfo.h"
#include "scan/SLPatternDisplay.h"

struct GLFWwindow;

namespace studio {

// The projector's pattern window: a GLFW window of its own, full screen on
// the projector's monitor (or windowed, for the virtual rig, whose
// simulated projector is the one the cameras see), that shows exactly the
// patterns the scanner hands to its display, each drawn over the whole
// window at the scanner's pattern size, and between scans the setup
// pattern (a frame and a cross for placing the projector).
//
// The scanner's threads call DisplayPatterns; the window's own thread (the
// user-interface thread) draws the newest pattern in Present. With
// waitUntilShown DisplayPatterns returns only once the pattern is on the
// screen (at most a second), so that a real projector's patterns are timed
// by the scanner; a mirror of the simulated projector never waits.
class ProjectorWindow : public scan::SLPatternDisplay {
 public:
  struct Options {
    bool fullScreen = false;
    int windowWidth = 480, windowHeight = 270;  // windowed size, screen pixels
    int windowX = -1, windowY = -1;             // windowed position; −1: GLFW's choice
    bool waitUntilShown = false;
    std::string title = "Tarvelin pattern window";
  };

  ProjectorWindow() = default;
  ~ProjectorWindow() override;
  ProjectorWindow(const ProjectorWindow&) = delete;
  ProjectorWindow& operator=(const ProjectorWindow&) = delete;

  // UI thread. False with a reason when the window cannot be made.
  bool Create(const Options& options, std::string& error);
  void Destroy();
  GLFWwindow* GetWindow() const { return m_window; }

  // The scanner's pattern size in projector pixels.
  void SetPatternSize(std::uint32_t width, std::uint32_t height);
  // Full screen on the monitor, or windowed when null or when the options
  // say windowed. UI thread.
  void Place(const utils::DisplayInfo* monitor);
  // UI thread, every pass of the loop: draws a newer pattern (or a redraw
  // the window system asked for) and shows it.
  void Present();

  // --- scan::SLPatternDisplay (any thread)
  std::vector<double> DisplayPatterns(const utils::ProgressCallback& progress,
                                      const std::vector<scan::SLPatternPtr>& patterns) override;
  bool DisplaySetupPattern() override;

  // Patterns the scanner asked for, and of them those drawn, since creation.
  std::uint64_t GetRequestedCount() const;
  std::uint64_t GetShownCount() const;
  // The last drawn image (blue, green, red, alpha rows, top row first) and
  // its size in projector pixels.
  std::vector<std::uint8_t> GetShownImage(std::uint32_t& width, std::uint32_t& height) const;

 private:
  void Draw(bool newImage);
  void RenderSetupPattern(std::vector<std::uint8_t>& bgra) const;

  Options m_options;
  GLFWwindow* m_window = nullptr;
  std::uint32_t m_texture = 0;
  bool m_redraw = true;

  mutable std::mutex m_mutex;
  std::condition_variable m_shownChanged;
  std::uint32_t m_width = 480, m_height = 270;
  scan::SLPatternPtr m_pending;
  bool m_setupPending = true;
  std::uint64_t m_requested = 0;  // every DisplayPatterns and DisplaySetupPattern call
  std::uint64_t m_patterns = 0;   // of them patterns
  std::uint64_t m_shownPatterns = 0;
  std::uint64_t m_shownTicket = 0;
  std::vector<std::uint8_t> m_image;  // the last drawn one
  bool m_closing = false;
};

}  // namespace studio
