#pragma once

#include <cstdint>
#include <string>

#include "cam/CameraModelTsai.h"

namespace felvar::fixtures {

// A Tsai model as the unit's factory calibration holds it (its XML text).
inline std::string TsaiModelText(std::uint32_t width, std::uint32_t height, double cx, double cy,
                                 double f, double kappa) {
  cam::CameraModelTsai model;
  model.SetResolution(width, height);
  model.SetIntrinsics(cx, cy, f, 1.0, kappa);
  std::string text;
  model.WriteToXML(text);
  return text;
}

// The unit's projector: normalised, principal point at the centre.
inline std::string ProjectorModelText() { return TsaiModelText(1, 1, 0.5, 0.5, 1.4, 0.0); }

}  // namespace felvar::fixtures
