#include "foundation/math/OptiMizer.h"

#include <cminpack.h>

#include <algorithm>
#include <iostream>

namespace math {

bool OptiMizer::AddErrorFunc(std::shared_ptr<OptiErrorFunc> optiErrorFunc) {
  if (!optiErrorFunc) {
    std::cerr << "Error in OptiMizer::AddErrorFunc: Invalid pointer 'optiErrorFunc'\n";
    return false;
  }
  m_errorFuncs.push_back(std::move(optiErrorFunc));
  return true;
}

bool OptiMizer::AddParameterSet(std::shared_ptr<OptiParameterSet> optiParameterSet) {
  if (!optiParameterSet) {
    std::cerr << "Error in OptiMizer::AddParameterSet: Invalid pointer 'optiParameterSet'\n";
    return false;
  }
  m_parameterSets.push_back(std::move(optiParameterSet));
  return true;
}

bool OptiMizer::ComputeErrors(std::vector<double>& errors) {
  for (const auto& func : m_errorFuncs) {
    if (!func->Evaluate() || !func->GetErrors(errors)) {
      std::cerr << "Error in OptiMizer::ComputeErrors: Can not progress with error computation.\n";
      return false;
    }
  }
  return true;
}

bool OptiMizer::SetActiveParams(const double* values, std::size_t count) {
  std::size_t position = 0;
  for (const auto& set : m_parameterSets) {
    if (!set->SetActiveParams(position, values, count)) return false;
  }
  return true;
}

bool OptiMizer::GetActiveParams(std::vector<double>& values) const {
  for (const auto& set : m_parameterSets) {
    if (!set->GetActiveParams(values)) return false;
  }
  return true;
}

bool OptiMizer::PrepareOptimization(std::vector<double>& initialParams, std::size_t& numErrors) {
  initialParams.clear();
  if (!GetActiveParams(initialParams)) {
    std::cerr << "Error in OptiMizer::PrepareOptimization: A call to GetActiveParams failed.\n";
    return false;
  }
  std::vector<double> errors;
  if (!ComputeErrors(errors)) {
    std::cerr << "Error in OptiMizer::PrepareOptimization: Call to GetErrors failed.\n";
    return false;
  }
  numErrors = errors.size();
  return true;
}

bool OptiMizer::Optimize() {
  m_cancelled = false;
  std::vector<double> initialParams;
  std::size_t numErrors = 0;
  if (!PrepareOptimization(initialParams, numErrors)) {
    std::cerr << "Error in OptiMizer::Optimize: Prepare optimization failed.\n";
    return false;
  }
  if (!OnStartOptimize(initialParams, numErrors)) {
    std::cerr << "Error in OptiMizer::Optimize: OnStartOptimize failed.\n";
    return false;
  }
  if (!OnOptimize()) {
    std::cerr << "Error in OptiMizer::Optimize: OnOptimize failed.\n";
    return false;
  }
  if (!OnFinishOptimize()) {
    std::cerr << "Error in OptiMizer::Optimize: OnFinishOptimize failed.\n";
    return false;
  }
  return true;
}

bool OptiMizerLM::OnStartOptimize(const std::vector<double>& initialParams, std::size_t numErrors) {
  m_params = initialParams;
  m_numErrors = numErrors;
  if (m_params.empty()) {
    std::cerr << "Error in OptiMizerLM::OnStartOptimize: Number of parameters is zero.\n";
    return false;
  }
  if (m_numErrors <= m_params.size()) {
    std::cerr << "Error in OptiMizerLM::OnStartOptimize: Number of errors has to be greater than number of "
                 "parameters.\n";
    return false;
  }
  return true;
}

bool OptiMizerLM::OnOptimize() {
  const int m = static_cast<int>(m_numErrors);
  const int n = static_cast<int>(m_params.size());
  std::vector<double> fvec(m), diag(n), fjac(static_cast<std::size_t>(m) * n), qtf(n);
  std::vector<double> wa1(n), wa2(n), wa3(n), wa4(m);
  std::vector<int> ipvt(n);
  int nfev = 0;
  m_numEvaluations = 0;
  m_maxEvaluations = 100 * n;
  lmdif(&OptiMizerLM::LmdifCallback, this, m, n, m_params.data(), fvec.data(), 1e-5, 1e-7, 0.0, m_maxEvaluations,
        1e-16, diag.data(), 1, 100.0, 0, &nfev, fjac.data(), m, ipvt.data(), qtf.data(), wa1.data(), wa2.data(),
        wa3.data(), wa4.data());
  // lmdif keeps its best accepted estimate in x; the sets hold the last trial.
  if (SetActiveParams(m_params.data(), m_params.size())) {
    std::vector<double> errors;
    ComputeErrors(errors);
  }
  return true;
}

int OptiMizerLM::LmdifCallback(void* self, int m, int n, const double* x, double* fvec, int iflag) {
  return static_cast<OptiMizerLM*>(self)->OnComputeErrors(x, fvec);
}

int OptiMizerLM::OnComputeErrors(const double* params, double* errors) {
  if (errors == nullptr) {
    std::cerr << "Error in OptiMizerLM::OnComputeErrors: Invalid pointer 'errors'.\n";
    return -1;
  }
  if (params == nullptr) {
    std::cerr << "Error in OptiMizerLM::OnComputeErrors: Invalid pointer 'params'.\n";
    return -1;
  }
  if (!SetActiveParams(params, m_params.size())) {
    std::cerr << "Error in OptiMizerLM::OnComputeErrors: SetActiveParams failed.\n";
    return -1;
  }
  m_errorBuffer.clear();
  if (!ComputeErrors(m_errorBuffer)) {
    std::cerr << "Error in OptiMizerLM::OnComputeErrors: ComputeErrors failed.\n";
    return -1;
  }
  if (m_errorBuffer.size() != m_numErrors) {
    std::cerr << "Error in OptiMizerLM::OnComputeErrors: Invalid number of errors.\n";
    return -1;
  }
  std::copy(m_errorBuffer.begin(), m_errorBuffer.end(), errors);
  ++m_numEvaluations;
  if (m_progress && m_progress(std::min(1.0, double(m_numEvaluations) / double(m_maxEvaluations)))) {
    m_cancelled = true;
    return -1;
  }
  return 0;
}

}  // namespace math
