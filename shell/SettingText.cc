#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "shell/Settings.h"

namespace shell {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

template <class T>
bool ParseNumber(std::string_view text, T& value) {
  text = Trim(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  T parsed{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(parsed)) return false;
  }
  value = parsed;
  return true;
}

template <class T>
std::string FormatNumber(T value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof(text), value);
  return std::string(text, end);
}

}  // namespace

template <>
bool ParseSettingText<bool>(std::string_view text, bool& value) {
  text = Trim(text);
  if (EqualsIgnoringCase(text, "true")) {
    value = true;
  } else if (EqualsIgnoringCase(text, "false")) {
    value = false;
  } else {
    return false;
  }
  return true;
}

template <>
bool ParseSettingText<int>(std::string_view text, int& value) {
  std::int32_t parsed = 0;
  if (!ParseNumber(text, parsed)) return false;
  value = parsed;
  return true;
}

template <>
bool ParseSettingText<float>(std::string_view text, float& value) {
  std::string dotted(text);
  std::replace(dotted.begin(), dotted.end(), ',', '.');
  return ParseNumber(std::string_view(dotted), value);
}

template <>
bool ParseSettingText<double>(std::string_view text, double& value) {
  std::string dotted(text);
  std::replace(dotted.begin(), dotted.end(), ',', '.');
  return ParseNumber(std::string_view(dotted), value);
}

template <>
bool ParseSettingText<std::string>(std::string_view text, std::string& value) {
  value = std::string(text);
  return true;
}

template <>
std::string FormatSettingText<bool>(const bool& value) {
  return value ? "true" : "false";
}
template <>
std::string FormatSettingText<int>(const int& value) {
  return FormatNumber(value);
}
template <>
std::string FormatSettingText<float>(const float& value) {
  return FormatNumber(value);
}
template <>
std::string FormatSettingText<double>(const double& value) {
  return FormatNumber(value);
}
template <>
std::string FormatSettingText<std::string>(const std::string& value) {
  return value;
}

template <class T>
T Setting<T>::Value() const {
  if (!m_settings) throw std::logic_error("Setting::Value - The setting is not assigned.");
  const char* text = m_element.attribute("value").value();
  T value{};
  if (ParseSettingText<T>(text, value)) return value;
  const T fallback = DefaultValue();
  m_settings->Log("Invalid value '" + std::string(text) + "' in " + GetTitle() + ". Using default value " +
                  FormatSettingText<T>(fallback) + " instead.");
  return fallback;
}

template <class T>
void Setting<T>::SetValue(const T& value) {
  if (!m_settings) throw std::logic_error("Setting::SetValue - The setting is not assigned.");
  m_settings->SetValue(m_element, FormatSettingText<T>(value));
}

template <class T>
T Setting<T>::DefaultValue() const {
  T value{};
  ParseSettingText<T>(m_element.attribute("defaultvalue").value(), value);
  return value;
}

template <class T>
std::string Setting<T>::GetAttribute(const std::string& name) const {
  return m_element.attribute(name.c_str()).value();
}

template <class T>
std::string Setting<T>::GetTitle() const {
  const pugi::xml_attribute title = m_element.attribute("title");
  return title ? title.value() : m_element.name();
}

template class Setting<bool>;
template class Setting<int>;
template class Setting<float>;
template class Setting<double>;
template class Setting<std::string>;

}  // namespace shell
