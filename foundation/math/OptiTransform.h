#pragma once

#include <memory>

#include <Eigen/Core>

#include "foundation/math/Frame.h"
#include "foundation/math/OptiParameterSet.h"

namespace math {

// A map from a matrix of source points to a matrix of destination points,
// one point per column (dense, column-major doubles). A transform may own
// parameters of its own (it is a parameter set).
class OptiTransform : public OptiParameterSet {
 public:
  // D gets as many columns as S. False (with a message on stderr) when the
  // shapes do not fit.
  virtual bool Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) = 0;
};

// D = M·S + b, b added to every column.
class OptiTransformLinear : public OptiTransform {
 public:
  OptiTransformLinear() = default;
  OptiTransformLinear(Eigen::MatrixXd M, Eigen::VectorXd b) : m_M(std::move(M)), m_b(std::move(b)) {}

  bool Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) override;

  void SetLinear(Eigen::MatrixXd M, Eigen::VectorXd b) {
    m_M = std::move(M);
    m_b = std::move(b);
  }
  // The rigid map of a frame: M its 3×3 rotation, b its translation.
  void SetLinear(const Frame<double>& frame);
  const Eigen::MatrixXd& GetM() const { return m_M; }
  const Eigen::VectorXd& GetB() const { return m_b; }

  // result ← "first, then second": M = M2·M1, b = M2·b1 + b2. result may be
  // one of the operands.
  static bool ComposeTransformation(OptiTransformLinear& result, const OptiTransformLinear& first,
                                    const OptiTransformLinear& second);

 protected:
  Eigen::MatrixXd m_M;
  Eigen::VectorXd m_b;
};

// A rigid transform with the six parameters "tx ty tz rx ry rz" (millimetres,
// radians) around a base frame: the pose is base·Δ with
// Δ = T(tx, ty, tz)·Rz(rz)·Ry(ry)·Rx(rx), so that all parameters at 0 give the
// base. M and b are the rotation and translation of the pose.
//
// The pose frame is shared with the caller: its value at construction is the
// base, and ApplyParams writes base·Δ back into it, so that the caller (and
// other transforms reading the frame) see the current estimate.
class OptiTransformFrame : public OptiTransformLinear {
 public:
  // Throws std::invalid_argument for a null frame.
  explicit OptiTransformFrame(std::shared_ptr<Frame<double>> frame);

  void ApplyParams() override;

  const Frame<double>& GetBase() const { return m_base; }
  const std::shared_ptr<Frame<double>>& GetFrame() const { return m_frame; }

  // Δ from the six values in the order tx, ty, tz, rx, ry, rz.
  static Frame<double> Delta(const double* txTyTzRxRyRz);
  // The names, in index order, of every six-parameter pose set.
  static constexpr const char* kPoseParamNames[6] = {"tx", "ty", "tz", "rx", "ry", "rz"};

 private:
  std::shared_ptr<Frame<double>> m_frame;
  Frame<double> m_base;
};

}  // namespace math
