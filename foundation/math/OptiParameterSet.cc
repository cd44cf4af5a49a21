#include "foundation/math/OptiParameterSet.h"

#include <iostream>
#include <sstream>

namespace math {

void OptiParameterSet::SetParam(double value, std::size_t index) { m_params.at(index) = value; }

bool OptiParameterSet::AddParamNameIndexPair(const std::string& name) {
  if (name.empty()) {
    std::cerr << "Error in OptiParameterSet::AddParamNameIndexPair: 'paramName' is empty.\n";
    return false;
  }
  if (m_nameToIndex.count(name) != 0) {
    std::cerr << "Error in OptiParameterSet::AddParamNameIndexPair: 'paramName' is already in use.\n";
    return false;
  }
  m_nameToIndex.emplace(name, m_params.size());
  m_params.push_back(0.0);
  return true;
}

bool OptiParameterSet::SelectActiveParams(const std::string& names) {
  m_activeIndices.clear();
  std::istringstream in(names);
  std::string name;
  bool ok = true;
  while (in >> name) {
    const auto it = m_nameToIndex.find(name);
    if (it == m_nameToIndex.end()) {
      std::cerr << "Error in OptiParameterSet::SelectActiveParams: Could not find parameter name in map: "
                << name << '\n';
      ok = false;
      continue;
    }
    m_activeIndices.push_back(it->second);
  }
  return ok;
}

bool OptiParameterSet::GetActiveParams(std::vector<double>& values) const {
  for (std::size_t index : m_activeIndices) values.push_back(m_params[index]);
  return true;
}

bool OptiParameterSet::SetActiveParams(std::size_t& position, const double* values, std::size_t count) {
  if (values == nullptr) {
    std::cerr << "Error in OptiParameterSet::SetActiveParams: Null pointer exception\n";
    return false;
  }
  if (position > count || count - position < m_activeIndices.size()) {
    std::cerr << "Error in OptiParameterSet::SetActiveParams: 'params' array too small.\n";
    return false;
  }
  for (std::size_t index : m_activeIndices) SetParam(values[position++], index);
  ApplyParams();
  return true;
}

bool OptiParameterSet::GetParamIndex(const std::string& name, std::size_t& index) const {
  const auto it = m_nameToIndex.find(name);
  if (it == m_nameToIndex.end()) return false;
  index = it->second;
  return true;
}

}  // namespace math
