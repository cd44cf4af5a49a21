#include "vid/CameraMemoryRecord.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "vid/GrabberImagingSource.h"

namespace vid {
namespace {

constexpr std::size_t kHeader = 4;

template <typename T>
void Put(std::vector<std::uint8_t>& out, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));  // little-endian host
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <typename T>
T Get(const std::uint8_t*& p) {
  T value;
  std::memcpy(&value, p, sizeof(T));
  p += sizeof(T);
  return value;
}

std::size_t ParameterCount(std::uint16_t type) {
  return type == CameraMemoryRecord::kTsai ? 5 : type == CameraMemoryRecord::kOcv ? 9 : 0;
}

}  // namespace

std::size_t ModelRecordSize(std::uint16_t modelType) {
  const std::size_t n = ParameterCount(modelType);
  return n ? 12 * 8 + 8 + n * 8 : 0;
}

std::vector<std::uint8_t> EncodeCameraMemoryRecord(const CameraMemoryRecord& record) {
  const std::size_t count = ParameterCount(record.modelType);
  if (!count) throw std::invalid_argument("EncodeCameraMemoryRecord - Unknown model type.");
  if (record.parameters.size() != count)
    throw std::invalid_argument(
        "EncodeCameraMemoryRecord - Parameter count does not fit the model type.");
  std::vector<std::uint8_t> out;
  Put<std::uint16_t>(out, record.modelType);
  Put<std::uint16_t>(out, 0);  // the length, filled in below
  for (double v : record.pose) Put(out, v);
  Put(out, record.resX);
  Put(out, record.resY);
  for (double v : record.parameters) Put(out, v);
  Put(out, record.value);
  out.insert(out.end(), record.text.begin(), record.text.end());
  out.resize((out.size() + 3) / 4 * 4, 0);
  const std::size_t payload = out.size() - kHeader;
  if (payload > 0xFFFF)
    throw std::invalid_argument("EncodeCameraMemoryRecord - Record longer than 65535 bytes.");
  out[2] = std::uint8_t(payload & 0xFF);
  out[3] = std::uint8_t(payload >> 8);
  return out;
}

CameraMemoryStatus DecodeCameraMemoryRecord(const std::uint8_t* header, const std::uint8_t* payload,
                                            std::size_t payloadSize, CameraMemoryRecord& record) {
  const std::uint8_t* h = header;
  record.modelType = Get<std::uint16_t>(h);
  const std::uint16_t length = Get<std::uint16_t>(h);
  if (record.modelType != CameraMemoryRecord::kTsai && record.modelType != CameraMemoryRecord::kOcv)
    return CameraMemoryStatus::kWrongVersion;
  if (length == 0 || payloadSize == 0) return CameraMemoryStatus::kNoData;
  const std::size_t size = std::min<std::size_t>(length, payloadSize);
  const std::size_t model = ModelRecordSize(record.modelType);
  if (size < model) return CameraMemoryStatus::kBadModel;
  const std::uint8_t* p = payload;
  for (double& v : record.pose) v = Get<double>(p);
  record.resX = Get<std::uint32_t>(p);
  record.resY = Get<std::uint32_t>(p);
  record.parameters.assign(ParameterCount(record.modelType), 0.0);
  for (double& v : record.parameters) v = Get<double>(p);
  record.value = 0;
  record.text.clear();
  if (size - model >= 8) {
    record.value = Get<std::uint64_t>(p);
    const std::size_t rest = std::min<std::size_t>(size - model - 8, 255);
    const auto* text = reinterpret_cast<const char*>(p);
    record.text.assign(text, strnlen(text, rest));
  }
  return CameraMemoryStatus::kOk;
}

bool WriteCameraMemoryRecord(GrabberImagingSource& grabber, const CameraMemoryRecord& record) {
  std::vector<std::uint8_t> bytes;
  try {
    bytes = EncodeCameraMemoryRecord(record);
  } catch (const std::invalid_argument&) {
    return false;
  }
  if ((bytes.size() - kHeader) % 4 != 0 || bytes.size() > grabber.GetUserMemorySize()) return false;
  return grabber.WriteUserMemory(bytes.data(), bytes.size());
}

CameraMemoryStatus ReadCameraMemoryRecord(GrabberImagingSource& grabber,
                                          CameraMemoryRecord& record) {
  std::uint8_t header[kHeader] = {0, 0, 0, 0};
  if (!grabber.ReadUserMemory(0, header, kHeader)) {
    record.modelType = 0;
    return CameraMemoryStatus::kReadFailed;
  }
  const std::uint16_t type = std::uint16_t(header[0] | header[1] << 8);
  if (type != CameraMemoryRecord::kTsai && type != CameraMemoryRecord::kOcv) {
    record.modelType = type;
    return CameraMemoryStatus::kWrongVersion;
  }
  const std::size_t length = std::size_t(header[2]) | std::size_t(header[3]) << 8;
  // Reads go in whole 4-byte words.
  std::vector<std::uint8_t> payload(
      std::min((length + 3) / 4 * 4, grabber.GetUserMemorySize() / 4 * 4 - kHeader));
  if (!payload.empty() && !grabber.ReadUserMemory(kHeader, payload.data(), payload.size())) {
    record.modelType = 0;
    return CameraMemoryStatus::kReadFailed;
  }
  payload.resize(std::min(payload.size(), length));
  return DecodeCameraMemoryRecord(header, payload.data(), payload.size(), record);
}

}  // namespace vid
