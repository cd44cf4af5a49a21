// Decodes arbitrary camera-memory contents as the calibration record: a
// record is decoded or refused with its status, never read past its bytes.

#include <cstdint>
#include <vector>

#include "vid/CameraMemoryRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  vid::CameraMemoryRecord record;
  // The payload in its own allocation, so that reading past it is caught.
  const std::vector<std::uint8_t> payload(data + 4, data + size);
  if (vid::DecodeCameraMemoryRecord(data, payload.data(), payload.size(), record) ==
      vid::CameraMemoryStatus::kOk) {
    // What decodes encodes again (text up to its first zero byte).
    vid::EncodeCameraMemoryRecord(record);
  }
  return 0;
}
