#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "shell/Log.h"
#include "surf/files/ProjectFile.h"

namespace surf {
class ShapeFusion;
}

namespace shell {

class Settings;

// Projects and mesh files of the shell: opening and saving the project
// container of the scan list (with the trees of the given modules, e.g. the
// measurement), importing mesh files as scans and exporting a scan or the
// fusion result in the format of the file's extension. Keeps
// Project/ProjectDir, ProjectName and ProjectHasUnsavedChanges.
//
// Every failure leaves the list as it was and, for writes, the previous
// file untouched (the files go through a temporary file renamed into
// place); the message says what failed and what to do.
//
// Thread rules: user-interface thread, while no job edits the list.
class ProjectCommands {
 public:
  // The extensions Export writes, with the dot.
  static const std::vector<std::string>& ExportExtensions();

  // Every reference (and module) must outlive the commands.
  ProjectCommands(Settings& settings, surf::ShapeFusion& fusion,
                  std::vector<surf::ProjectItemModule*> modules, LogSink log);

  // Appends the project's scans to the list (its fusion result replaces
  // the current one) and makes it the current project.
  bool OpenProject(const std::filesystem::path& path, std::string& message);
  // Writes the project and makes it the current project.
  bool SaveProject(const std::filesystem::path& path, std::string& message);
  // The current project's file, empty before one was opened or saved.
  std::filesystem::path GetProjectPath() const;

  // Adds a mesh file (chunk mesh, STL, OBJ, PLY, 3MF) as a scan.
  bool ImportMesh(const std::filesystem::path& path, std::string& message);
  // Writes scan `index` (−1: the fusion result) in the format of the
  // extension (ExportExtensions).
  bool ExportMesh(int index, const std::filesystem::path& path, std::string& message);

  // The list changed since the project was last opened or saved.
  void MarkChanged();
  bool HasUnsavedChanges() const;

 private:
  void SetCurrent(const std::filesystem::path& path);
  static std::string WriteFailure(const std::filesystem::path& path, const std::string& what);

  Settings& m_settings;
  surf::ShapeFusion& m_fusion;
  std::vector<surf::ProjectItemModule*> m_modules;
  LogSink m_log;
};

}  // namespace shell
