// `tarvelin measure` as a user runs it: files of other formats in, a
// project out and measured again from it, project items, alignment first,
// and every kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "sim/Procedural.h"
#include "surf/files/MeshFormats.h"
#include "surf/measure/MeasureReport.h"
#include "surf/measure/testing/MeasureMeshes.h"
#include "surf/testing/TestMeshes.h"

#include "apps/tarvelin/testing/RunTarvelin.h"

namespace {

using surf::testing::TempFolder;

using Result = tarvelin::testing::CommandResult;
using tarvelin::testing::Quoted;
using tarvelin::testing::RunTarvelin;

nlohmann::json ReadJson(const std::filesystem::path& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in);
}

// A sphere of the radius about centre, as a file of the path's format.
void WriteSphere(const std::filesystem::path& path, double radius, const math::Vec3d& centre,
                 double resolution) {
  surf::MeshArrays mesh = surf::testing::ToArrays(sim::MakeSphere({radius}, resolution).mesh);
  for (auto& p : mesh.positions) p += math::Vec3f(centre);
  ASSERT_TRUE(surf::SaveMesh(path, surf::MakeGeoItem(mesh)));
}

class MeasureCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Reference: STL without normals; test: 0.03 mm bigger, as OBJ.
    WriteSphere(m_folder / "ref.stl", 20.0, {0, 0, 0}, 0.5);
    WriteSphere(m_folder / "test.obj", 20.03, {0, 0, 0}, 0.6);
  }
  TempFolder m_folder;
};

