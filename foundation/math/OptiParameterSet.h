#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace math {

// A set of named parameters of which a chosen subset is "active", i.e. seen
// and changed by an optimiser. Each name has an index into the value list;
// the active list holds indices in selection order (an index may occur twice).
// Derived sets describe some object (a camera model, a pose) and push a
// complete set of values into it in ApplyParams.
//
// Failures print one "Error in OptiParameterSet::..." line to stderr and
// return false; nothing throws. Not thread-safe.
class OptiParameterSet {
 public:
  OptiParameterSet() = default;
  OptiParameterSet(const OptiParameterSet&) = delete;
  OptiParameterSet& operator=(const OptiParameterSet&) = delete;
  virtual ~OptiParameterSet() = default;

  // Stores one value (index < GetNumParams()).
  virtual void SetParam(double value, std::size_t index);
  // Called after a complete set of values has been stored.
  virtual void ApplyParams() {}

  // Gives name the next free index with the value 0.
  bool AddParamNameIndexPair(const std::string& name);

  // Names separated by white space; the active list is cleared first. An
  // unknown name is reported and skipped, the others are still selected, and
  // the result is false. An empty string leaves no active parameter.
  bool SelectActiveParams(const std::string& names);

  // Appends the values of the active parameters in active order.
  bool GetActiveParams(std::vector<double>& values) const;

  // Stores values[position ...] in active order, advances position by the
  // number of active parameters and calls ApplyParams. count is the length
  // of values.
  bool SetActiveParams(std::size_t& position, const double* values, std::size_t count);

  std::size_t GetNumParams() const { return m_params.size(); }
  std::size_t GetNumActiveParams() const { return m_activeIndices.size(); }
  const std::vector<std::size_t>& GetActiveIndices() const { return m_activeIndices; }
  double GetParam(std::size_t index) const { return m_params.at(index); }
  // False when the name is unknown.
  bool GetParamIndex(const std::string& name, std::size_t& index) const;
  const std::map<std::string, std::size_t>& GetNameToIndex() const { return m_nameToIndex; }

 protected:
  std::map<std::string, std::size_t> m_nameToIndex;
  std::vector<std::size_t> m_activeIndices;
  std::vector<double> m_params;
};

}  // namespace math
