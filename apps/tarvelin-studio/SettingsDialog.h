#pragma once

#include <string>

#include "apps/tarvelin-studio/StudioTexts.h"

namespace shell {
class Settings;
}

namespace studio {

// The settings dialog, made from the settings store itself: every group a
// tree node, every setting an editor of its type (Bool a check box, Int and
// Float/Double a number field, Text a text field) with its default shown,
// run-time state (saving="false") read only. Edits go through
// Settings::SetValue, so the shell's subscribers see them at once; a value
// a change handler rejects is marked, and the dialog does not close while
// one is (Settings::CloseDialog). Closing saves the user file.
//
// User-interface thread, between ImGui::NewFrame and ImGui::Render.
class SettingsDialog {
 public:
  SettingsDialog(shell::Settings& settings, const Texts& texts)
      : m_settings(settings), m_texts(texts) {}
  void Open() { m_open = true; }
  bool IsOpen() const { return m_open; }
  // Draws the dialog when open.
  void Draw();

 private:
  shell::Settings& m_settings;
  const Texts& m_texts;
  bool m_open = false;
  char m_filter[64] = {};
};

// The editors of the settings below a group, as in the dialog (path as
// SettingPath takes it, e.g. "ShapeFusion/Fusion"); a page shows its part of
// the settings with it. False when the path names no group.
bool DrawSettingsGroup(shell::Settings& settings, const std::string& path);

}  // namespace studio
