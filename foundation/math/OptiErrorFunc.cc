#include "foundation/math/OptiErrorFunc.h"

#include <cmath>
#include <iostream>

namespace math {

bool OptiErrorFunc::AddTransform(std::shared_ptr<OptiTransform> transform) {
  if (!transform) {
    std::cerr << "Error in OptiErrorFunc::AddTransform: Invalid pointer 'transform'.\n";
    return false;
  }
  m_transforms.push_back(std::move(transform));
  return true;
}

bool OptiErrorFunc::Evaluate() {
  Eigen::MatrixXd current = m_S;
  Eigen::MatrixXd next;
  std::size_t i = 0;
  while (i < m_transforms.size()) {
    const auto* linear = dynamic_cast<const OptiTransformLinear*>(m_transforms[i].get());
    if (linear == nullptr) {
      if (!m_transforms[i]->Compute(next, current)) return false;
      current.swap(next);
      ++i;
      continue;
    }
    // Compose the run of linear transforms starting here.
    OptiTransformLinear composed(linear->GetM(), linear->GetB());
    std::size_t j = i + 1;
    for (; j < m_transforms.size(); ++j) {
      const auto* following = dynamic_cast<const OptiTransformLinear*>(m_transforms[j].get());
      if (following == nullptr) break;
      if (!OptiTransformLinear::ComposeTransformation(composed, composed, *following)) return false;
    }
    if (!composed.Compute(next, current)) return false;
    current.swap(next);
    i = j;
  }
  m_D.swap(current);
  return true;
}

bool OptiErrorFunc::GetErrors(std::vector<double>& errors) const {
  if (m_R.rows() != m_D.rows() || m_R.cols() != m_D.cols()) {
    std::cerr << "Error in OptiErrorFunc::GetErrors: 'm_R' and 'm_D' are not of equal size.\n";
    return false;
  }
  const Eigen::Index n = m_D.size();
  const double* d = m_D.data();
  const double* r = m_R.data();
  errors.reserve(errors.size() + static_cast<std::size_t>(n));
  for (Eigen::Index k = 0; k < n; ++k) errors.push_back(d[k] - r[k]);
  return true;
}

double OptiErrorFunc::GetRMS() const {
  if (m_R.rows() != m_D.rows() || m_R.cols() != m_D.cols() || m_D.size() == 0) return 0.0;
  return std::sqrt((m_D - m_R).squaredNorm() / static_cast<double>(m_D.size()));
}

}  // namespace math
