#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "foundation/math/OptiMizer.h"
#include "foundation/utils/Progress.h"

namespace cam {

// A string of parameter names for the camera and pose parameter sets, built
// by appending groups (each with a leading blank).
class ActiveParams {
 public:
  ActiveParams() = default;
  explicit ActiveParams(std::string names) : m_names(std::move(names)) {}

  // Appends " tx ty tz rx ry rz".
  ActiveParams& AddExtrinsics();
  // Appends " cx cy f k1 k2 k3 p1 p2".
  ActiveParams& AddOCVIntrinsics();
  // Appends " " + names.
  ActiveParams& Add(const std::string& names);

  const std::string& GetString() const { return m_names; }

 private:
  std::string m_names;
};

// Refines several camera models and the poses of the observed targets jointly
// (bundle-style) with the Levenberg–Marquardt framework.
//
// Coordinate systems are shared frames world_T_system; system 0 is the world
// (identity, fixed). A system with active pose parameters is optimised
// relative to its initial value and the result is written back into its
// frame. Cameras are given to OptimizeCameraModels as a list; camera i is
// placed in the world unless SetCameraCoordinateSystem places it in another
// system (its wTc is then read as system_T_camera). An observation group
// pairs image points of one camera with 3D points given in one system.
//
// Outlier pass: after the first minimisation, a camera's noise level is
// estimated robustly as σ = median(|residual|)/1.1774 over all its
// observations (the median of the residual length of isotropic Gaussian
// image noise is 1.1774·σ); observations whose residual length exceeds
// outlierSigmaFactor·σ (default 5) are removed and the minimisation runs once
// more. The pass runs once.
//
// Finally the minimisation runs once more from its result with every pose
// re-based (its parameters back at 0): lmdif's difference steps are relative
// to each parameter's value, so pose increments that settle at tiny non-zero
// values get inaccurate Jacobian columns and the minimisation crawls; after
// re-basing, the last steps are taken with an accurate Jacobian.
class CameraModelOptimizer {
 public:
  CameraModelOptimizer();
  CameraModelOptimizer(const CameraModelOptimizer&) = delete;
  CameraModelOptimizer& operator=(const CameraModelOptimizer&) = delete;
  virtual ~CameraModelOptimizer() = default;

  // Registers a coordinate system and returns its index. activeParams: pose
  // parameters to optimise ("tx ty tz rx ry rz" or a subset), empty = fixed.
  // Throws std::invalid_argument for a null frame.
  std::size_t AddCoordinateSystem(std::shared_ptr<math::Frame<double>> world_T_system,
                                  const std::string& activeParams = "");
  std::size_t GetNumCoordinateSystems() const { return m_systems.size(); }

  // Throws std::invalid_argument for an unknown system.
  void SetCameraCoordinateSystem(std::size_t cameraIndex, std::size_t systemIndex);

  // Image points (pixels) of camera cameraIndex for the 3D points
  // (millimetres in system systemIndex). Throws std::invalid_argument for an
  // unknown system or lists of different lengths; empty lists are ignored.
  void AddObservations(std::size_t cameraIndex, std::size_t systemIndex, const std::vector<math::Vec3d>& points3d,
                       const std::vector<math::Vec2d>& points2d);
  void ClearObservations() { m_groups.clear(); }
  std::size_t GetNumObservationGroups() const { return m_groups.size(); }

  void SetOutlierRemoval(bool enabled, double outlierSigmaFactor = 5.0) {
    m_removeOutliers = enabled;
    m_outlierSigmaFactor = outlierSigmaFactor;
  }
  // Progress over the whole run; returning true ends the minimisation early.
  void SetProgressCallback(utils::ProgressCallback progress) { m_progress = std::move(progress); }

  // Optimises the models (a camera whose string is empty stays fixed) and the
  // active coordinate systems; prints "errorFunc RMS: <value>" per group on
  // stdout and returns the mean of these RMS values (per error component;
  // 0 without groups). Throws std::invalid_argument when the lists differ in
  // length ("Error in OptimizeCameraModels - Sizes of cameraModels and
  // sizeactiveParams not equal"), a model is null or a group names a camera
  // outside the list.
  double OptimizeCameraModels(const std::vector<std::shared_ptr<CameraModelTsai>>& cameraModels,
                              const std::vector<std::string>& activeParams);
  // OCV models: the undistortion maps of the optimised models are rebuilt at
  // the end.
  double OptimizeCameraModels(const std::vector<std::shared_ptr<CameraModelOCV>>& cameraModels,
                              const std::vector<std::string>& activeParams);

  // Results of the last run.
  bool LastRunSucceeded() const { return m_succeeded; }
  std::size_t GetNumOutliersRemoved() const { return m_numOutliers; }
  // Per observation group: which observations were kept (true) or removed.
  const std::vector<std::vector<bool>>& GetInlierMasks() const { return m_inlierMasks; }
  // Per observation group: the RMS per error component.
  const std::vector<double>& GetGroupRMS() const { return m_groupRMS; }

 protected:
  // The minimiser; by default a math::OptiMizerLM.
  virtual std::unique_ptr<math::OptiMizer> CreateOptiMizer() const;

 private:
  struct CoordinateSystem {
    std::shared_ptr<math::Frame<double>> world_T_system;
    std::string activeParams;
  };
  struct ObservationGroup {
    std::size_t camera = 0;
    std::size_t system = 0;
    std::vector<math::Vec3d> points3d;
    std::vector<math::Vec2d> points2d;
  };

  // Creates the parameter set of camera i from the model's current state, or
  // null for a fixed camera.
  using CameraSetFactory = std::function<std::shared_ptr<math::OptiParameterSet>(std::size_t)>;
  struct Problem {
    std::unique_ptr<math::OptiMizer> optimizer;
    std::vector<std::shared_ptr<math::OptiErrorFunc>> funcs;  // one per group
  };

  double Run(const std::vector<std::shared_ptr<const CameraModel>>& models, const CameraSetFactory& makeCameraSet);
  // Builds the problem from the current models, frames and inlier masks.
  Problem BuildProblem(const std::vector<std::shared_ptr<const CameraModel>>& models,
                       const CameraSetFactory& makeCameraSet) const;
  // Marks outliers in the inlier masks; true when any was found.
  bool MarkOutliers(const std::vector<std::shared_ptr<math::OptiErrorFunc>>& funcs);

  std::vector<CoordinateSystem> m_systems;
  std::vector<std::size_t> m_cameraSystems;  // by camera index; missing = world
  std::vector<ObservationGroup> m_groups;
  bool m_removeOutliers = true;
  double m_outlierSigmaFactor = 5.0;
  utils::ProgressCallback m_progress;

  bool m_succeeded = false;
  std::size_t m_numOutliers = 0;
  std::vector<std::vector<bool>> m_inlierMasks;
  std::vector<double> m_groupRMS;
};

}  // namespace cam
