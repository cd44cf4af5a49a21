#pragma once

#include <memory>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "foundation/math/OptiTransform.h"

namespace cam {

// Parameter sets of the camera models for the optimisation framework. Each
// holds its model by reference (the model must outlive the set) and copies
// the model's pose as base at construction; the pose parameters
// "tx ty tz rx ry rz" (start 0) give wTc = base·Δ as for
// math::OptiTransformFrame, the intrinsic parameters start at the model's
// values.

// Parameters, in index order: tx ty tz rx ry rz cx cy f sx kappa1.
class OptiParameterSetCameraModelTsai : public math::OptiParameterSet {
 public:
  explicit OptiParameterSetCameraModelTsai(CameraModelTsai& model);
  // wTc ← base·Δ, then SetIntrinsics (cx, cy, f, sx, kappa1).
  void ApplyParams() override;

 private:
  CameraModelTsai& m_model;
  math::Frame<double> m_base;
};

// Parameters, in index order: tx ty tz rx ry rz cx cy f sx k1 k2 k3 p1 p2.
class OptiParameterSetCameraModelOCV : public math::OptiParameterSet {
 public:
  explicit OptiParameterSetCameraModelOCV(CameraModelOCV& model);
  // wTc ← base·Δ, then the nine coefficients are stored and the
  // undistortion map dropped (rebuild it with SetIntrinsics afterwards).
  void ApplyParams() override;

 private:
  CameraModelOCV& m_model;
  math::Frame<double> m_base;
};

// Projects camera-space points (3 rows) into the image of a shared Tsai model
// (2 rows). Owns the parameters "cx cy f sx kappa1", initialised from the
// model; ApplyParams calls the model's SetIntrinsics.
class OptiTransformCameraTsaiIS : public math::OptiTransform {
 public:
  // Throws std::invalid_argument for a null model.
  explicit OptiTransformCameraTsaiIS(std::shared_ptr<CameraModelTsai> model);
  bool Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) override;
  void ApplyParams() override;

 private:
  std::shared_ptr<CameraModelTsai> m_model;
};

// Projects points given in the world (3 rows) into the image of a camera
// model (2 rows) with the model's current pose: p_c = cTw·p_w. When the
// camera is placed in a coordinate system, its wTc is read as
// system_T_camera and world points are first mapped by the inverse of the
// shared world_T_system (read at every evaluation). Has no parameters: the
// model's own parameter set, registered separately, changes it.
class OptiTransformCameraModelIS : public math::OptiTransform {
 public:
  // Throws std::invalid_argument for a null model.
  explicit OptiTransformCameraModelIS(std::shared_ptr<const CameraModel> model,
                                      std::shared_ptr<const math::Frame<double>> world_T_system = nullptr);
  bool Compute(Eigen::MatrixXd& D, const Eigen::MatrixXd& S) override;

 private:
  std::shared_ptr<const CameraModel> m_model;
  std::shared_ptr<const math::Frame<double>> m_world_T_system;
};

}  // namespace cam
