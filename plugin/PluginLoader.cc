#include "plugin/PluginLoader.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>

namespace plugin {
namespace {

namespace fs = std::filesystem;

std::string Trimmed(const char* text) {
  std::string s(text);
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

bool HasXmlExtension(const fs::path& file) {
  std::string extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".xml";
}

std::vector<fs::path> DescriptionFiles(const std::string& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored) && HasXmlExtension(it->path())) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string LocalDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  const std::size_t length = std::strftime(text, sizeof(text), "%x %X", &local);
  return std::string(text, length);
}

void WriteLogHeader(const std::string& logFolder, const std::string& logPath, const PluginLoader::PluginInfo& entry) {
  std::error_code ignored;
  if (!logFolder.empty()) fs::create_directories(logFolder, ignored);
  std::ofstream log(logPath, std::ios::app);
  if (!log) return;
  log << '\n'
      << std::string(68, '=') << '\n'
      << LocalDateTime() << '\n'
      << "Plugin name: " << entry.name << '\n'
      << "DLL path:    " << entry.libraryPath << '\n'
      << std::string(68, '-') << '\n';
}

}  // namespace

int PluginLoader::Scan(const std::string& folder, const std::vector<std::string>& allowedInterfaces,
                       const std::string& extraParameters) {
  m_plugins.clear();
  for (const fs::path& file : DescriptionFiles(folder)) {
    pugi::xml_document document;
    if (!document.load_file(file.c_str())) continue;
    const pugi::xml_node description = document.child("plugin");
    if (!description) continue;
    const std::string ignore = Trimmed(description.child_value("ignore"));
    if (!ignore.empty() && (ignore[0] == 't' || ignore[0] == 'T' || ignore[0] == '1')) continue;

    PluginInfo info;
    info.name = Trimmed(description.child_value("name"));
    info.type = Trimmed(description.child_value("type"));
    info.parameters = Trimmed(description.child_value("parameters"));
    info.interfaceName = Trimmed(description.child_value("interfaceName"));
    info.moduleName = Trimmed(description.child_value("moduleName"));
    if (!extraParameters.empty()) info.parameters += " " + extraParameters;
    if (!allowedInterfaces.empty() &&
        std::find(allowedInterfaces.begin(), allowedInterfaces.end(), info.interfaceName) == allowedInterfaces.end()) {
      continue;
    }
    info.libraryPath = folder + "/" + info.interfaceName + "_64_" + info.moduleName + ".so";
    info.initializationTimespan = Trimmed(description.child_value("initializationTimespan"));
    m_plugins.push_back(std::move(info));
  }
  return static_cast<int>(m_plugins.size());
}

std::pair<int, PluginLoader::PluginInfo> PluginLoader::LoadPlugin(IPlugin& plugin, const std::string& type,
                                                                   const std::string& name,
                                                                   const std::string& logFolder) {
  std::pair<int, PluginInfo> last{-1, {}};
  for (const PluginInfo& entry : m_plugins) {
    if (entry.type != type) continue;
    if (!name.empty() && entry.name != name) continue;
    if (!plugin.IsInterface(entry.interfaceName)) continue;
    const std::string logPath = logFolder + "/" + entry.name + ".txt";
    WriteLogHeader(logFolder, logPath, entry);
    const int result = plugin.Load(entry.libraryPath, entry.parameters, logPath);
    if (result == 0) return {0, entry};
    last = {result, entry};
  }
  return last;
}

}  // namespace plugin
