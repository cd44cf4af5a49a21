#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "shell/Language.h"

namespace studio {

// The studio's words in the user's language: the text of the shell's
// language table behind "_l10n_" + key + "_n01l_" (keys are "Studio_…").
// A key the table lacks takes the fallback table's text (the shipped English
// table: a data root made by an older version lacks the newer keys), else
// shows as its localisation key, logged once by the table. Without any
// table the key itself is shown.
//
// Thread-safe (the target preview words its summary on a worker). The
// pointers returned stay valid as long as the Texts.
class Texts {
 public:
  explicit Texts(const shell::Language* language = nullptr,
                 const shell::Language* fallback = nullptr)
      : m_language(language), m_fallback(fallback) {}
  Texts(const Texts&) = delete;
  Texts& operator=(const Texts&) = delete;

  // Forgets the texts looked up so far.
  void SetLanguage(const shell::Language* language, const shell::Language* fallback = nullptr);

  const char* operator()(std::string_view key) const;
  // The text with "{n}" replaced by arguments[n].
  std::string Format(std::string_view key, const std::vector<std::string>& arguments) const;

  // value with the given number of decimals, for Format's arguments.
  static std::string Number(double value, int decimals);

 private:
  std::string Lookup(std::string_view key) const;

  const shell::Language* m_language;
  const shell::Language* m_fallback;
  mutable std::mutex m_mutex;
  mutable std::unordered_map<std::string, std::string> m_cache;
};

// The shipped English table (xaml/Strings_English.xaml of the shipped share
// folder), loaded at the first call; empty when it cannot be read.
const shell::Language& ShippedEnglish();

}  // namespace studio
