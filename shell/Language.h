#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "shell/Log.h"

namespace shell {

// The language table: user-visible texts of the shell behind localisation
// keys "_l10n_" + key + "_n01l_".
//
// A string table is the file xaml/Strings_<language>.xaml:
//   <?xml version="1.0" encoding="utf-8"?>
//   <Strings language="English">
//     <String key="_l10n_TT_Status_Scanning_n01l_">Scanning ...</String>
//     <String key="_l10n_Plugins_Found_n01l_">{0} plugins found.</String>
//   </Strings>
// Texts may hold placeholders "{0}", "{1}" … that Format fills. The chosen
// language is kept in Settings/Language.xml as <Language name="English"/>.
//
// Lookups are thread-safe; loading is not (load before sharing).
class Language {
 public:
  explicit Language(LogSink log = {});

  // Replaces the table by the file's; false with a reason when it cannot be
  // read, is not a string table, or holds a key twice (the table is then
  // left as it was).
  bool Load(const std::filesystem::path& file, std::string& error);
  // Loads xaml/Strings_<name>.xaml of the data root; when that fails and
  // name is not "English", logs why and falls back to English.
  bool LoadFromRoot(const std::filesystem::path& root, const std::string& name, std::string& error);

  // The language name of the loaded table.
  const std::string& GetName() const { return m_name; }
  std::size_t GetSize() const { return m_texts.size(); }
  bool Contains(const std::string& key) const { return m_texts.count(key) != 0; }

  // The text of key; a key that is missing is returned itself and logged
  // once ("Missing text for <key> in <language>").
  std::string Get(const std::string& key) const;
  // The text of key with "{n}" replaced by arguments[n]; placeholders
  // without an argument stay.
  std::string Format(const std::string& key, const std::vector<std::string>& arguments) const;
  // text with every localisation key in it replaced by its text.
  std::string Localize(const std::string& text) const;

  static bool IsKey(const std::string& text);
  // text with "{n}" replaced by arguments[n] (as Format does).
  static std::string FillPlaceholders(std::string text, const std::vector<std::string>& arguments);
  // The names of the string tables in a xaml folder, sorted.
  static std::vector<std::string> ListLanguages(const std::filesystem::path& xamlFolder);
  // The language chosen in root/Settings/Language.xml; "English" when the
  // file is missing or unreadable.
  static std::string ReadLanguageChoice(const std::filesystem::path& root);
  // Writes root/Settings/Language.xml; false when it cannot be written.
  static bool SaveLanguageChoice(const std::filesystem::path& root, const std::string& name);

 private:
  LogSink m_log;
  std::string m_name;
  std::unordered_map<std::string, std::string> m_texts;
  mutable std::mutex m_mutex;
  mutable std::set<std::string> m_reported;
};

}  // namespace shell
