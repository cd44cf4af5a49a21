#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/math/Vec.h"

namespace surf {

// The value below which level percent of the values lie: the element at
// position floor(level/100 · n) of the values sorted ascending (the last one
// for 100 %); 0 for no values. level in 0…100.
float Percentile(std::vector<float> values, double level);

// The levels of the report's percentile lines, in order.
inline constexpr double kReportLevels[] = {99.99, 99.9, 99.7, 99.0, 90.0, 50.0};

// One percentile line: the level as a number ("99.7"), "% < ", the value in
// micrometres truncated to an unsigned integer, and the unit as the two
// bytes 0xB5 0x6D (micro sign and "m" in the Windows-1252 code page), e.g.
// "99.7% < 12\xB5m" for 0.0123 mm. Values below 0 or not finite print 0.
std::string PercentileLine(double level, float valueMm);

// What the measurement report says.
struct MeasureReportData {
  std::tm time{};             // local time of the comparison
  std::string testName;       // empty: the line is left out
  std::string referenceName;  // empty: the line is left out
  // Deviation magnitudes of all points (mm).
  std::vector<float> magnitudes;
  // Set when no point found reference surface within the search distance.
  bool noOverlap = false;
  struct Plane {
    std::size_t count = 0;
    float p997 = 0.f;  // mm
  };
  struct Sphere {
    double radius = 0.0;  // mm
    math::Vec3d centre;
    std::size_t count = 0;
    float p997 = 0.f;  // mm
  };
  std::vector<Plane> planes;
  std::vector<Sphere> spheres;
};

// The report text, lines ended by "\n": 68 "=", the date and time as "%x %X"
// in the system's locale, "Test object: " and "Reference object: " with the
// names, 68 "-", the percentile lines of all points (kReportLevels); then
// per plane an empty line, "Plane i", "Count: n" and its 99.7 % line; per
// sphere an empty line, "Sphere i", "Diameter: " 2r "mm", "Center: x y z",
// "Count: n" and its 99.7 % line; with two spheres or more "Sphere
// Distances" and "i-j: " distance "mm" for every pair. Numbers other than
// the percentiles are printed with 6 significant digits. With noOverlap a
// line saying so follows the percentiles.
std::string FormatMeasureReport(const MeasureReportData& data);

// Writes the text through a temporary file (an existing report stays as it
// was when writing fails). False, with one "Error: ..." line on standard
// error, when the file cannot be written.
bool WriteMeasureReport(const std::filesystem::path& path, const MeasureReportData& data);

// The line of a report without overlap.
inline constexpr char kNoOverlapLine[] =
    "No point lies within twice the tolerance of the reference object: every deviation is the "
    "tolerance.";

}  // namespace surf
