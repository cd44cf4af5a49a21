#pragma once

#include <string>
#include <utility>
#include <vector>

#include "plugin/IPlugin.h"

namespace plugin {

// Finds plug-in descriptions in a folder and loads the plug-in of a kind.
//
// A description is an XML file whose root element is `plugin`, its values as
// the text of child elements (surrounding white space is trimmed):
//   <plugin>
//     <ignore>false</ignore>             true when it starts with t, T or 1
//     <name>Virtual turntable</name>     display name, also the log file's name
//     <type>Turntable</type>             the kind LoadPlugin selects by
//     <parameters>speed=90</parameters>  handed to the plug-in on connect
//     <interfaceName>motor_plugin1</interfaceName>
//     <moduleName>virtualturntable</moduleName>
//     <initializationTimespan>0</initializationTimespan>  seconds to wait after connecting
//   </plugin>
// The library lies beside it: folder + "/" + interfaceName + "_64_" +
// moduleName + ".so".
class PluginLoader {
 public:
  struct PluginInfo {
    std::string type;
    std::string name;
    std::string initializationTimespan;
    std::string parameters;
    std::string interfaceName;
    std::string moduleName;
    std::string libraryPath;
  };

  // Reads every "*.xml" file of folder (the extension in any case; in file
  // name order) into the list, replacing the last scan's. Files that do not
  // parse or have no `plugin` element are skipped, and so are ignored
  // descriptions and, when allowedInterfaces is not empty, those whose
  // interface it does not name. Non-empty extraParameters are appended to
  // each description's parameters after one blank. A missing folder finds
  // nothing. Returns the number of plug-ins listed.
  int Scan(const std::string& folder, const std::vector<std::string>& allowedInterfaces,
           const std::string& extraParameters);

  // Tries, in list order, every entry of the type (and of the name, when
  // name is not empty) whose interface plugin implements: appends a header
  // to the log file logFolder + "/" + entry name + ".txt" (creating the
  // folder when needed) and calls plugin.Load. Returns (0, entry) for the
  // first that loads; else the last failure's code and entry; (-1, empty)
  // when no entry was tried.
  std::pair<int, PluginInfo> LoadPlugin(IPlugin& plugin, const std::string& type, const std::string& name,
                                        const std::string& logFolder);

  const std::vector<PluginInfo>& GetPlugins() const { return m_plugins; }

 private:
  std::vector<PluginInfo> m_plugins;
};

}  // namespace plugin
