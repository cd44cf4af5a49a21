#pragma once

#include <memory>
#include <vector>

#include <Eigen/Core>

#include "foundation/math/OptiTransform.h"

namespace math {

// One term of a least-squares problem: source points S are mapped through an
// ordered list of transforms into D, which is compared with the reference R.
// Runs of consecutive linear transforms are composed into one linear map
// before they are applied. The errors are D − R taken column by column.
class OptiErrorFunc {
 public:
  OptiErrorFunc() = default;
  OptiErrorFunc(Eigen::MatrixXd S, Eigen::MatrixXd R) : m_S(std::move(S)), m_R(std::move(R)) {}

  void SetSource(Eigen::MatrixXd S) { m_S = std::move(S); }
  void SetReference(Eigen::MatrixXd R) { m_R = std::move(R); }
  const Eigen::MatrixXd& GetSource() const { return m_S; }
  const Eigen::MatrixXd& GetReference() const { return m_R; }
  // The result of the last Evaluate.
  const Eigen::MatrixXd& GetDestination() const { return m_D; }
  const std::vector<std::shared_ptr<OptiTransform>>& GetTransforms() const { return m_transforms; }

  bool AddTransform(std::shared_ptr<OptiTransform> transform);

  // Applies the transforms to S and stores the result as D. Without
  // transforms D is S.
  bool Evaluate();

  // Appends the entries of D − R column by column; false when their shapes
  // differ.
  bool GetErrors(std::vector<double>& errors) const;

  // √(Σe²/n) over all error components of the last evaluation; 0 for none
  // (and when D and R differ in shape).
  double GetRMS() const;

 private:
  Eigen::MatrixXd m_S;
  Eigen::MatrixXd m_R;
  Eigen::MatrixXd m_D;
  std::vector<std::shared_ptr<OptiTransform>> m_transforms;
};

}  // namespace math
