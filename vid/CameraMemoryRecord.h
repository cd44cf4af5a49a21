#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vid {

class GrabberImagingSource;

// The calibration record a scanner head keeps at offset 0 of its camera's
// user memory. All numbers little-endian:
//   0  2  model type: 1 Tsai, 2 OCV
//   2  2  payload length in bytes
//   4  …  payload: the model record (Tsai 144 bytes, OCV 176 bytes), the
//         caller's 64-bit value, the caller's text without terminator, zero
//         bytes up to the next multiple of 4.
// Model record: the pose wTc as 12 doubles (columns n, o, a, p, three
// elements each), resX and resY as unsigned 32-bit, then the parameters as
// doubles: Tsai cx, cy, f, sx, kappa1; OCV cx, cy, f, sx, k1, k2, p1, p2, k3.
struct CameraMemoryRecord {
  static constexpr std::uint16_t kTsai = 1;
  static constexpr std::uint16_t kOcv = 2;

  std::uint16_t modelType = 0;
  std::array<double, 12> pose{};
  std::uint32_t resX = 0;
  std::uint32_t resY = 0;
  std::vector<double> parameters;  // 5 (Tsai) or 9 (OCV)
  std::uint64_t value = 0;
  std::string text;  // at most 255 bytes are read back, up to the first zero byte
};

// 144 for Tsai, 176 for OCV, 0 for any other type.
std::size_t ModelRecordSize(std::uint16_t modelType);

// The whole record. Throws std::invalid_argument
// "EncodeCameraMemoryRecord - ..." for an unknown type, a parameter count
// that does not fit the type, or a payload beyond 65535 bytes.
std::vector<std::uint8_t> EncodeCameraMemoryRecord(const CameraMemoryRecord& record);

enum class CameraMemoryStatus {
  kOk,
  kReadFailed,    // the channel failed: type and length read as 0
  kWrongVersion,  // a type other than 1 or 2 (see `modelType`)
  kNoData,        // a payload length of 0
  kBadModel,      // the payload is shorter than the model record
};

// Decodes a header (4 bytes) and its payload.
CameraMemoryStatus DecodeCameraMemoryRecord(const std::uint8_t* header, const std::uint8_t* payload,
                                            std::size_t payloadSize, CameraMemoryRecord& record);

// Writes the record through the camera channel; false when it is too long
// for the camera's user memory, not a multiple of 4 bytes, or the write fails.
bool WriteCameraMemoryRecord(GrabberImagingSource& grabber, const CameraMemoryRecord& record);
// Reads the header, then the payload; `record.modelType` holds the type read
// even when it is wrong.
CameraMemoryStatus ReadCameraMemoryRecord(GrabberImagingSource& grabber,
                                          CameraMemoryRecord& record);

}  // namespace vid
