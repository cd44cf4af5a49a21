#pragma once

#include <vector>

#include "foundation/img/UniImage.h"
#include "v3d/Color.h"

namespace surf {

// The colour of a deviation on the ramp from −t to +t (t > 0): blue at −t,
// cyan at −t/2, green at 0, yellow at +t/2, red at +t; values beyond are
// clamped; NaN is grey (128, 128, 128). Opaque.
v3d::Color4ub DeviationColor(float deviation, float tolerance);

// A histogram of the deviations over −t…+t as a picture (width × height
// pixels, at least 16 × 16): white background, one bar per bin in the
// ramp's colour of the bin's centre, heights relative to the fullest bin,
// a black line at 0 and grey lines at ±t/2. NaN values are not counted.
img::RGBImage DeviationHistogram(const std::vector<float>& deviations, float tolerance,
                                 int width = 640, int height = 320, int bins = 64);

}  // namespace surf
