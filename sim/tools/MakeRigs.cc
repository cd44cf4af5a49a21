// Writes the hardware-setup files of the shipped rigs:
//   tarvelin_make_rigs SHARE_RIGS_DIR
// creates DIR/default/rig.tarvelinsetup and DIR/stereo/rig.tarvelinsetup.
#include <filesystem>
#include <iostream>

#include "sim/VirtualRig.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: tarvelin_make_rigs SHARE_RIGS_DIR\n";
    return 2;
  }
  for (const bool stereo : {false, true}) {
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / (stereo ? "stereo" : "default");
    std::filesystem::create_directories(dir);
    if (!scan::SaveHardwareSetup(sim::MakeShippedRigSetup(stereo), (dir / sim::kRigSetupFile).string())) return 1;
  }
  return 0;
}
