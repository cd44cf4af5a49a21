#pragma once

#include <string>

#include "scan/HardwareSetupIO.h"
#include "scan/StructuredLightScanner.h"

namespace scan {

// Gives the scanner the camera and projector models of a (calibrated)
// setup in place of its own: camera i gets the setup's camera i, scaled to
// the resolution of the model it replaces (a scanner whose images are
// scaled keeps its image size); the projector its normalised model. The
// scanner's captures and display are untouched. False with a one-line
// reason, nothing changed, when the camera counts differ or a model is
// missing.
bool UseSetupModels(StructuredLightScanner& scanner, const HardwareSetupIO& setup,
                    std::string& error);

// The same from a hardware-setup file: false with the reason (the file
// cannot be read, or the models do not fit the scanner), nothing changed.
bool UseSetupFile(StructuredLightScanner& scanner, const std::string& path, std::string& error);

}  // namespace scan