TEST_F(MeasureCommandTest, FilesInProjectOutAndMeasuredAgainFromIt) {
  const auto d1 = m_folder / "one";
  const Result first =
      RunTarvelin("measure " + Quoted(m_folder / "test.obj") + " " + Quoted(m_folder / "ref.stl") +
                  " --method triangle --out " + Quoted(d1) + " --project " + Quoted(d1 / "m.tarvelinproj"));
  ASSERT_EQ(first.exitCode, 0) << first.output;
  const nlohmann::json report = ReadJson(d1 / "report.json");
  EXPECT_EQ(report["method"], "triangle");
  const double median = report["deviation_mm"]["percentiles_of_magnitude"]["p50"];
  EXPECT_NEAR(median, 0.03, 0.002);
  ASSERT_EQ(report["spheres"].size(), 1u);
  EXPECT_NEAR(report["spheres"][0]["diameter_mm"].get<double>(), 40.06, 0.005);
  EXPECT_TRUE(report["planes"].empty());

  const std::string text = surf::testing::ReadFileBytes(d1 / "Measurements.txt");
  EXPECT_NE(text.find("Test object: test\nReference object: ref\n"), std::string::npos) << text;
  // 0.03 mm out, plus up to 0.002 mm of the reference's facets inside the true sphere.
  EXPECT_TRUE(text.find("50% < 30\xB5m\n") != std::string::npos ||
              text.find("50% < 31\xB5m\n") != std::string::npos)
      << text;
  EXPECT_NE(text.find("\nSphere 1\nDiameter: 40.06"), std::string::npos) << text;

  // deviations.ply: positions, normals, colours, then the deviation.
  const std::string ply = surf::testing::ReadFileBytes(d1 / "deviations.ply");
  const auto body = ply.find("end_header\n") + 11;
  EXPECT_NE(ply.find("property uint8 alpha\nproperty float32 deviation\nelement face"),
            std::string::npos);
  float deviation = 0;
  std::memcpy(&deviation, ply.data() + body + 28, 4);
  EXPECT_NEAR(deviation, 0.03f, 0.002f);
  EXPECT_TRUE(std::filesystem::file_size(d1 / "deviations.png") > 100);
  // deviations.ply is a mesh file like any other: measured again, the same.
  const Result chained = RunTarvelin("measure " + Quoted(d1 / "deviations.ply") + " " + Quoted(m_folder / "ref.stl") +
                                     " --method triangle --no-features --out " + Quoted(m_folder / "chained"));
  ASSERT_EQ(chained.exitCode, 0) << chained.output;
  EXPECT_EQ(ReadJson(m_folder / "chained" / "report.json")["deviation_mm"], report["deviation_mm"]);

  // The project keeps both objects and the measurement: measured again
  // from it alone, and by its items.
  const Result again = RunTarvelin("measure " + Quoted(d1 / "m.tarvelinproj") +
                                   " --method triangle --out " + Quoted(m_folder / "two"));
  ASSERT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(ReadJson(m_folder / "two" / "report.json")["deviation_mm"], report["deviation_mm"]);
  const Result items =
      RunTarvelin("measure " + Quoted(d1 / "m.tarvelinproj") + ":0 " + Quoted(d1 / "m.tarvelinproj") +
                  ":ref --method triangle --no-features --out " + Quoted(m_folder / "three"));
  ASSERT_EQ(items.exitCode, 0) << items.output;
  EXPECT_EQ(ReadJson(m_folder / "three" / "report.json")["deviation_mm"], report["deviation_mm"]);
  const Result missing = RunTarvelin("measure " + Quoted(d1 / "m.tarvelinproj") + ":7 " +
                                     Quoted(m_folder / "ref.stl") + " --out " + Quoted(m_folder / "four"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("has no scan 7"), std::string::npos) << missing.output;
}

TEST_F(MeasureCommandTest, AlignmentFirstRemovesAnOffset) {
  WriteSphere(m_folder / "shifted.obj", 20.03, {0.4, -0.3, 0.2}, 0.6);
  const Result plain =
      RunTarvelin("measure " + Quoted(m_folder / "shifted.obj") + " " + Quoted(m_folder / "ref.stl") +
                  " --method triangle --tolerance 1 --out " + Quoted(m_folder / "plain"));
  ASSERT_EQ(plain.exitCode, 0) << plain.output;
  EXPECT_GT(ReadJson(m_folder / "plain" /
                     "report.json")["deviation_mm"]["percentiles_of_magnitude"]["p99"]
                .get<double>(),
            0.3);
  const Result aligned =
      RunTarvelin("measure " + Quoted(m_folder / "shifted.obj") + " " + Quoted(m_folder / "ref.stl") +
                  " --method triangle --tolerance 1 --align icp --out " + Quoted(m_folder / "aligned"));
  ASSERT_EQ(aligned.exitCode, 0) << aligned.output;
  const nlohmann::json report = ReadJson(m_folder / "aligned" / "report.json");
  EXPECT_NEAR(report["deviation_mm"]["percentiles_of_magnitude"]["p99"].get<double>(), 0.03, 0.01);
  EXPECT_TRUE(report.contains("alignment"));
}

TEST_F(MeasureCommandTest, BadInputSaysWhyAndWritesNothing) {
  const std::string pair = Quoted(m_folder / "test.obj") + " " + Quoted(m_folder / "ref.stl");
  for (const char* tolerance : {"0", "-1", "nan"}) {
    const Result r = RunTarvelin("measure " + pair + " --tolerance " + tolerance + " --out " +
                                 Quoted(m_folder / "x"));
    EXPECT_EQ(r.exitCode, 2) << tolerance << r.output;
  }
  EXPECT_EQ(
      RunTarvelin("measure " + pair + " --method nearest --out " + Quoted(m_folder / "x")).exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(m_folder / "x"));

  const Result absent = RunTarvelin("measure " + Quoted(m_folder / "none.stl") + " " +
                                    Quoted(m_folder / "ref.stl") + " --out " + Quoted(m_folder / "x"));
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_NE(absent.output.find("could not read"), std::string::npos) << absent.output;

  std::ofstream(m_folder / "empty.obj") << "# nothing\n";
  const Result empty = RunTarvelin("measure " + Quoted(m_folder / "empty.obj") + " " +
                                   Quoted(m_folder / "ref.stl") + " --out " + Quoted(m_folder / "x"));
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_TRUE(empty.output.find("no vertices") != std::string::npos ||
              empty.output.find("could not read") != std::string::npos)
      << empty.output;

  const Result report =
      RunTarvelin("measure " + pair + " --report " + Quoted(m_folder / "nowhere" / "r.txt") + " --out " +
                  Quoted(m_folder / "y"));
  EXPECT_EQ(report.exitCode, 1);
  EXPECT_NE(report.output.find("its folder does not exist"), std::string::npos) << report.output;
  EXPECT_FALSE(std::filesystem::exists(m_folder / "y" / "deviations.ply"));

  const Result noMeasurement =
      RunTarvelin("measure " + Quoted(m_folder / "ref.stl") + " --out " + Quoted(m_folder / "y"));
  EXPECT_EQ(noMeasurement.exitCode, 2) << noMeasurement.output;
}

TEST_F(MeasureCommandTest, NoOverlapGivesTheToleranceAndSaysSo) {
  WriteSphere(m_folder / "far.obj", 20.0, {100, 0, 0}, 0.6);
  const Result r = RunTarvelin("measure " + Quoted(m_folder / "far.obj") + " " +
                               Quoted(m_folder / "ref.stl") + " --out " + Quoted(m_folder / "far"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Warning: no vertex of the test object"), std::string::npos);
  const nlohmann::json report = ReadJson(m_folder / "far" / "report.json");
  EXPECT_TRUE(report["no_overlap"].get<bool>());
  EXPECT_NEAR(report["deviation_mm"]["percentiles_of_magnitude"]["p50"].get<double>(), 0.1, 1e-6);
  const std::string text = surf::testing::ReadFileBytes(m_folder / "far" / "Measurements.txt");
  EXPECT_NE(text.find(std::string("50% < 100\xB5m\n") + surf::kNoOverlapLine), std::string::npos)
      << text;
}

}  // namespace
