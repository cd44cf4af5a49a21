// Feeds arbitrary bytes to the scene-file reader: it must return a
// description or throw SceneFileError, never crash; a description it
// returns must survive writing and reading again unchanged.

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/SceneFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::SceneDescription description;
  try {
    description = sim::ParseSceneDescription(text, "fuzz");
  } catch (const sim::SceneFileError&) {
    return 0;
  }
  const std::string written = sim::WriteSceneDescription(description);
  try {
    if (sim::WriteSceneDescription(sim::ParseSceneDescription(written, "fuzz")) != written) {
      __builtin_trap();
    }
  } catch (const sim::SceneFileError&) {
    __builtin_trap();
  }
  return 0;
}
