#include "apps/tarvelin-studio/SettingsDialog.h"

#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
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

struct Range {
  double low = 0.0, high = 0.0;
};

// The choices a user has for a number (the schema's min and max); none
// when either end is missing or unreadable.
std::optional<Range> ReadRange(pugi::xml_node element) {
  Range range;
  if (!shell::ParseSettingText(element.attribute("min").as_string(), range.low) ||
      !shell::ParseSettingText(element.attribute("max").as_string(), range.high) ||
      !(range.low < range.high))
    return std::nullopt;
  return range;
}

void DrawSetting(shell::Settings& settings, pugi::xml_node element) {
  const std::string type = element.name();
  const std::string title = element.attribute("title").as_string(element.name());
  const std::string value =
      element.attribute("value").as_string(element.attribute("defaultvalue").as_string());
  const bool readOnly = std::string(element.attribute("saving").as_string()) == "false";
  const bool invalid = bool(element.attribute("invalid"));
  const std::optional<Range> range = ReadRange(element);
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
    bool changed = false;
    if (range && range->high - range->low <= 64.0)
      changed = ImGui::SliderInt(title.c_str(), &number, int(range->low), int(range->high), "%d",
                                 ImGuiSliderFlags_AlwaysClamp);
    else
      changed =
          ImGui::InputInt(title.c_str(), &number, 1, 10, ImGuiInputTextFlags_EnterReturnsTrue);
    if (changed) {
      if (range) number = int(std::clamp(double(number), range->low, range->high));
      settings.SetValue(element, std::to_string(number));
    }
  } else if (type == "Double" || type == "Float") {
    double number = 0.0;
    shell::ParseSettingText(value, number);
    if (ImGui::InputDouble(title.c_str(), &number, 0.0, 0.0, "%.6g",
                           ImGuiInputTextFlags_EnterReturnsTrue)) {
      if (range) number = std::clamp(number, range->low, range->high);
      settings.SetValue(element, shell::FormatSettingText(number));
    }
  } else {
    char text[512];
    std::snprintf(text, sizeof text, "%s", value.c_str());
    if (ImGui::InputText(title.c_str(), text, sizeof text, ImGuiInputTextFlags_EnterReturnsTrue))
      settings.SetValue(element, text);
  }
  if (invalid) ImGui::PopStyleColor();
  if (readOnly) ImGui::EndDisabled();
  if (ImGui::IsItemHovered()) {
    const std::string limits = range ? "; " + shell::FormatSettingText(range->low) + " to " +
                                           shell::FormatSettingText(range->high)
                                     : std::string();
    ImGui::SetTooltip("%s (%s), default %s%s%s", title.c_str(), type.c_str(),
                      element.attribute("defaultvalue").as_string(), limits.c_str(),
                      readOnly ? "; run-time state, not saved" : "");
  }
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
  if (ImGui::Begin((std::string(m_texts("Studio_Settings")) + "###settings").c_str(), &open)) {
    ImGui::InputText(m_texts("Studio_Find"), m_filter, sizeof m_filter);
    ImGui::SameLine();
    const bool close = ImGui::Button(m_texts("Studio_Close"));
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
