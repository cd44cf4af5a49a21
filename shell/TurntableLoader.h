#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "plugin/MotorPlugin.h"
#include "plugin/PluginLoader.h"
#include "shell/Log.h"

namespace shell {

class Language;

struct LoadedTurntable {
  // Null when no turntable plug-in could be loaded.
  std::unique_ptr<plugin::MotorPlugin> motor;
  // PluginLoader::LoadPlugin's code: 0 loaded and connected, −1 none found,
  // else the last failure's.
  int result = -1;
  plugin::PluginLoader::PluginInfo info;
  // The description's initializationTimespan: seconds the device needs
  // after connecting before it takes commands (0 when absent or unreadable).
  double initializationSeconds = 0.0;
};

// Scans folder for motor plug-in descriptions ("motor_plugin1"), logs the
// localised "{0} plugins found.", and loads and connects the first one of
// type "Turntable" (the plug-in's log file goes into logFolder).
// extraParameters are appended to each description's parameters (e.g. the
// virtual rig's channel). Failures are logged with their code.
LoadedTurntable LoadTurntablePlugin(const std::filesystem::path& folder, const std::filesystem::path& logFolder,
                                    const std::string& extraParameters, const Language& language,
                                    const LogSink& log);

}  // namespace shell
