#include "cam/CameraModelFunctions.h"

#include <iostream>
#include <memory>
#include <vector>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelOptimizer.h"
#include "cam/CameraModelTsai.h"

namespace cam {

bool WorldPointToPixel(math::Vec2d& pixel, const math::Vec3d& worldPoint, const CameraModel& model) {
  return model.CameraPointToPixel(pixel, model.GetFrame_cTw().MultP(worldPoint));
}

double WorldPointToDepth(const math::Vec3d& worldPoint, const CameraModel& model) {
  return model.GetFrame_cTw().MultP(worldPoint)[2];
}

bool DepthPixelToWorldPoint(math::Vec3d& worldPoint, const math::Vec2d& pixel, double depth,
                            const CameraModel& model) {
  math::Vec3d ray;
  if (!model.PixelToCameraRay(ray, pixel) || ray[2] == 0.0) return false;
  worldPoint = model.GetFrame_wTc().MultP(ray * (depth / ray[2]));
  return true;
}

bool PixelToWorldDirection(math::Vec3d& direction, const math::Vec2d& pixel, const CameraModel& model) {
  math::Vec3d ray;
  if (!model.PixelToCameraRay(ray, pixel)) return false;
  direction = model.GetFrame_wTc().MultV(ray);
  return true;
}

bool PixelToWorldLine(math::Line3d& line, const math::Vec2d& pixel, const CameraModel& model) {
  math::Vec3d direction;
  if (!PixelToWorldDirection(direction, pixel, model)) return false;
  line.point = model.GetFrame_wTc().GetTrans();
  line.direction = direction;
  return true;
}

CameraModelOCV ConvertCameraModelTsaiToOCV(const CameraModelTsai& tsai) {
  const CameraModelTsai::Intrinsics& t = tsai.GetIntrinsics();
  auto ocv = std::make_shared<CameraModelOCV>();
  ocv->SetFrame_wTc(tsai.GetFrame_wTc());
  CameraModelOCVIntrinsics c;
  c.cx = t.cx;
  c.cy = t.cy;
  c.f = t.f;
  c.sx = t.sx;
  c.k1 = -t.kappa1 * t.f * t.f;
  ocv->SetIntrinsicsWithoutMap(c);
  ocv->SetResolution(tsai.GetResX(), tsai.GetResY());

  std::vector<math::Vec3d> points3d;
  std::vector<math::Vec2d> points2d;
  const double stepX = tsai.GetResX() / 20.0, stepY = tsai.GetResY() / 20.0;
  for (int row = 0; row < 20 && stepY > 0.0; ++row) {
    for (int col = 0; col < 20 && stepX > 0.0; ++col) {
      const math::Vec2d pixel(col * stepX, row * stepY);
      math::Vec3d ray;
      if (!tsai.PixelToCameraRay(ray, pixel)) continue;
      points3d.push_back(tsai.GetFrame_wTc().MultP(ray));
      points2d.push_back(pixel);
    }
  }
  if (!points3d.empty()) {
    CameraModelOptimizer optimizer;
    optimizer.SetOutlierRemoval(false);
    optimizer.AddObservations(0, 0, points3d, points2d);
    std::vector<std::shared_ptr<CameraModelOCV>> models{ocv};
    optimizer.OptimizeCameraModels(models, {"k1 k2 k3"});
  }
  ocv->SetIntrinsics(ocv->GetIntrinsics(), tsai.GetResX(), tsai.GetResY());
  return *ocv;
}

}  // namespace cam
