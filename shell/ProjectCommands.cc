#include "shell/ProjectCommands.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "shell/SettingPath.h"
#include "shell/Settings.h"
#include "surf/files/MeshFormats.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

std::string Bytes(std::uintmax_t bytes) {
  if (bytes >= (1u << 30)) return std::to_string(bytes >> 30) + " GB";
  if (bytes >= (1u << 20)) return std::to_string(bytes >> 20) + " MB";
  if (bytes >= (1u << 10)) return std::to_string(bytes >> 10) + " kB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

const std::vector<std::string>& ProjectCommands::ExportExtensions() {
  static const std::vector<std::string> extensions{".tarvelinmesh", ".stl", ".obj", ".ply", ".3mf"};
  return extensions;
}

ProjectCommands::ProjectCommands(Settings& settings, surf::ShapeFusion& fusion,
                                 std::vector<surf::ProjectItemModule*> modules, LogSink log)
    : m_settings(settings),
      m_fusion(fusion),
      m_modules(std::move(modules)),
      m_log(log ? std::move(log) : StdoutLogSink()) {}

fs::path ProjectCommands::GetProjectPath() const {
  const std::string dir =
      m_settings.GetSetting<std::string>(SettingPath("Project/ProjectDir")).Value();
  const std::string name =
      m_settings.GetSetting<std::string>(SettingPath("Project/ProjectName")).Value();
  if (name.empty()) return {};
  return fs::path(dir) / name;
}

void ProjectCommands::SetCurrent(const fs::path& path) {
  const fs::path absolute = fs::absolute(path);
  m_settings.GetSetting<std::string>(SettingPath("Project/ProjectDir"))
      .SetValue(absolute.parent_path().string());
  m_settings.GetSetting<std::string>(SettingPath("Project/ProjectName"))
      .SetValue(absolute.filename().string());
  m_settings.GetSetting<bool>(SettingPath("Project/ProjectHasUnsavedChanges")).SetValue(false);
}

void ProjectCommands::MarkChanged() {
  m_settings.GetSetting<bool>(SettingPath("Project/ProjectHasUnsavedChanges")).SetValue(true);
}

bool ProjectCommands::HasUnsavedChanges() const {
  return m_settings.GetSetting<bool>(SettingPath("Project/ProjectHasUnsavedChanges")).Value();
}

std::string ProjectCommands::WriteFailure(const fs::path& path, const std::string& what) {
  std::string message = what + " could not be written to " + path.string() + ".";
  std::error_code ec;
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  if (!fs::is_directory(folder, ec))
    return message + " The folder " + folder.string() + " does not exist.";
  const fs::space_info space = fs::space(folder, ec);
  if (!ec) message += " Free space there: " + Bytes(space.available) + ";";
  message += " is the disk full or the folder read-only? The previous file, if any, is unchanged.";
  return message;
}

bool ProjectCommands::OpenProject(const fs::path& path, std::string& message) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    message = "The project " + path.string() + " does not exist.";
    m_log("Error: " + message);
    return false;
  }
  if (!m_fusion.LoadProject(path, m_modules)) {
    message = "The project " + path.string() +
              " could not be read: it is damaged or not a project file (see the log). The scan "
              "list is unchanged.";
    m_log("Error: " + message);
    return false;
  }
  SetCurrent(path);
  message = "Project opened: " + path.string() + " (" + std::to_string(m_fusion.GetNumGeos()) +
            " scans).";
  m_log(message);
  return true;
}

bool ProjectCommands::SaveProject(const fs::path& path, std::string& message) {
  if (Lower(path.extension().string()) != ".tarvelinproj") {
    message = "A project file ends in .tarvelinproj: " + path.string();
    m_log("Error: " + message);
    return false;
  }
  surf::ProjectSaveOptions options;
  for (const surf::ProjectItemModule* module : m_modules) options.modules.push_back(module);
  if (!m_fusion.SaveProject(path, options)) {
    message = WriteFailure(path, "The project");
    m_log("Error: " + message);
    return false;
  }
  SetCurrent(path);
  message = "Project saved: " + path.string();
  m_log(message);
  return true;
}

bool ProjectCommands::ImportMesh(const fs::path& path, std::string& message) {
  const int index = m_fusion.AddGeo(path);
  if (index == -1 || index == -2) {
    message = "The mesh file " + path.string() + " could not be read (see the log for the reason).";
    m_log("Error: " + message);
    return false;
  }
  MarkChanged();
  message = index == surf::kAddedFusionResult
                ? "Fusion result imported: " + path.string()
                : "Mesh imported as scan " + std::to_string(index + 1) + ": " + path.string();
  m_log(message);
  return true;
}

bool ProjectCommands::ExportMesh(int index, const fs::path& path, std::string& message) {
  const std::string extension = Lower(path.extension().string());
  const auto& known = ExportExtensions();
  if (std::find(known.begin(), known.end(), extension) == known.end()) {
    message = "Cannot export to " + path.string() +
              ": choose one of .tarvelinmesh, .stl, .obj, .ply, .3mf.";
    m_log("Error: " + message);
    return false;
  }
  const surf::ScanListData data = m_fusion.ExportScanListData();
  const surf::GeoItem* item = nullptr;
  if (index == surf::ShapeFusion::kFusionResultIndex) {
    if (data.fusionResult) item = &*data.fusionResult;
  } else if (index >= 0 && index < int(data.scans.size())) {
    item = &data.scans[std::size_t(index)];
  }
  if (!item || !item->geo) {
    message = index == surf::ShapeFusion::kFusionResultIndex
                  ? "There is no fusion result to export: fuse first."
                  : "There is no scan " + std::to_string(index + 1) + ".";
    m_log("Error: " + message);
    return false;
  }
  surf::MeshExportOptions options;
  options.plyEncoding = surf::PlyEncoding::kAscii;  // the shell's PLY export is the ASCII form
  if (!surf::SaveMesh(path, *item, options)) {
    message = WriteFailure(path, "The mesh");
    m_log("Error: " + message);
    return false;
  }
  message = "Exported " + item->geo->GetName() + " to " + path.string();
  m_log(message);
  return true;
}

}  // namespace shell
