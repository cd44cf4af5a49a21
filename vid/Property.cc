#include "vid/Property.h"

namespace vid {

bool PropertyValueConverters::Add(const std::string& name, PropertyValueConverter converter) {
  if (name.empty() || !converter || m_converters.count(name)) return false;
  m_converters.emplace(name, std::move(converter));
  return true;
}

bool PropertyValueConverters::Format(std::string& text, double value,
                                     const std::string& name) const {
  text.clear();
  const auto it = m_converters.find(name);
  if (it == m_converters.end()) return false;
  if (!it->second(text, value)) {
    text.clear();
    return false;
  }
  return true;
}

}  // namespace vid
