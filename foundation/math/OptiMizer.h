#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "foundation/math/OptiErrorFunc.h"
#include "foundation/math/OptiParameterSet.h"
#include "foundation/utils/Progress.h"

namespace math {

// A non-linear least-squares problem: the active parameters of all registered
// parameter sets (in registration order) are adjusted to minimise the
// concatenated errors of all registered error functions (in registration
// order). Derived classes supply the minimiser through the three On… steps.
//
// Failures print one "Error in OptiMizer…" line per step to stderr and
// return false; nothing throws. Not thread-safe.
class OptiMizer {
 public:
  OptiMizer() = default;
  OptiMizer(const OptiMizer&) = delete;
  OptiMizer& operator=(const OptiMizer&) = delete;
  virtual ~OptiMizer() = default;

  bool AddErrorFunc(std::shared_ptr<OptiErrorFunc> optiErrorFunc);
  bool AddParameterSet(std::shared_ptr<OptiParameterSet> optiParameterSet);
  const std::vector<std::shared_ptr<OptiErrorFunc>>& GetErrorFuncs() const { return m_errorFuncs; }
  const std::vector<std::shared_ptr<OptiParameterSet>>& GetParameterSets() const { return m_parameterSets; }

  // Gathers the start values, then runs OnStartOptimize, OnOptimize and
  // OnFinishOptimize.
  bool Optimize();

  // Evaluates every error function and appends its errors.
  bool ComputeErrors(std::vector<double>& errors);
  // Hands values[0 … count) to the parameter sets, each taking as many
  // values as it has active parameters.
  bool SetActiveParams(const double* values, std::size_t count);
  // The start values of all active parameters, in registration order.
  bool GetActiveParams(std::vector<double>& values) const;

  // Optional: called during the minimisation with a rough completed fraction;
  // returning true ends the minimisation early (the sets keep the best
  // estimate reached so far).
  void SetProgressCallback(utils::ProgressCallback progress) { m_progress = std::move(progress); }
  // True when the last Optimize was ended by the progress callback.
  bool WasCancelled() const { return m_cancelled; }

 protected:
  virtual bool OnStartOptimize(const std::vector<double>& initialParams, std::size_t numErrors) = 0;
  virtual bool OnOptimize() = 0;
  virtual bool OnFinishOptimize() = 0;

  std::vector<std::shared_ptr<OptiErrorFunc>> m_errorFuncs;
  std::vector<std::shared_ptr<OptiParameterSet>> m_parameterSets;
  utils::ProgressCallback m_progress;
  bool m_cancelled = false;

 private:
  bool PrepareOptimization(std::vector<double>& initialParams, std::size_t& numErrors);
};

// Levenberg–Marquardt with a forward-difference Jacobian (MINPACK's lmdif)
// with fixed settings: ftol 1e-5, xtol 1e-7, gtol 0, at most 100·n function
// evaluations, epsfcn 1e-16 (difference step √machine-epsilon relative to
// each parameter), internal column-norm scaling, initial step bound 100.
// After lmdif returns, its final estimate is applied to the parameter sets
// once more, so that they hold the best point found (not the last trial).
class OptiMizerLM : public OptiMizer {
 public:
  const std::vector<double>& GetParams() const { return m_params; }
  std::size_t GetNumErrors() const { return m_numErrors; }
  // The number of residual evaluations of the last run.
  int GetNumEvaluations() const { return m_numEvaluations; }

 protected:
  bool OnStartOptimize(const std::vector<double>& initialParams, std::size_t numErrors) override;
  bool OnOptimize() override;
  bool OnFinishOptimize() override { return true; }

 private:
  static int LmdifCallback(void* self, int m, int n, const double* x, double* fvec, int iflag);
  int OnComputeErrors(const double* params, double* errors);

  std::vector<double> m_params;
  std::size_t m_numErrors = 0;
  std::vector<double> m_errorBuffer;
  int m_numEvaluations = 0;
  int m_maxEvaluations = 0;
};

}  // namespace math
