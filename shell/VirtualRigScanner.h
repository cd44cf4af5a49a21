#pragma once

#include <functional>
#include <memory>

#include "shell/Application.h"

namespace sim {
class VirtualRig;
}

namespace shell {

// The product "Virtual": the simulated rig of a rig folder (the hardware
// setup's folder, holding "rig.tarvelinsetup" and "scene.json") with its
// cameras as the scanner's cameras and its projector, through a pattern
// window of the projector's size, as the scanner's pattern display. The
// command line's --rig-scale shrinks cameras and projector, --rig-seed
// seeds their noise. A projector window of the context shows the simulated
// projector's patterns too. The stereo variant "VirtualStereo" is the same
// rig with two cameras: a rig folder with fewer is refused.
inline constexpr const char* kVirtualProduct = "Virtual";
inline constexpr const char* kVirtualStereoProduct = "VirtualStereo";
inline constexpr const char* kVirtualRigDevice = "VirtualRig";

// Throws std::runtime_error when there is no setup file or the rig folder
// cannot be read or built.
ScannerBundle CreateVirtualRigScanner(const ScannerContext& context);

ScannerBundle CreateVirtualStereoRigScanner(const ScannerContext& context);

// The rig of the context's rig folder (see above); `adjust` may change the
// folder's hardware setup before the rig is built. Throws as
// CreateVirtualRigScanner.
std::shared_ptr<sim::VirtualRig> LoadVirtualRig(
    const ScannerContext& context, std::size_t minCameras,
    const std::function<void(scan::HardwareSetupIO&)>& adjust = {});
// Whether the context's hardware setup is a rig folder's.
bool IsRigFolderSetup(const ScannerContext& context);
// A pattern window of the rig projector's size showing on the rig's
// projector and in the context's projector window.
std::shared_ptr<PatternWindow> MakeRigPatternWindow(const ScannerContext& context,
                                                    const sim::VirtualRig& rig);

// Registers the products "Virtual" and "VirtualStereo".
void RegisterVirtualRig(Application::Options& options);

// The virtual rig behind a bundle; null when the scanner is not the virtual one.
sim::VirtualRig* GetVirtualRig(const ScannerBundle& bundle);

}  // namespace shell
