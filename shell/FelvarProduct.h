#pragma once

#include "shell/Application.h"

namespace shell {

inline constexpr const char* kFelvarProduct = "Felvar";

// The projector–camera unit ("Felvar"): felvar::FelvarStructuredLightScanner
// with the unit's one camera and its projector, calibrated by the unit's
// factory models. It needs the unit's device library (see
// devices/felvar/DeviceLibrary.h); without it the product throws the
// library's message.
//
// On a rig folder (the hardware setup "rig.tarvelinsetup" of a folder) the
// unit is the virtual rig's: the rig's first camera becomes the unit's
// camera in its quarter sensor mode (1104 × 828, with the sensor's
// sub-pixel phase shifts), a simulated unit is installed as the library's
// back-end holding the rig's models as factory calibration, and the camera
// bridge is a replayed video device whose frames the rig camera renders
// (the texture mode upsampled from them). Scores come from the rig as for
// "Virtual". Throws std::runtime_error when the rig cannot be built or the
// rig's camera has no Tsai model.
ScannerBundle CreateFelvarScanner(const ScannerContext& context);

}  // namespace shell
