// Feeds arbitrary text to the camera-model readers: they must either fail
// cleanly or produce a model whose written text reads back to the same text;
// never crash or hang.

#include <cstdint>
#include <string>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"

namespace {

template <typename Model>
void RoundTrip(const std::string& text) {
  Model model;
  if (!model.ReadFromXML(text)) return;
  std::string first;
  model.WriteToXML(first);
  Model again;
  if (!again.ReadFromXML(first)) __builtin_trap();
  std::string second;
  again.WriteToXML(second);
  if (first != second) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  RoundTrip<cam::CameraModelTsai>(text);
  RoundTrip<cam::CameraModelOCV>(text);
  return 0;
}
