#include "apps/tarvelin-studio/TestProbe.h"

#include <imgui.h>

#include <cmath>
#include <fstream>
#include <system_error>

namespace studio {

void TestProbe::BeginFrame(int originX, int originY) {
  m_originX = originX;
  m_originY = originY;
  m_widgets = nlohmann::json::object();
  ++m_frame;
}

void TestProbe::Item(const std::string& id) {
  if (!IsOn()) return;
  const ImVec2 min = ImGui::GetItemRectMin(), max = ImGui::GetItemRectMax();
  Rect(id, min.x, min.y, max.x - min.x, max.y - min.y);
}

void TestProbe::Rect(const std::string& id, float x, float y, float width, float height) {
  if (!IsOn()) return;
  m_widgets[id] = {std::lround(x) + m_originX, std::lround(y) + m_originY, std::lround(width),
                   std::lround(height)};
}

void TestProbe::EndFrame(nlohmann::json state, bool force) {
  if (!IsOn()) return;
  const std::string text = state.dump();
  const auto now = std::chrono::steady_clock::now();
  if (!force && text == m_lastState && now - m_lastWrite < std::chrono::milliseconds(200)) return;
  m_lastState = text;
  m_lastWrite = now;
  nlohmann::json report;
  report["frame"] = m_frame;
  report["widgets"] = m_widgets;
  report["state"] = std::move(state);
  const std::filesystem::path temporary = m_file.string() + ".tmp";
  {
    std::ofstream out(temporary);
    out << report.dump(1) << '\n';
    if (!out) return;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, m_file, ec);
}

}  // namespace studio
