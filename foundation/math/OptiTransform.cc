#include "foundation/math/OptiTransform.h"

#include <iostream>
#include <stdexcept>

namespace math {

bool OptiTransformLinear::Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) {
  if (m_M.cols() != S.rows()) {
    std::cerr << "Error in OptiTransformLinear::Compute: m_M.cols() != S.rows(),\n";
    return false;
  }
  D.noalias() = m_M * S;
  if (m_b.rows() != D.rows()) {
    std::cerr << "Error in OptiTransformLinear::Compute: m_b.rows() != D.rows(),\n";
    return false;
  }
  D.colwise() += m_b;
  return true;
}

void OptiTransformLinear::SetLinear(const Frame<double>& frame) {
  m_M.resize(3, 3);
  m_b.resize(3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m_M(r, c) = frame(r, c);
    m_b(r) = frame(r, 3);
  }
}

bool OptiTransformLinear::ComposeTransformation(OptiTransformLinear& result, const OptiTransformLinear& first,
                                                const OptiTransformLinear& second) {
  const auto fail = [](int point) {
    std::cerr << "Error in OptiTransformLinear::ComposeTransformation: Matrix dimensions don't fit (" << point
              << ").\n";
    return false;
  };
  const Eigen::MatrixXd& M1 = first.m_M;
  const Eigen::MatrixXd& M2 = second.m_M;
  if (M1.size() == 0) return fail(1);
  if (M2.size() == 0) return fail(2);
  if (M2.cols() != M1.rows()) return fail(3);
  if (first.m_b.rows() != M1.rows()) return fail(4);
  if (second.m_b.rows() != M2.rows()) return fail(5);
  if (M2.cols() != first.m_b.rows()) return fail(9);
  Eigen::MatrixXd M = M2 * M1;
  Eigen::VectorXd b = M2 * first.m_b + second.m_b;
  if (M.rows() != M2.rows()) return fail(6);
  if (b.rows() != M.rows()) {
    std::cerr << "Error in OptiTransformLinear::ComposeTransformation: Vector dimensions don't fit (7).\n";
    return false;
  }
  if (M.cols() != M1.cols()) return fail(8);
  result.m_M = std::move(M);
  result.m_b = std::move(b);
  return true;
}

OptiTransformFrame::OptiTransformFrame(std::shared_ptr<Frame<double>> frame) : m_frame(std::move(frame)) {
  if (!m_frame) throw std::invalid_argument("OptiTransformFrame::OptiTransformFrame - Invalid frame.");
  m_base = *m_frame;
  for (const char* name : kPoseParamNames) AddParamNameIndexPair(name);
  SetLinear(m_base);
}

void OptiTransformFrame::ApplyParams() {
  const Frame<double> pose = m_base * Delta(m_params.data());
  *m_frame = pose;
  SetLinear(pose);
}

Frame<double> OptiTransformFrame::Delta(const double* p) {
  return FTrans(p[0], p[1], p[2]) * FRotZ(p[5]) * FRotY(p[4]) * FRotX(p[3]);
}

}  // namespace math
