#pragma once

#include <filesystem>
#include <string>

#include "shell/Log.h"

namespace shell {

// The writable folder that stands for the installation folder: "Settings"
// (user settings, the language choice), "logs", "xaml" (the settings schema
// and the string tables), "Plugins" (plug-in descriptions and libraries),
// "rigs" (virtual rigs). The shipped defaults are copied in on start.
class DataRoot {
 public:
  // rootArgument (the --root option) when not empty; else $TARVELIN_HOME
  // when set and not empty; else $HOME/.local/share/tarvelin (the home of
  // the account when $HOME is unset). Throws std::runtime_error when no home
  // folder can be found.
  static std::filesystem::path Resolve(const std::string& rootArgument);

  // The shipped share folder: $TARVELIN_SHARE_DIR when set; else
  // <program folder>/../share/tarvelin when it exists; else the source
  // tree's share folder this build was made from.
  static std::filesystem::path FindShippedShare();
  // The folder of the plug-in libraries this build made
  // (<program folder>/../lib/tarvelin/plugins when it exists, else the
  // build tree's).
  static std::filesystem::path FindShippedPlugins();

  explicit DataRoot(std::filesystem::path folder) : m_folder(std::move(folder)) {}

  const std::filesystem::path& GetFolder() const { return m_folder; }
  std::filesystem::path GetSettingsFolder() const { return m_folder / "Settings"; }
  std::filesystem::path GetLogFolder() const { return m_folder / "logs"; }
  std::filesystem::path GetXamlFolder() const { return m_folder / "xaml"; }
  std::filesystem::path GetPluginFolder() const { return m_folder / "Plugins"; }

  struct InstallResult {
    int copied = 0;  // files copied
    int kept = 0;    // files already present and left alone
  };
  // Creates the root with its "Settings" and "logs" folders and copies every
  // file below shippedShare that the root lacks, keeping the relative path;
  // files already there are never replaced (they may be the user's). The
  // plug-in libraries ("*.so") of shippedPlugins go to "Plugins", replacing
  // an older copy (they are program code, not user data). An empty
  // shippedPlugins copies none. False with a reason in error when a folder
  // cannot be created or a file cannot be copied; logs one line per copy.
  bool InstallDefaults(const std::filesystem::path& shippedShare, const std::filesystem::path& shippedPlugins,
                       const LogSink& log, InstallResult& result, std::string& error) const;

 private:
  std::filesystem::path m_folder;
};

}  // namespace shell
