// The report byte for byte: percentile lines with the micro-metre bytes,
// planes, spheres, sphere distances; percentiles of hand-counted lists;
// colours of the ramp; a report that cannot be written leaves the old one.
#include "surf/measure/MeasureReport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "surf/measure/DeviationColors.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

std::string Lines(const std::string& text, std::size_t from) {
  std::istringstream in(text);
  std::string line, rest;
  for (std::size_t i = 0; std::getline(in, line); ++i)
    if (i >= from) rest += line + "\n";
  return rest;
}

TEST(Percentile, ValueBelowWhichTheLevelLies) {
  std::vector<float> values;
  for (int i = 100; i >= 1; --i) values.push_back(float(i));  // 1…100, unsorted
  EXPECT_EQ(Percentile(values, 50), 51.f);                    // 50 values lie below 51
  EXPECT_EQ(Percentile(values, 90), 91.f);
  EXPECT_EQ(Percentile(values, 99.99), 100.f);
  EXPECT_EQ(Percentile(values, 0), 1.f);
  EXPECT_EQ(Percentile({}, 50), 0.f);
  EXPECT_EQ(Percentile({0.3f}, 99.7), 0.3f);
}

TEST(PercentileLine, MicrometresTruncatedWithTheUnitBytes) {
  EXPECT_EQ(PercentileLine(99.7, 0.0123f), "99.7% < 12\xB5m");
  EXPECT_EQ(PercentileLine(99.99, 0.1f), "99.99% < 100\xB5m");
  EXPECT_EQ(PercentileLine(50, 0.0009f), "50% < 0\xB5m");
  EXPECT_EQ(PercentileLine(99, 1.23456f), "99% < 1234\xB5m");
  EXPECT_EQ(PercentileLine(90, -0.5f), "90% < 0\xB5m");
  EXPECT_EQ(PercentileLine(90, std::numeric_limits<float>::quiet_NaN()), "90% < 0\xB5m");
  const std::string line = PercentileLine(99.7, 0.0123f);
  EXPECT_EQ(static_cast<unsigned char>(line[line.size() - 2]), 0xB5);
  EXPECT_EQ(line.back(), 'm');
}

MeasureReportData OneOfEach() {
  MeasureReportData data;
  data.time.tm_year = 124;
  data.time.tm_mon = 2;
  data.time.tm_mday = 14;
  data.time.tm_hour = 12;
  data.time.tm_min = 34;
  data.time.tm_sec = 56;
  data.testName = "Fusion result";
  data.referenceName = "CAD";
  for (int i = 1; i <= 10000; ++i) data.magnitudes.push_back(float(i * 1e-5));  // 0.01 µm … 100 µm
  data.planes.push_back({1234, 0.0123f});
  data.spheres.push_back({30.0005, {1.5, -2, 3.25}, 555, 0.008f});
  return data;
}

TEST(MeasureReport, LayoutWithOnePlaneAndOneSphere) {
  const std::string text = FormatMeasureReport(OneOfEach());
  EXPECT_EQ(text.substr(0, 69), std::string(68, '=') + "\n");
  const std::string date = Lines(text, 1).substr(0, Lines(text, 1).find('\n'));
  EXPECT_NE(date.find("34"), std::string::npos) << date;  // "%x %X" in the system's locale
  EXPECT_EQ(Lines(text, 2),
            "Test object: Fusion result\n"
            "Reference object: CAD\n" +
                std::string(68, '-') +
                "\n"
                "99.99% < 100\xB5m\n"
                "99.9% < 99\xB5m\n"
                "99.7% < 99\xB5m\n"
                "99% < 99\xB5m\n"
                "90% < 90\xB5m\n"
                "50% < 50\xB5m\n"
                "\n"
                "Plane 1\n"
                "Count: 1234\n"
                "99.7% < 12\xB5m\n"
                "\n"
                "Sphere 1\n"
                "Diameter: 60.001mm\n"
                "Center: 1.5 -2 3.25\n"
                "Count: 555\n"
                "99.7% < 8\xB5m\n");
  EXPECT_EQ(text.find("Sphere Distances"), std::string::npos);
}

TEST(MeasureReport, SphereDistancesNamesAndNoOverlap) {
  MeasureReportData data = OneOfEach();
  data.testName.clear();
  data.planes.clear();
  data.spheres.push_back({5, {4.5, 2, 3.25}, 10, 0.f});    // 3-4-5 from sphere 1 in x, y
  data.spheres.push_back({5, {1.5, -2, 13.25}, 10, 0.f});  // 10 along z
  const std::string text = FormatMeasureReport(data);
  EXPECT_EQ(text.find("Test object"), std::string::npos);
  EXPECT_NE(text.find("Reference object: CAD\n"), std::string::npos);
  EXPECT_NE(text.find("\nSphere 3\nDiameter: 10mm\n"), std::string::npos);
  const std::string tail = text.substr(text.find("Sphere Distances"));
  EXPECT_EQ(tail, "Sphere Distances\n1-2: 5mm\n1-3: 10mm\n2-3: 11.1803mm\n");
  EXPECT_EQ(text.find(kNoOverlapLine), std::string::npos);
  data.noOverlap = true;
  EXPECT_NE(FormatMeasureReport(data).find(std::string("50% < 50\xB5m\n") + kNoOverlapLine + "\n"),
            std::string::npos);
}

TEST(MeasureReport, WrittenOverTheOldOneOrNotAtAll) {
  testing::TempFolder folder;
  const auto path = folder / "Measurements.txt";
  std::ofstream(path) << "old";
  ASSERT_TRUE(WriteMeasureReport(path, OneOfEach()));
  std::ifstream in(path, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(written, FormatMeasureReport(OneOfEach()));
  EXPECT_FALSE(WriteMeasureReport(folder / "missing" / "r.txt", OneOfEach()));
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(DeviationColor, RampStopsClampAndNaN) {
  EXPECT_EQ(DeviationColor(-0.1f, 0.1f), v3d::Color4ub(0, 0, 255));
  EXPECT_EQ(DeviationColor(-0.05f, 0.1f), v3d::Color4ub(0, 255, 255));
  EXPECT_EQ(DeviationColor(0.f, 0.1f), v3d::Color4ub(0, 255, 0));
  EXPECT_EQ(DeviationColor(0.05f, 0.1f), v3d::Color4ub(255, 255, 0));
  EXPECT_EQ(DeviationColor(0.1f, 0.1f), v3d::Color4ub(255, 0, 0));
  EXPECT_EQ(DeviationColor(7.f, 0.1f), v3d::Color4ub(255, 0, 0));
  EXPECT_EQ(DeviationColor(0.025f, 0.1f), v3d::Color4ub(128, 255, 0));
  EXPECT_EQ(DeviationColor(std::numeric_limits<float>::quiet_NaN(), 0.1f),
            v3d::Color4ub(128, 128, 128));
  // The histogram's tallest bar is the bin of the most values.
  const img::RGBImage h = DeviationHistogram(std::vector<float>(50, 0.09f), 0.1f, 64, 32, 8);
  EXPECT_EQ(h(60, 1),
            img::RGB8::FromRGB(DeviationColor(0.0875f, 0.1f).r, DeviationColor(0.0875f, 0.1f).g,
                               DeviationColor(0.0875f, 0.1f).b));
  EXPECT_EQ(h(2, 31), img::RGB8::FromRGB(255, 255, 255));
}

}  // namespace
}  // namespace surf
