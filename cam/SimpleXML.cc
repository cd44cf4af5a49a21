#include "cam/SimpleXML.h"

#include <charconv>
#include <cmath>
#include <locale>
#include <sstream>

#include <pugixml.hpp>

namespace cam {
namespace {

std::string_view Trim(std::string_view s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

SimpleXML::SimpleXML(std::string_view text) {
  pugi::xml_document doc;
  const pugi::xml_parse_result result =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
  if (!result) {
    m_errors.push_back(std::string("Malformed text at offset ") + std::to_string(result.offset) + ": " +
                       result.description());
  }
  // Iterative walk over all elements (depth first, document order); the
  // partial tree of malformed text is used as far as it goes.
  pugi::xml_node node = doc.first_child();
  while (node) {
    if (node.type() == pugi::node_element) m_values.emplace(node.name(), node.child_value());
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling()) {
      node = node.parent();
      if (node == doc) node = pugi::xml_node();
    }
    if (node) node = node.next_sibling();
  }
}

const std::string* SimpleXML::Find(const std::string& tag) {
  const auto it = m_values.find(tag);
  if (it == m_values.end()) {
    m_errors.push_back("Could not find tag '" + tag + "'.");
    return nullptr;
  }
  return &it->second;
}

bool SimpleXML::Read(const std::string& tag, double& value) {
  const std::string* text = Find(tag);
  if (text == nullptr) return false;
  const std::string_view s = Trim(*text);
  double parsed = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(parsed)) {
    m_errors.push_back("Could not read a number from tag '" + tag + "'.");
    return false;
  }
  value = parsed;
  return true;
}

bool SimpleXML::Read(const std::string& tag, std::uint32_t& value) {
  const std::string* text = Find(tag);
  if (text == nullptr) return false;
  const std::string_view s = Trim(*text);
  std::uint32_t parsed = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
    m_errors.push_back("Could not read an unsigned integer from tag '" + tag + "'.");
    return false;
  }
  value = parsed;
  return true;
}

bool SimpleXML::Read(const std::string& tag, std::string& value) {
  const std::string* text = Find(tag);
  if (text == nullptr) return false;
  value = std::string(Trim(*text));
  return true;
}

std::string SimpleXML::GetErrorSummary() const {
  std::string summary = "SimpleXML: " + std::to_string(m_errors.size()) + " error(s)";
  for (const std::string& e : m_errors) summary += "\n " + e;
  return summary;
}

void SimpleXML::Write(std::string& text, const std::string& tag, double value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(20);
  out << value;
  Write(text, tag, out.str());
}

void SimpleXML::Write(std::string& text, const std::string& tag, std::uint32_t value) {
  Write(text, tag, std::to_string(value));
}

void SimpleXML::Write(std::string& text, const std::string& tag, const std::string& value) {
  text += '<';
  text += tag;
  text += '>';
  text += value;
  text += "</";
  text += tag;
  text += ">\n";
}

}  // namespace cam
