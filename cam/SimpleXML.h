#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cam {

// The small tag-text reader of the camera-model text form: a sequence of
// `<tag>value</tag>` elements (no single root needed). Tags are looked up by
// name anywhere in the text, order free; when a tag occurs more than once the
// first occurrence counts. Every tag that cannot be found or whose value does
// not parse records one error, and the target keeps its previous value.
//
// Numbers must fill the element's text (surrounding white space allowed) and
// be finite; integers are unsigned 32-bit decimals. Text that is not
// well-formed is read up to the first syntax error, the error is recorded.
class SimpleXML {
 public:
  explicit SimpleXML(std::string_view text);

  bool Read(const std::string& tag, double& value);
  bool Read(const std::string& tag, std::uint32_t& value);
  // The raw text of the element, trimmed.
  bool Read(const std::string& tag, std::string& value);

  bool HasErrors() const { return !m_errors.empty(); }
  const std::vector<std::string>& GetErrors() const { return m_errors; }
  void ClearErrors() { m_errors.clear(); }
  // "SimpleXML: <count> error(s)" followed by one line " <message>" per error.
  std::string GetErrorSummary() const;

  // Appends "<tag>value</tag>\n"; numbers with 20 significant digits in
  // default notation (independent of the global locale).
  static void Write(std::string& text, const std::string& tag, double value);
  static void Write(std::string& text, const std::string& tag, std::uint32_t value);
  static void Write(std::string& text, const std::string& tag, const std::string& value);

 private:
  const std::string* Find(const std::string& tag);

  std::map<std::string, std::string> m_values;  // tag → element text, first occurrence
  std::vector<std::string> m_errors;
};

}  // namespace cam
