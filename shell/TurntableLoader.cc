#include "shell/TurntableLoader.h"

#include "shell/Language.h"
#include "shell/Settings.h"

namespace shell {

LoadedTurntable LoadTurntablePlugin(const std::filesystem::path& folder, const std::filesystem::path& logFolder,
                                    const std::string& extraParameters, const Language& language,
                                    const LogSink& log) {
  const LogSink write = log ? log : StdoutLogSink();
  LoadedTurntable loaded;
  plugin::PluginLoader loader;
  const int found = loader.Scan(folder.string(), {"motor_plugin1"}, extraParameters);
  write(language.Format("_l10n_Plugins_Found_n01l_", {std::to_string(found)}));
  auto motor = std::make_unique<plugin::MotorPlugin>();
  const auto [result, info] = loader.LoadPlugin(*motor, "Turntable", "", logFolder.string());
  loaded.result = result;
  loaded.info = info;
  if (result != 0) {
    if (result == -1 && info.name.empty()) {
      write("Turntable: no turntable plug-in found.");
    } else {
      write("Turntable: plug-in \"" + info.name + "\" could not be loaded (result " + std::to_string(result) + ").");
    }
    return loaded;
  }
  double seconds = 0.0;
  if (ParseSettingText<double>(info.initializationTimespan, seconds) && seconds > 0.0) {
    loaded.initializationSeconds = seconds;
  }
  write("Turntable: \"" + info.name + "\" connected.");
  loaded.motor = std::move(motor);
  return loaded;
}

}  // namespace shell
