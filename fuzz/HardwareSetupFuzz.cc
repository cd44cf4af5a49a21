// Feeds arbitrary text to the hardware-setup reader: it must either fail
// cleanly or give a setup whose written text reads back to the same text;
// never crash or hang.

#include <cstdint>
#include <string>
#include <string_view>

#include "scan/HardwareSetupIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  scan::HardwareSetupIO setup;
  if (!scan::ReadHardwareSetup(setup, std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  const std::string first = scan::WriteHardwareSetup(setup);
  scan::HardwareSetupIO again;
  if (!scan::ReadHardwareSetup(again, first)) __builtin_trap();
  if (scan::WriteHardwareSetup(again) != first) __builtin_trap();
  return 0;
}
