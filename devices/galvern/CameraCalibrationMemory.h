#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scan/StructuredLightScanner.h"

namespace galvern {

// The calibration a scanner head keeps in its camera's user memory (see
// vid::CameraMemoryRecord): the camera's model (Tsai or OCV) with the
// caller's 64-bit value and text. className prefixes the messages of the
// exceptions ("<className>::WriteCalibrationToCamera - Invalid camera
// index." and the like).

// Throws std::invalid_argument for an index out of range, std::logic_error
// when the camera has no model, its capture is not a
// vid::GrabberImagingSource, or the model is neither Tsai nor OCV. False
// when the record does not fit the user memory (65535 bytes with its
// 4-byte header) or the channel fails.
bool WriteCalibrationToCamera(scan::StructuredLightScanner& scanner, const char* className,
                              std::size_t cameraIndex, std::uint64_t value,
                              const std::string& text);

// Reads the record and sets the camera's model from it. Throws as above for
// the index and the capture. False, with one line on standard error, for a
// record of another version ("Error in ReadCalibrationFromCamera - Wrong
// version in camera file. Expected: 1, read: N"; a failed read reads as 0),
// without data, or whose model cannot be built; the camera's model is then
// left as it was.
bool ReadCalibrationFromCamera(scan::StructuredLightScanner& scanner, const char* className,
                               std::size_t cameraIndex, std::uint64_t& value, std::string& text);

}  // namespace galvern
