#include "apps/tarvelin-studio/SettingsDialog.h"

#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <pugixml.hpp>

#include "shell/SettingPath.h"
#include "shell/Settings.h"

namespace studio {

namespace {

bool IsSetting(pugi::xml_node element) {
  return element.attribute("defaultvalue") || element.attribute("value");
}

bool Matches(pugi::xml_node element, const std::string& filter) {
  if (filter.empty()) return true;
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
  };
  if (lower(element.attribute("title").as_string()).find(filter) != std::string::npos) return true;
  for (pugi::xml_node child : element.children())
    if (child.type() == pugi::node_element && Matches(child, filter)) return true;
  return false;
}

void DrawSetting(shell::Settings& settings, pugi::xml_node element) {
  const std::string type = element.name();
  const std::string title = element.attribute("title").as_string(element.name());
  const std::string value =
      element.attribute("value").as_string(element.attribute("defaultvalue").as_string());
  const bool readOnly = std::string(element.attribute("saving").as_string()) == "false";
  const bool invalid = bool(element.attribute("invalid"));
  ImGui::PushID(element.internal_object());
  if (readOnly) ImGui::BeginDisabled();
  if (invalid) ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.6f, 0.1f, 0.1f, 1.f));
  ImGui::SetNextItemWidth(160.f);
  if (type == "Bool") {
    bool on = false;
    shell::ParseSettingText(value, on);
    if (ImGui::Checkbox(title.c_str(), &on)) settings.SetValue(element, on ? "true" : "false");
  } else if (type == "Int") {
    int number = 0;
    shell::ParseSettingText(value, number);
    if (ImGui::InputInt(title.c_str(), &number, 1, 10, ImGuiInputTextFlags_EnterReturnsTrue))
      settings.SetValue(element, std::to_string(number));
  } else if (type == "Double" || type == "Float") {
    double number = 0.0;
    shell::ParseSettingText(value, number);
    if (ImGui::InputDouble(title.c_str(), &number, 0.0, 0.0, "%.6g",
                           ImGuiInputTextFlags_EnterReturnsTrue))
      settings.SetValue(element, shell::FormatSettingText(number));
  } else {
    char text[512];
    std::snprintf(text, sizeof text, "%s", value.c_str());
    if (ImGui::InputText(title.c_str(), text, sizeof text, ImGuiInputTextFlags_EnterReturnsTrue))
      settings.SetValue(element, text);
  }
  if (invalid) ImGui::PopStyleColor();
  if (readOnly) ImGui::EndDisabled();
  if (ImGui::IsItemHovered())
    ImGui::SetTooltip("%s (%s), default %s%s", title.c_str(), type.c_str(),
                      element.attribute("defaultvalue").as_string(),
                      readOnly ? "; run-time state, not saved" : "");
  ImGui::PopID();
}

void DrawGroup(shell::Settings& settings, pugi::xml_node group, const std::string& filter) {
  for (pugi::xml_node child : group.children()) {
    if (child.type() != pugi::node_element || !Matches(child, filter)) continue;
    if (IsSetting(child)) {
      DrawSetting(settings, child);
      continue;
    }
    const std::string title = child.attribute("title").as_string(child.name());
    if (!filter.empty()) ImGui::SetNextItemOpen(true, ImGuiCond_Always);
    if (ImGui::TreeNode(title.c_str())) {
      DrawGroup(settings, child, filter);
      ImGui::TreePop();
    }
  }
}

}  // namespace

bool DrawSettingsGroup(shell::Settings& settings, const std::string& path) {
  const pugi::xpath_node group =
      settings.GetXmlDocument().select_node(shell::SettingPath(path).c_str());
  if (!group) return false;
  DrawGroup(settings, group.node(), {});
  return true;
}

void SettingsDialog::Draw() {
  if (!m_open) return;
  ImGui::SetNextWindowSize(ImVec2(560, 640), ImGuiCond_FirstUseEver);
  bool open = true;
  if (ImGui::Begin("Settings", &open)) {
    ImGui::InputText("Find", m_filter, sizeof m_filter);
    ImGui::SameLine();
    const bool close = ImGui::Button("Close");
    ImGui::Separator();
    ImGui::BeginChild("tree");
    std::string filter = m_filter;
    std::transform(filter.begin(), filter.end(), filter.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    DrawGroup(m_settings, m_settings.GetXmlDocument().document_element(), filter);
    ImGui::EndChild();
    if (close) open = false;
  }
  ImGui::End();
  if (!open && m_settings.CloseDialog()) {
    m_settings.SaveSettings();
    m_open = false;
  }
}

}  // namespace studio
