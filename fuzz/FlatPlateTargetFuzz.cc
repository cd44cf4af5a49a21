// Feeds arbitrary text to the flat-target reader: it must either throw its
// TargetFileError or give a target whose written text reads back to the
// same text; the marker-cell and grid-description queries on what it read
// must not crash either.

#include <cstdint>
#include <string>
#include <string_view>

#include "CamCalib/TargetGrid.h"
#include "cam/FlatPlateCalibrationTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cam::FlatPlateCalibrationTarget target;
  try {
    target = cam::FlatPlateCalibrationTarget::Parse(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.xml");
  } catch (const cam::TargetFileError&) {
    return 0;
  }
  img::GridMarkerCell cell;
  target.GetMarkerCell(cell);
  CamCalib::CalibGrid grid;
  std::string error;
  CamCalib::MakeCalibGrid(target, grid, error);
  const std::string first = target.ToXml();
  try {
    if (cam::FlatPlateCalibrationTarget::Parse(first, "again.xml").ToXml() != first)
      __builtin_trap();
  } catch (const cam::TargetFileError&) {
    __builtin_trap();
  }
  return 0;
}
