#pragma once

#include <string>
#include <string_view>

namespace shell {

// The XPath of a setting from its title path below the root:
// "Scan/Status/IsCurrentlyScanning" gives
// "/Settings/Scan/Status/*[@title='IsCurrentlyScanning']" (the groups are
// elements named after their titles, the last part is a setting's title).
inline std::string SettingPath(std::string_view titlePath) {
  const std::size_t slash = titlePath.rfind('/');
  const std::string_view groups = slash == std::string_view::npos ? std::string_view{} : titlePath.substr(0, slash);
  const std::string_view key = slash == std::string_view::npos ? titlePath : titlePath.substr(slash + 1);
  std::string path = "/Settings/";
  if (!groups.empty()) path.append(groups).append("/");
  return path.append("*[@title='").append(key).append("']");
}

}  // namespace shell
