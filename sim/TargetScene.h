#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "cam/CameraModel.h"
#include "cam/FlatPlateCalibrationTarget.h"
#include "foundation/img/UniImage.h"
#include "sim/RayCaster.h"
#include "sim/Scene.h"
#include "sim/SurfacePrint.h"

namespace sim {

class VirtualRig;

// Reflectances of printed targets: matte paper and inks.
struct PrintOptions {
  float paper = 0.85f;  // white
  float black = 0.04f;
  Albedo green{0.08f, 0.45f, 0.12f};
  Albedo blue{0.08f, 0.12f, 0.45f};
};

// The marks of a flat target printed on paper of the target's background
// colour: discs (and rings) at the target file's centres and diameters, in
// plate coordinates (mm). Edges are integrated over the footprint exactly
// (see DiscCoverage).
class PrintedTarget : public SurfacePrint {
 public:
  PrintedTarget(const cam::FlatPlateCalibrationTarget& target, const PrintOptions& options = {});
  Albedo Reflectance(const math::Vec2d& q, const math::Vec2d& du,
                     const math::Vec2d& dv) const override;

  // The marks' extent in plate coordinates (mm), outer edges included.
  math::Vec2d GetMin() const { return m_min; }
  math::Vec2d GetMax() const { return m_max; }

 private:
  struct Mark {
    math::Vec2d centre;
    double outer = 0.0, inner = 0.0;  // radii
    Albedo ink;
  };
  Albedo m_background;
  std::vector<Mark> m_marks;
  // Marks bucketed by position, cells of the largest mark diameter.
  double m_cell = 1.0;
  math::Vec2d m_min, m_max;
  int m_cellsX = 0, m_cellsY = 0;
  std::vector<std::vector<std::uint32_t>> m_buckets;
};

// A target standing in the rig's world.
struct PlacedTarget {
  std::string name;
  cam::FlatPlateCalibrationTarget target;
  math::Frame4d world_T_plate;  // the target file's plate coordinates into the world
};

// The default corner of a rig: both panels of
// scan::HardwareSetup::SetDefaultZentoCalibGrids(scale) with their printed
// faces ("corner-left", "corner-right").
std::vector<PlacedTarget> MakeCornerTargets(double scale);
std::vector<CamCalib::CalibGrid> DefaultCornerGrids(double scale);

// A scene of the targets alone: each a panel of paper reaching one spacing
// beyond its outermost marks, with the target printed on its front (the
// side plate −z faces), standing still.
Scene MakeTargetScene(const std::vector<PlacedTarget>& targets, const PrintOptions& print = {});

// The true image of a mark's centre (the projection of the circle's centre,
// not the centre of its image ellipse), pixel centres at integer
// coordinates.
struct MarkTruth {
  int target = 0;     // index into the placed targets
  math::Vec2i node;   // the target file's grid index
  math::Vec2d image;  // pixels
  // The whole mark (its outer edge) lies inside the image, at least one
  // pixel from its border, faces the camera and is seen unoccluded.
  bool visible = false;
};

// Every mark of every target as the camera model sees it; caster over the
// targets' scene (for occlusion).
std::vector<MarkTruth> ComputeMarkTruth(const std::vector<PlacedTarget>& targets,
                                        const cam::CameraModel& camera, const RayCaster& caster);

// The grey image camera `camera` of the rig takes of its scene while the
// projector shows full white (the camera's exposure, gain, gamma, defocus
// and, with noise, its noise).
img::GreyImage RenderLitImage(VirtualRig& rig, std::size_t camera, bool noise);

// A plate pose facing a camera: the plate's centre `distance` mm along the
// camera's viewing axis, the plate turned by tilt (radians) about an axis in
// its plane at `axisAngle` (radians from the camera's x axis), and then
// rolled by `roll` (radians) about its normal. At zero tilt the printed side
// faces the camera squarely, plate x along image x.
math::Frame4d PlateFacingCamera(const cam::CameraModel& camera,
                                const cam::FlatPlateCalibrationTarget& target, double distance,
                                double tilt, double axisAngle, double roll);

// View `view` (0, 1, …) of a plate calibration run facing the camera: tilted
// 20, 30, 40, 50 degrees in turn about axes 45 degrees apart and rolled by
// ±5…15 degrees; views 0…23 are 24 different poses, then they repeat.
math::Frame4d PlateCalibrationPose(const cam::CameraModel& camera,
                                   const cam::FlatPlateCalibrationTarget& target, double distance,
                                   int view);

}  // namespace sim
