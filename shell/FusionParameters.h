#pragma once

#include <string>

namespace shell {

class Language;

// The parameters of one fusion run, from the settings ShapeFusion/Fusion/….
struct FusionParameters {
  int resolution = 512;
  // Relative hole-closing size as a fraction (CloseHolesRelSizePercent × 0.01).
  float holeClosingSize = 0.1f;
  float sharpnessWeight = 0.f;
  int smoothingPasses = 0;
  std::string resultName;
};

// The sharpness setting s (may be negative) as the screening weight
// max(s, 0) × 0.5 and as smoothing passes: 2^−s for s < 0, else none. The
// shift is capped at 30 (a billion passes is already more than any mesh
// takes).
float ComputeSharpnessWeight(int sharpness);
int ComputeSmoothingPasses(int sharpness);

// The hole-closing step clamped to 0…6.
int ClampCloseHolesStep(int step);
// The hole-closing percentage of a step (clamped first): 0, 0.01, 0.1, 1,
// 10, 50, 100.
float CloseHolesPercentForStep(int step);

// "--> " + the localised "vertex spacing" + ": " + spacing (mm) rounded to
// 3 significant figures + " mm"; empty when spacing is not positive.
std::string FormatVertexSpacingText(double spacing, const Language& language);

}  // namespace shell
