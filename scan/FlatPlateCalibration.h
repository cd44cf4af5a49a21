#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "cam/CameraModelOCV.h"
#include "cam/FlatPlateCalibrationTarget.h"
#include "foundation/img/Ellipse.h"
#include "foundation/img/UniImage.h"

namespace scan {

// One or two cameras calibrated with a flat plate held in several positions
// (multi-views): every view's marks are detected and mapped onto the
// target's grid, then all views are optimised together into OCV models
// (camera 0 at the world origin, the plate poses world_T_plate free).
class FlatPlateCalibration {
 public:
  struct Marker {
    math::Vec2i gridIndex;
    img::Ellipse ellipse;  // the fitted image ellipse (pixels)
    math::Vec2d image;     // the image of the mark's centre used for calibration (pixels)
    math::Vec3d center;    // plate coordinates (mm)
    double innerDiameter = 0.0, outerDiameter = 0.0;
    cam::TargetColor color = cam::TargetColor::kBlack;
    double error = 0.0;  // reprojection error of the last calibration, pixels
  };
  struct CameraView {
    int cameraIndex = 0;
    std::vector<Marker> markers;
  };
  struct MultiView {
    math::Frame<double> world_T_plate;
    std::vector<CameraView> cameraViews;
  };

  // Throws std::invalid_argument for a target whose grid is smaller than
  // 2 × 2 ("EllipseGridMapping - gridWidth and gridHeight must be >= 2") or
  // that has no marker cell.
  explicit FlatPlateCalibration(cam::FlatPlateCalibrationTarget target);
  ~FlatPlateCalibration();
  FlatPlateCalibration(const FlatPlateCalibration&) = delete;
  FlatPlateCalibration& operator=(const FlatPlateCalibration&) = delete;

  // One image per camera (an empty image: that camera did not see the
  // plate). Without the first camera's image the view is not added (a
  // warning on stdout). A camera whose image shows no mappable plate is
  // left out of the view; false when no camera's was mapped.
  bool AddMultiView(const std::vector<img::GreyImage>& images);
  // A view whose marks were measured elsewhere (each marker's gridIndex,
  // image point and plate centre; the ellipse may be left empty). False
  // (nothing added, the same warning) without a first camera's view.
  bool AddMultiView(MultiView view);

  // cx = width/2, cy = height/2 (integer division), f = width·factor,
  // sx = 1, no distortion, the resolution set.
  static void InitIntrinsicsApproximately(cam::CameraModelOCV& model, double factor, int width,
                                          int height);

  // Optimises the models (one or two; their resolution the images') and the
  // plate poses of all views. Models are started from the views (a
  // calibration of each view alone) unless they are valid already. Computes
  // the RMS and, for two cameras, the stereo baseline and angle. False
  // (models unchanged) with fewer than three views of the first camera, a
  // second camera that shares no view with it, or a failed optimisation.
  bool CalibrateCameraModels(const std::vector<std::shared_ptr<cam::CameraModelOCV>>& models);

  double GetErrorRMS() const { return m_rms; }
  double GetStereoBaseline() const { return m_stereoBaseline; }  // mm; 0 with one camera
  double GetStereoAngle() const { return m_stereoAngle; }        // degrees; 0 with one camera
  const std::string& GetActiveParams() const { return m_activeParams; }
  const std::vector<MultiView>& GetMultiViews() const { return m_views; }
  const cam::FlatPlateCalibrationTarget& GetTarget() const { return m_target; }

  // Writes the result file ("FlatPlateCalibration.xml"); false with an
  // "Error: ..." line when it cannot be written.
  bool DumpToFile(const std::filesystem::path& path) const;
  std::string ToXml() const;

 private:
  cam::FlatPlateCalibrationTarget m_target;
  CamCalib::CalibGrid m_grid;
  std::vector<MultiView> m_views;
  std::string m_activeParams;
  double m_rms = 0.0;
  double m_stereoBaseline = 0.0;
  double m_stereoAngle = 0.0;
};

}  // namespace scan
