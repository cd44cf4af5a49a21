#include "shell/FusionParameters.h"

#include <algorithm>
#include <cmath>

#include "foundation/math/Statistics.h"
#include "shell/Language.h"
#include "shell/Settings.h"

namespace shell {

float ComputeSharpnessWeight(int sharpness) { return static_cast<float>(std::max(sharpness, 0)) * 0.5f; }

int ComputeSmoothingPasses(int sharpness) {
  if (sharpness >= 0) return 0;
  const int shift = sharpness < -30 ? 30 : -sharpness;
  return 1 << shift;
}

int ClampCloseHolesStep(int step) { return std::clamp(step, 0, 6); }

float CloseHolesPercentForStep(int step) {
  static constexpr float kPercent[7] = {0.f, 0.01f, 0.1f, 1.f, 10.f, 50.f, 100.f};
  return kPercent[ClampCloseHolesStep(step)];
}

std::string FormatVertexSpacingText(double spacing, const Language& language) {
  if (!(spacing > 0.0) || !std::isfinite(spacing)) return {};
  const double rounded = math::roundToSignificantFigures(spacing, 3);
  return "--> " + language.Get("_l10n_ShapeFusion_VertexSpacing_n01l_") + ": " + FormatSettingText(rounded) +
         " mm";
}

}  // namespace shell
