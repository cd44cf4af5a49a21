#include "shell/Language.h"

#include <algorithm>
#include <pugixml.hpp>

#include "surf/files/SafeWrite.h"

namespace shell {

namespace fs = std::filesystem;

namespace {

constexpr const char* kKeyStart = "_l10n_";
constexpr const char* kKeyEnd = "_n01l_";

std::string ReplacePlaceholders(std::string text, const std::vector<std::string>& arguments) {
  std::string result;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t open = text.find('{', position);
    if (open == std::string::npos) break;
    const std::size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    const std::string index = text.substr(open + 1, close - open - 1);
    const bool digits = !index.empty() && index.size() < 4 &&
                        std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && std::stoul(index) < arguments.size()) {
      result += text.substr(position, open - position) + arguments[std::stoul(index)];
    } else {
      result += text.substr(position, close + 1 - position);
    }
    position = close + 1;
  }
  return result + text.substr(std::min(position, text.size()));
}

}  // namespace

Language::Language(LogSink log) : m_log(log ? std::move(log) : StdoutLogSink()) {}

bool Language::IsKey(const std::string& text) {
  const std::size_t start = std::char_traits<char>::length(kKeyStart);
  const std::size_t end = std::char_traits<char>::length(kKeyEnd);
  return text.size() > start + end && text.compare(0, start, kKeyStart) == 0 &&
         text.compare(text.size() - end, end, kKeyEnd) == 0;
}

bool Language::Load(const fs::path& file, std::string& error) {
  pugi::xml_document document;
  const pugi::xml_parse_result result = document.load_file(file.c_str());
  if (!result) {
    error = "Can't read " + file.string() + ": " + result.description() + " at byte " + std::to_string(result.offset);
    return false;
  }
  const pugi::xml_node strings = document.child("Strings");
  if (!strings) {
    error = file.string() + " is not a string table (no Strings element).";
    return false;
  }
  std::unordered_map<std::string, std::string> texts;
  for (const pugi::xml_node entry : strings.children("String")) {
    const std::string key = entry.attribute("key").value();
    if (!IsKey(key)) {
      error = file.string() + ": '" + key.substr(0, 80) + "' is not a key of the form _l10n_…_n01l_.";
      return false;
    }
    if (!texts.emplace(key, entry.child_value()).second) {
      error = file.string() + ": the key " + key + " appears twice.";
      return false;
    }
  }
  std::string name = strings.attribute("language").value();
  if (name.empty()) name = file.stem().string();
  std::lock_guard lock(m_mutex);
  m_texts = std::move(texts);
  m_name = std::move(name);
  m_reported.clear();
  return true;
}

bool Language::LoadFromRoot(const fs::path& root, const std::string& name, std::string& error) {
  if (Load(root / "xaml" / ("Strings_" + name + ".xaml"), error)) return true;
  if (name == "English") return false;
  m_log(error + " Using English.");
  return Load(root / "xaml" / "Strings_English.xaml", error);
}

std::string Language::Get(const std::string& key) const {
  std::lock_guard lock(m_mutex);
  if (const auto it = m_texts.find(key); it != m_texts.end()) return it->second;
  if (m_reported.insert(key).second) m_log("Missing text for " + key + " in " + (m_name.empty() ? "(none)" : m_name));
  return key;
}

std::string Language::FillPlaceholders(std::string text, const std::vector<std::string>& arguments) {
  return ReplacePlaceholders(std::move(text), arguments);
}

std::string Language::Format(const std::string& key, const std::vector<std::string>& arguments) const {
  return ReplacePlaceholders(Get(key), arguments);
}

std::string Language::Localize(const std::string& text) const {
  std::string result;
  std::size_t position = 0;
  while (true) {
    const std::size_t start = text.find(kKeyStart, position);
    if (start == std::string::npos) break;
    const std::size_t end = text.find(kKeyEnd, start + 6);
    if (end == std::string::npos) break;
    result += text.substr(position, start - position) + Get(text.substr(start, end + 6 - start));
    position = end + 6;
  }
  return result + text.substr(position);
}

std::vector<std::string> Language::ListLanguages(const fs::path& xamlFolder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(xamlFolder, error), end; !error && it != end; it.increment(error)) {
    const std::string file = it->path().filename().string();
    if (file.size() > 13 && file.rfind("Strings_", 0) == 0 && it->path().extension() == ".xaml")
      names.push_back(file.substr(8, file.size() - 13));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Language::ReadLanguageChoice(const fs::path& root) {
  pugi::xml_document document;
  if (!document.load_file((root / "Settings" / "Language.xml").c_str())) return "English";
  const std::string name = document.child("Language").attribute("name").value();
  return name.empty() ? "English" : name;
}

bool Language::SaveLanguageChoice(const fs::path& root, const std::string& name) {
  pugi::xml_document document;
  document.append_child("Language").append_attribute("name").set_value(name.c_str());
  std::error_code ignored;
  fs::create_directories(root / "Settings", ignored);
  return surf::WriteStreamSafely(root / "Settings" / "Language.xml", [&](std::ostream& out) {
    document.save(out, "  ");
    return true;
  });
}

}  // namespace shell
