#include "surf/measure/MeasureReport.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <locale>
#include <sstream>

#include "surf/files/SafeWrite.h"

namespace surf {
namespace {

// The system's locale for dates; the classic one when the environment
// names a locale that is not installed.
std::locale SystemLocale() {
  try {
    return std::locale("");
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}

}  // namespace

float Percentile(std::vector<float> values, double level) {
  if (values.empty()) return 0.f;
  // Relatively 1e-12 up, so that 99.99 % of 10000 values is 9999 values
  // although 99.99 has no exact binary form.
  const double position =
      std::floor(std::clamp(level, 0.0, 100.0) * double(values.size()) / 100.0 * (1 + 1e-12));
  const std::size_t k = std::min(values.size() - 1, std::size_t(position));
  std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
  return values[k];
}

std::string PercentileLine(double level, float valueMm) {
  const double micrometres = double(valueMm) * 1000.0;
  const unsigned long value =
      std::isfinite(micrometres) && micrometres > 0 ? static_cast<unsigned long>(micrometres) : 0ul;
  std::ostringstream line;
  line.imbue(std::locale::classic());
  line << level << "% < " << value << "\xB5m";
  return line.str();
}

std::string FormatMeasureReport(const MeasureReportData& data) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << std::string(68, '=') << "\n";
  {
    std::ostringstream date;
    date.imbue(SystemLocale());
    date << std::put_time(&data.time, "%x %X");
    out << date.str() << "\n";
  }
  if (!data.testName.empty()) out << "Test object: " << data.testName << "\n";
  if (!data.referenceName.empty()) out << "Reference object: " << data.referenceName << "\n";
  out << std::string(68, '-') << "\n";
  for (const double level : kReportLevels)
    out << PercentileLine(level, Percentile(data.magnitudes, level)) << "\n";
  if (data.noOverlap) out << kNoOverlapLine << "\n";
  for (std::size_t i = 0; i < data.planes.size(); ++i) {
    const auto& plane = data.planes[i];
    out << "\nPlane " << i + 1 << "\nCount: " << plane.count << "\n"
        << PercentileLine(99.7, plane.p997) << "\n";
  }
  for (std::size_t i = 0; i < data.spheres.size(); ++i) {
    const auto& sphere = data.spheres[i];
    out << "\nSphere " << i + 1 << "\nDiameter: " << 2 * sphere.radius
        << "mm\nCenter: " << sphere.centre[0] << " " << sphere.centre[1] << " " << sphere.centre[2]
        << "\nCount: " << sphere.count << "\n"
        << PercentileLine(99.7, sphere.p997) << "\n";
  }
  if (data.spheres.size() >= 2) {
    out << "Sphere Distances\n";
    for (std::size_t i = 0; i < data.spheres.size(); ++i)
      for (std::size_t j = i + 1; j < data.spheres.size(); ++j)
        out << i + 1 << "-" << j + 1 << ": "
            << (data.spheres[i].centre - data.spheres[j].centre).Length() << "mm\n";
  }
  return out.str();
}

bool WriteMeasureReport(const std::filesystem::path& path, const MeasureReportData& data) {
  const std::string text = FormatMeasureReport(data);
  const bool written = WriteStreamSafely(path, [&](std::ostream& out) {
    out.write(text.data(), std::streamsize(text.size()));
    return out.good();
  });
  if (!written)
    std::cerr << "Error: Measure::Compare - Could not write the report " << path.string() << "\n";
  return written;
}

}  // namespace surf
