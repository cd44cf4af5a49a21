#include "cam/OptiCameraModel.h"

#include <iostream>
#include <stdexcept>

namespace cam {
namespace {

void AddNames(math::OptiParameterSet& set, std::initializer_list<const char*> names) {
  for (const char* name : names) set.AddParamNameIndexPair(name);
}

}  // namespace

OptiParameterSetCameraModelTsai::OptiParameterSetCameraModelTsai(CameraModelTsai& model)
    : m_model(model), m_base(model.GetFrame_wTc()) {
  AddNames(*this, {"tx", "ty", "tz", "rx", "ry", "rz", "cx", "cy", "f", "sx", "kappa1"});
  const CameraModelTsai::Intrinsics& i = model.GetIntrinsics();
  const double values[5] = {i.cx, i.cy, i.f, i.sx, i.kappa1};
  for (int k = 0; k < 5; ++k) m_params[6 + k] = values[k];
}

void OptiParameterSetCameraModelTsai::ApplyParams() {
  m_model.SetFrame_wTc(m_base * math::OptiTransformFrame::Delta(m_params.data()));
  m_model.SetIntrinsics(m_params[6], m_params[7], m_params[8], m_params[9], m_params[10]);
}

OptiParameterSetCameraModelOCV::OptiParameterSetCameraModelOCV(CameraModelOCV& model)
    : m_model(model), m_base(model.GetFrame_wTc()) {
  AddNames(*this, {"tx", "ty", "tz", "rx", "ry", "rz", "cx", "cy", "f", "sx", "k1", "k2", "k3", "p1", "p2"});
  const CameraModelOCVIntrinsics& c = model.GetIntrinsics();
  const double values[9] = {c.cx, c.cy, c.f, c.sx, c.k1, c.k2, c.k3, c.p1, c.p2};
  for (int k = 0; k < 9; ++k) m_params[6 + k] = values[k];
}

void OptiParameterSetCameraModelOCV::ApplyParams() {
  m_model.SetFrame_wTc(m_base * math::OptiTransformFrame::Delta(m_params.data()));
  CameraModelOCVIntrinsics c;
  c.cx = m_params[6];
  c.cy = m_params[7];
  c.f = m_params[8];
  c.sx = m_params[9];
  c.k1 = m_params[10];
  c.k2 = m_params[11];
  c.k3 = m_params[12];
  c.p1 = m_params[13];
  c.p2 = m_params[14];
  m_model.SetIntrinsicsWithoutMap(c);
}

OptiTransformCameraTsaiIS::OptiTransformCameraTsaiIS(std::shared_ptr<CameraModelTsai> model)
    : m_model(std::move(model)) {
  if (!m_model) throw std::invalid_argument("OptiTransformCameraTsaiIS::OptiTransformCameraTsaiIS - Invalid model.");
  AddNames(*this, {"cx", "cy", "f", "sx", "kappa1"});
  const CameraModelTsai::Intrinsics& i = m_model->GetIntrinsics();
  m_params = {i.cx, i.cy, i.f, i.sx, i.kappa1};
}

bool OptiTransformCameraTsaiIS::Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) {
  if (S.rows() != 3) {
    std::cerr << "Error in OptiTransformCameraTsaiIS::Compute: Invalid number of rows of 'S'.\n";
    return false;
  }
  D.resize(2, S.cols());
  for (Eigen::Index k = 0; k < S.cols(); ++k) {
    math::Vec2d pixel;
    if (!m_model->CameraPointToPixel(pixel, math::Vec3d(S(0, k), S(1, k), S(2, k)))) {
      std::cerr << "Error in OptiTransformCameraTsaiIS::Compute: Projection of column " << k << " failed.\n";
      return false;
    }
    D(0, k) = pixel[0];
    D(1, k) = pixel[1];
  }
  return true;
}

void OptiTransformCameraTsaiIS::ApplyParams() {
  m_model->SetIntrinsics(m_params[0], m_params[1], m_params[2], m_params[3], m_params[4]);
}

OptiTransformCameraModelIS::OptiTransformCameraModelIS(std::shared_ptr<const CameraModel> model,
                                                       std::shared_ptr<const math::Frame<double>> world_T_system)
    : m_model(std::move(model)), m_world_T_system(std::move(world_T_system)) {
  if (!m_model) {
    throw std::invalid_argument("OptiTransformCameraModelIS::OptiTransformCameraModelIS - Invalid model.");
  }
}

bool OptiTransformCameraModelIS::Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) {
  if (S.rows() != 3) {
    std::cerr << "Error in OptiTransformCameraModelIS::Compute: Invalid number of rows of 'S'.\n";
    return false;
  }
  math::Frame<double> cTw = m_model->GetFrame_cTw();
  if (m_world_T_system) cTw = cTw * m_world_T_system->GetInverse();
  D.resize(2, S.cols());
  for (Eigen::Index k = 0; k < S.cols(); ++k) {
    math::Vec2d pixel;
    if (!m_model->CameraPointToPixel(pixel, cTw.MultP(math::Vec3d(S(0, k), S(1, k), S(2, k))))) {
      std::cerr << "Error in OptiTransformCameraModelIS::Compute: Projection of column " << k << " failed.\n";
      return false;
    }
    D(0, k) = pixel[0];
    D(1, k) = pixel[1];
  }
  return true;
}

}  // namespace cam
