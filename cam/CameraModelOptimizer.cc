#include "cam/CameraModelOptimizer.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <iostream>
#include <stdexcept>

#include "cam/OptiCameraModel.h"
#include "foundation/math/Statistics.h"

namespace cam {
namespace {

// The median of the length of a 2D vector with independent Gaussian
// components of standard deviation σ is σ·√(2·ln 2).
constexpr double kRayleighMedian = 1.1774100225154747;

template <typename Model>
void CheckModels(const std::vector<std::shared_ptr<Model>>& models, const std::vector<std::string>& activeParams) {
  if (models.size() != activeParams.size()) {
    throw std::invalid_argument("Error in OptimizeCameraModels - Sizes of cameraModels and sizeactiveParams not equal");
  }
  for (const auto& model : models) {
    if (!model) throw std::invalid_argument("CameraModelOptimizer::OptimizeCameraModels - Invalid camera model.");
  }
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

ActiveParams& ActiveParams::AddExtrinsics() { return Add("tx ty tz rx ry rz"); }
ActiveParams& ActiveParams::AddOCVIntrinsics() { return Add("cx cy f k1 k2 k3 p1 p2"); }
ActiveParams& ActiveParams::Add(const std::string& names) {
  m_names += ' ';
  m_names += names;
  return *this;
}

CameraModelOptimizer::CameraModelOptimizer() {
  m_systems.push_back({std::make_shared<math::Frame<double>>(), std::string()});
}

std::size_t CameraModelOptimizer::AddCoordinateSystem(std::shared_ptr<math::Frame<double>> world_T_system,
                                                      const std::string& activeParams) {
  if (!world_T_system) throw std::invalid_argument("CameraModelOptimizer::AddCoordinateSystem - Invalid frame.");
  m_systems.push_back({std::move(world_T_system), activeParams});
  return m_systems.size() - 1;
}

void CameraModelOptimizer::SetCameraCoordinateSystem(std::size_t cameraIndex, std::size_t systemIndex) {
  if (systemIndex >= m_systems.size()) {
    throw std::invalid_argument("CameraModelOptimizer::SetCameraCoordinateSystem - Invalid coordinate system.");
  }
  if (m_cameraSystems.size() <= cameraIndex) m_cameraSystems.resize(cameraIndex + 1, 0);
  m_cameraSystems[cameraIndex] = systemIndex;
}

void CameraModelOptimizer::AddObservations(std::size_t cameraIndex, std::size_t systemIndex,
                                           const std::vector<math::Vec3d>& points3d,
                                           const std::vector<math::Vec2d>& points2d) {
  if (systemIndex >= m_systems.size()) {
    throw std::invalid_argument("CameraModelOptimizer::AddObservations - Invalid coordinate system.");
  }
  if (points3d.size() != points2d.size()) {
    throw std::invalid_argument("CameraModelOptimizer::AddObservations - Point lists differ in length.");
  }
  if (points3d.empty()) return;
  m_groups.push_back({cameraIndex, systemIndex, points3d, points2d});
}

std::unique_ptr<math::OptiMizer> CameraModelOptimizer::CreateOptiMizer() const {
  return std::make_unique<math::OptiMizerLM>();
}

double CameraModelOptimizer::OptimizeCameraModels(const std::vector<std::shared_ptr<CameraModelTsai>>& cameraModels,
                                                  const std::vector<std::string>& activeParams) {
  CheckModels(cameraModels, activeParams);
  std::vector<std::shared_ptr<const CameraModel>> models(cameraModels.begin(), cameraModels.end());
  return Run(models, [&](std::size_t i) -> std::shared_ptr<math::OptiParameterSet> {
    if (IsBlank(activeParams[i])) return nullptr;
    auto set = std::make_shared<OptiParameterSetCameraModelTsai>(*cameraModels[i]);
    set->SelectActiveParams(activeParams[i]);
    return set;
  });
}

double CameraModelOptimizer::OptimizeCameraModels(const std::vector<std::shared_ptr<CameraModelOCV>>& cameraModels,
                                                  const std::vector<std::string>& activeParams) {
  CheckModels(cameraModels, activeParams);
  std::vector<std::shared_ptr<const CameraModel>> models(cameraModels.begin(), cameraModels.end());
  const double rms = Run(models, [&](std::size_t i) -> std::shared_ptr<math::OptiParameterSet> {
    if (IsBlank(activeParams[i])) return nullptr;
    auto set = std::make_shared<OptiParameterSetCameraModelOCV>(*cameraModels[i]);
    set->SelectActiveParams(activeParams[i]);
    return set;
  });
  for (std::size_t i = 0; i < cameraModels.size(); ++i) {
    if (IsBlank(activeParams[i])) continue;
    CameraModelOCV& model = *cameraModels[i];
    model.SetIntrinsics(model.GetIntrinsics(), model.GetResX(), model.GetResY());
  }
  return rms;
}

CameraModelOptimizer::Problem CameraModelOptimizer::BuildProblem(
    const std::vector<std::shared_ptr<const CameraModel>>& models, const CameraSetFactory& makeCameraSet) const {
  Problem problem;
  problem.optimizer = CreateOptiMizer();
  for (std::size_t i = 0; i < models.size(); ++i) {
    if (auto set = makeCameraSet(i)) problem.optimizer->AddParameterSet(set);
  }
  // System 0 is the world: no transform.
  std::vector<std::shared_ptr<math::OptiTransform>> systemTransforms(m_systems.size());
  for (std::size_t s = 1; s < m_systems.size(); ++s) {
    const CoordinateSystem& system = m_systems[s];
    if (!IsBlank(system.activeParams)) {
      auto pose = std::make_shared<math::OptiTransformFrame>(system.world_T_system);
      pose->SelectActiveParams(system.activeParams);
      problem.optimizer->AddParameterSet(pose);
      systemTransforms[s] = pose;
    } else {
      auto fixed = std::make_shared<math::OptiTransformLinear>();
      fixed->SetLinear(*system.world_T_system);
      systemTransforms[s] = fixed;
    }
  }
  for (std::size_t g = 0; g < m_groups.size(); ++g) {
    const ObservationGroup& group = m_groups[g];
    const std::vector<bool>& mask = m_inlierMasks[g];
    const auto n = static_cast<Eigen::Index>(std::count(mask.begin(), mask.end(), true));
    Eigen::MatrixXd S(3, n), R(2, n);
    Eigen::Index column = 0;
    for (std::size_t k = 0; k < mask.size(); ++k) {
      if (!mask[k]) continue;
      for (int r = 0; r < 3; ++r) S(r, column) = group.points3d[k][r];
      for (int r = 0; r < 2; ++r) R(r, column) = group.points2d[k][r];
      ++column;
    }
    auto func = std::make_shared<math::OptiErrorFunc>(std::move(S), std::move(R));
    if (group.system != 0) func->AddTransform(systemTransforms[group.system]);
    const std::size_t cameraSystem = m_cameraSystems[group.camera];
    func->AddTransform(std::make_shared<OptiTransformCameraModelIS>(
        models[group.camera], cameraSystem == 0 ? nullptr : m_systems[cameraSystem].world_T_system));
    problem.optimizer->AddErrorFunc(func);
    problem.funcs.push_back(std::move(func));
  }
  return problem;
}

double CameraModelOptimizer::Run(const std::vector<std::shared_ptr<const CameraModel>>& models,
                                 const CameraSetFactory& makeCameraSet) {
  m_succeeded = false;
  m_numOutliers = 0;
  m_groupRMS.clear();
  m_inlierMasks.clear();
  for (const ObservationGroup& group : m_groups) {
    if (group.camera >= models.size()) {
      throw std::invalid_argument("CameraModelOptimizer::OptimizeCameraModels - Observation group of camera " +
                                  std::to_string(group.camera) + ", but only " + std::to_string(models.size()) +
                                  " models.");
    }
    m_inlierMasks.emplace_back(group.points3d.size(), true);
  }
  if (m_cameraSystems.size() < models.size()) m_cameraSystems.resize(models.size(), 0);

  // Up to three passes: the first minimisation, the one after removing
  // outliers, and the re-based final one.
  const int passes = m_removeOutliers ? 3 : 2;
  int pass = 0;
  bool cancelled = false;
  const auto minimise = [&]() {
    Problem problem = BuildProblem(models, makeCameraSet);
    problem.optimizer->SetProgressCallback(
        utils::SubProgress(m_progress, double(pass) / passes, double(pass + 1) / passes).AsCallback());
    ++pass;
    const bool ok = problem.optimizer->Optimize();
    cancelled = problem.optimizer->WasCancelled();
    return std::make_pair(ok, std::move(problem));
  };

  bool ok = true;
  Problem last;
  if (!m_groups.empty()) {
    std::tie(ok, last) = minimise();
    if (ok && !cancelled && m_removeOutliers && MarkOutliers(last.funcs)) std::tie(ok, last) = minimise();
    if (ok && !cancelled) std::tie(ok, last) = minimise();
  }
  m_succeeded = ok && !cancelled;

  double sum = 0.0;
  for (const auto& func : last.funcs) {
    func->Evaluate();
    const double rms = func->GetRMS();
    std::cout << "errorFunc RMS: " << rms << '\n';
    m_groupRMS.push_back(rms);
    sum += rms;
  }
  if (m_progress) m_progress(1.0);
  return last.funcs.empty() ? 0.0 : sum / static_cast<double>(last.funcs.size());
}

bool CameraModelOptimizer::MarkOutliers(const std::vector<std::shared_ptr<math::OptiErrorFunc>>& funcs) {
  // Residual lengths per group, in the order of the current columns.
  std::vector<std::vector<double>> lengths(funcs.size());
  for (std::size_t g = 0; g < funcs.size(); ++g) {
    if (!funcs[g]->Evaluate()) return false;
    const Eigen::MatrixXd E = funcs[g]->GetDestination() - funcs[g]->GetReference();
    for (Eigen::Index k = 0; k < E.cols(); ++k) lengths[g].push_back(E.col(k).norm());
  }
  std::size_t numCameras = 0;
  for (const ObservationGroup& group : m_groups) numCameras = std::max(numCameras, group.camera + 1);
  std::vector<double> threshold(numCameras, 0.0);
  for (std::size_t c = 0; c < numCameras; ++c) {
    std::vector<double> all;
    for (std::size_t g = 0; g < funcs.size(); ++g) {
      if (m_groups[g].camera == c) all.insert(all.end(), lengths[g].begin(), lengths[g].end());
    }
    threshold[c] = m_outlierSigmaFactor * math::median(all) / kRayleighMedian;
  }
  bool found = false;
  for (std::size_t g = 0; g < funcs.size(); ++g) {
    const double limit = threshold[m_groups[g].camera];
    std::size_t column = 0;
    for (std::size_t k = 0; k < m_inlierMasks[g].size(); ++k) {
      if (!m_inlierMasks[g][k]) continue;
      if (!(lengths[g][column++] <= limit)) {  // NaN residuals are outliers too
        m_inlierMasks[g][k] = false;
        ++m_numOutliers;
        found = true;
      }
    }
  }
  return found;
}

}  // namespace cam
