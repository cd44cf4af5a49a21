#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace studio {

// The test mode's report: where the widgets of the current frame are on the
// screen (X root-window pixels: left, top, width, height) and what the
// shell's state is, written as JSON to a file (through a temporary file
// renamed into place) a few times a second and whenever the state changed.
// Tests find the buttons they click there and wait for the states they
// expect. Off when the file is empty.
//
// User-interface thread only.
class TestProbe {
 public:
  explicit TestProbe(std::filesystem::path file) : m_file(std::move(file)) {}
  bool IsOn() const { return !m_file.empty(); }

  // origin: the main window's client area on the screen.
  void BeginFrame(int originX, int originY);
  // The rectangle of the last ImGui item under id.
  void Item(const std::string& id);
  // A rectangle in window pixels.
  void Rect(const std::string& id, float x, float y, float width, float height);
  // Writes the frame's widgets with the state; force: now.
  void EndFrame(nlohmann::json state, bool force = false);

 private:
  std::filesystem::path m_file;
  int m_originX = 0, m_originY = 0;
  std::uint64_t m_frame = 0;
  nlohmann::json m_widgets = nlohmann::json::object();
  std::string m_lastState;
  std::chrono::steady_clock::time_point m_lastWrite{};
};

}  // namespace studio
