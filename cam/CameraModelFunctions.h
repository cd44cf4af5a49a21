#pragma once

#include "cam/CameraModel.h"
#include "foundation/math/Line.h"

namespace cam {

class CameraModelTsai;
class CameraModelOCV;

// World point (millimetres) → pixel: cTw, then CameraPointToPixel.
bool WorldPointToPixel(math::Vec2d& pixel, const math::Vec3d& worldPoint, const CameraModel& model);

// The depth of a world point along the optical axis (the z coordinate in
// camera coordinates, not the Euclidean distance).
double WorldPointToDepth(const math::Vec3d& worldPoint, const CameraModel& model);

// The world point seen in pixel at the given depth along the optical axis.
// False when the pixel cannot be back-projected or its ray has no z
// component.
bool DepthPixelToWorldPoint(math::Vec3d& worldPoint, const math::Vec2d& pixel, double depth,
                            const CameraModel& model);

// The viewing line of a pixel in the world: through the camera centre, along
// the ray rotated into the world (not normalised).
bool PixelToWorldLine(math::Line3d& line, const math::Vec2d& pixel, const CameraModel& model);
// Only the world direction of that line.
bool PixelToWorldDirection(math::Vec3d& direction, const math::Vec2d& pixel, const CameraModel& model);

// An OCV model equivalent to a Tsai model: same resolution, pose, cx, cy, f
// and sx; k1, k2, k3 fitted to a 20 × 20 grid of the Tsai model's rays (start
// k1 = −kappa1·f²), p1 = p2 = 0.
CameraModelOCV ConvertCameraModelTsaiToOCV(const CameraModelTsai& tsai);

}  // namespace cam
