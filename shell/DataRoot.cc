#include "shell/DataRoot.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace shell {

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

fs::path ProgramFolder() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : program.parent_path();
}

}  // namespace

fs::path DataRoot::Resolve(const std::string& rootArgument) {
  if (!rootArgument.empty()) return fs::absolute(rootArgument);
  if (const std::string home = Environment("TARVELIN_HOME"); !home.empty()) return fs::absolute(home);
  std::string home = Environment("HOME");
  if (home.empty()) {
    if (const passwd* account = getpwuid(geteuid()); account && account->pw_dir) home = account->pw_dir;
  }
  if (home.empty()) throw std::runtime_error("DataRoot::Resolve - No home folder: give --root or set TARVELIN_HOME.");
  return fs::path(home) / ".local" / "share" / "tarvelin";
}

fs::path DataRoot::FindShippedShare() {
  if (const std::string share = Environment("TARVELIN_SHARE_DIR"); !share.empty()) return share;
  std::error_code error;
  if (const fs::path installed = ProgramFolder() / ".." / "share" / "tarvelin"; fs::is_directory(installed, error))
    return installed.lexically_normal();
  return TARVELIN_SOURCE_SHARE_DIR;
}

fs::path DataRoot::FindShippedPlugins() {
  std::error_code error;
  if (const fs::path installed = ProgramFolder() / ".." / "lib" / "tarvelin" / "plugins";
      fs::is_directory(installed, error))
    return installed.lexically_normal();
  return TARVELIN_BUILD_PLUGIN_DIR;
}

bool DataRoot::InstallDefaults(const fs::path& shippedShare, const fs::path& shippedPlugins, const LogSink& log,
                               InstallResult& result, std::string& error) const {
  result = {};
  const LogSink& write = log ? log : StdoutLogSink();
  std::error_code code;
  for (const fs::path& folder : {m_folder, GetSettingsFolder(), GetLogFolder(), GetPluginFolder()}) {
    fs::create_directories(folder, code);
    if (code) {
      error = "Can't create directory " + folder.string() + ": " + code.message();
      return false;
    }
  }
  auto copy = [&](const fs::path& from, const fs::path& to) {
    // Through a temporary file, so that neither a half-copied file nor a
    // library rewritten under a running program is ever seen.
    const fs::path temporary = to.string() + ".installing";
    fs::create_directories(to.parent_path(), code);
    if (!code) fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, code);
    if (!code) fs::rename(temporary, to, code);
    if (code) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      error = "Can't copy " + from.string() + " to " + to.string() + ": " + code.message();
      return false;
    }
    write("Installed " + to.string());
    ++result.copied;
    return true;
  };

  if (!fs::is_directory(shippedShare, code)) {
    error = "No shipped share folder at " + shippedShare.string();
    return false;
  }
  for (fs::recursive_directory_iterator it(shippedShare, code), end; !code && it != end; it.increment(code)) {
    if (!it->is_regular_file(code)) continue;
    const fs::path target = m_folder / fs::relative(it->path(), shippedShare);
    if (fs::exists(target, code)) {
      ++result.kept;
      continue;
    }
    if (!copy(it->path(), target)) return false;
  }
  if (code) {
    error = "Can't read " + shippedShare.string() + ": " + code.message();
    return false;
  }

  if (shippedPlugins.empty() || !fs::is_directory(shippedPlugins, code)) return true;
  for (const fs::directory_entry& entry : fs::directory_iterator(shippedPlugins, code)) {
    if (!entry.is_regular_file(code) || entry.path().extension() != ".so") continue;
    const fs::path target = GetPluginFolder() / entry.path().filename();
    if (fs::exists(target, code) && fs::last_write_time(target, code) >= entry.last_write_time(code)) {
      ++result.kept;
      continue;
    }
    if (!copy(entry.path(), target)) return false;
  }
  return true;
}

}  // namespace shell
