#include "apps/tarvelin-studio/StudioTexts.h"

#include <cstdio>
#include <mutex>

#include "shell/DataRoot.h"

namespace studio {

namespace {

std::string LocalisationKey(std::string_view key) { return "_l10n_" + std::string(key) + "_n01l_"; }

}  // namespace

void Texts::SetLanguage(const shell::Language* language, const shell::Language* fallback) {
  std::lock_guard lock(m_mutex);
  m_language = language;
  m_fallback = fallback;
  m_cache.clear();
}

std::string Texts::Lookup(std::string_view key) const {
  const std::string full = LocalisationKey(key);
  if (!m_language) return m_fallback ? m_fallback->Get(full) : std::string(key);
  if (!m_language->Contains(full) && m_fallback && m_fallback->Contains(full))
    return m_fallback->Get(full);
  return m_language->Get(full);
}

const char* Texts::operator()(std::string_view key) const {
  std::lock_guard lock(m_mutex);
  auto found = m_cache.find(std::string(key));
  if (found == m_cache.end()) {
    found = m_cache.emplace(std::string(key), Lookup(key)).first;
  }
  return found->second.c_str();
}

std::string Texts::Format(std::string_view key, const std::vector<std::string>& arguments) const {
  return shell::Language::FillPlaceholders((*this)(key), arguments);
}

const shell::Language& ShippedEnglish() {
  static shell::Language english;
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    std::string error;
    english.Load(shell::DataRoot::FindShippedShare() / "xaml" / "Strings_English.xaml", error);
  });
  return english;
}

std::string Texts::Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace studio
