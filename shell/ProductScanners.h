#pragma once

#include "shell/Application.h"

namespace shell {

// Every product the shell creates a scanner for, by HardwareSetup/Product:
//   "Virtual", "VirtualStereo"  the virtual rig (VirtualRigScanner.h)
//   "Galvern"                   galvern::GalvernStructuredLightScanner
//   "Felvar"                    felvar::FelvarStructuredLightScanner (FelvarProduct.h)
//   "TirraForFelvar"            galvern::TirraStructuredLightScanner; the
//                               scan mode is set to "background"
//   "ScannerModelF"             galvern::TirraStructuredLightScanner
//   "Custom" and any other name sls::GenericStructuredLightScanner with the name
// (the empty name is the application's plain scanner). Device scanners get
// the hardware setup's cameras and open each one; a camera that cannot be
// opened is logged by name and the scanner has no capture for it.
void RegisterProducts(Application::Options& options);

}  // namespace shell
