// The measurement module on a scene of two planes 0.04 mm apart and a
// sphere: object choice and change counters, comparison colours and their
// discarding, reference markers, distances A–B, and the "measure" tree
// through a project file, broken trees included.
#include "surf/measure/Measure.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim/Procedural.h"
#include "surf/fusion/ShapeFusion.h"
#include "surf/measure/DeviationColors.h"
#include "surf/measure/testing/MeasureMeshes.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using math::Vec3d;
using math::Vec3f;

// Captures standard error (or output) while it lives.
class Capture {
 public:
  explicit Capture(std::ostream& stream) : m_stream(stream), m_old(stream.rdbuf(m_text.rdbuf())) {}
  ~Capture() { m_stream.rdbuf(m_old); }
  std::string Text() const { return m_text.str(); }

 private:
  std::ostream& m_stream;
  std::ostringstream m_text;
  std::streambuf* m_old;
};

// A scan list with a reference plane (scan 0), a test plane 0.04 mm above
// it (scan 1) and a sphere of radius 8 (scan 2).
class MeasureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_list.AddGeo(GeoItem{testing::MakeGeo(testing::MakePlaneGrid(100, 0.1, 0.0)), {}});
    m_list.AddGeo(GeoItem{testing::MakeGeo(testing::MakePlaneGrid(40, 0.2, 0.04)), {}});
    m_list.AddGeo(
        GeoItem{testing::MakeGeo(testing::ToArrays(sim::MakeSphere({8.0}, 0.4).mesh)), {}});
    m_list.GetGeo(0)->SetName("reference plane");
    m_list.GetGeo(1)->SetName("test plane");
    m_reference = m_list.GeoIndex2NodeID(0);
    m_test = m_list.GeoIndex2NodeID(1);
    m_sphere = m_list.GeoIndex2NodeID(2);
  }

  ShapeFusion m_list;
  std::int32_t m_reference = -1, m_test = -1, m_sphere = -1;
};

TEST_F(MeasureTest, ObjectChoiceCountsChangesOnlyWhenTheyChange) {
  Measure measure(m_list.GetScene());
  EXPECT_FALSE(measure.Compare());  // no objects: nothing happens
  const auto counter = measure.GetChangeCounter();
  measure.SetReferenceObject(-7);  // below −1 is −1: no change
  measure.SetTestObject(-1);
  EXPECT_EQ(measure.GetChangeCounter(), counter);
  measure.SetReferenceObject(m_reference);
  EXPECT_EQ(measure.GetViewNodeIDs(), std::vector<std::int32_t>{m_reference});
  EXPECT_EQ(measure.GetReferenceObject(), m_list.GetGeo(0));
  measure.SetTestObject(m_test);
  const auto set = measure.GetChangeCounter();
  EXPECT_GT(set, counter);
  measure.SetReferenceObject(m_reference);
  measure.SetTestObject(m_test);
  EXPECT_EQ(measure.GetChangeCounter(), set);
  measure.SetReferenceObject(-3);
  EXPECT_EQ(measure.GetReferenceObjectNodeID(), -1);
  EXPECT_TRUE(measure.GetViewNodeIDs().empty());
  EXPECT_FALSE(measure.Compare());
  EXPECT_THROW(measure.SyncComparisonTolerance(0.f), std::invalid_argument);
  EXPECT_THROW(measure.SyncComparisonTolerance(-0.1f), std::invalid_argument);
}

TEST_F(MeasureTest, CompareColoursReportsAndIsDiscardedWhenTheTestMoves) {
  testing::TempFolder folder;
  Measure measure(m_list.GetScene());
  measure.SetReferenceObject(m_reference);
  measure.SetTestObject(m_test);
  measure.SetReportPath(folder / "Measurements.txt");
  v3d::Mesh& mesh = *m_list.GetGeo(1)->GetMesh(0);
  const std::vector<v3d::Color4ub> own(mesh.GetNumVertices(), v3d::Color4ub(1, 2, 3));
  mesh.mGetVertexColors() = own;
  ASSERT_TRUE(measure.Compare());
  ASSERT_NE(measure.GetComparison(), nullptr);
  // 0.04 mm above the reference: the ramp's colour of 0.04 everywhere.
  for (const auto& colour : mesh.GetVertexColors()) ASSERT_EQ(colour, DeviationColor(0.04f, 0.1f));
  std::ifstream in(folder / "Measurements.txt", std::ios::binary);
  const std::string report((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(report.find("Test object: test plane\nReference object: reference plane\n"),
            std::string::npos);
  // 0.04 mm is 0.0399999991 as a float: 39.99… µm, truncated.
  EXPECT_NE(report.find("99.99% < 39\xB5m\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\nPlane 1\nCount: 1681\n99.7% < 39\xB5m\n"), std::string::npos) << report;
  ASSERT_EQ(measure.GetFeatureMarkers().size(), 1u);
  EXPECT_EQ(measure.GetFeatureMarkers()[0]->GetParent(), m_list.GetGeo(1));
  EXPECT_EQ(measure.GetFeatureMarkers()[0]->GetLabelText(), "   Plane 1");

  // Unchanged objects keep the comparison; a moved test object loses it.
  measure.CheckComparisonValid();
  EXPECT_NE(measure.GetComparison(), nullptr);
  math::Frame4d moved;
  moved.SetTrans(Vec3d(0, 0, 0.01));
  m_list.GetGeo(1)->SetFrame(moved);
  measure.CheckComparisonValid();
  EXPECT_EQ(measure.GetComparison(), nullptr);
  EXPECT_EQ(mesh.GetVertexColors(), own);
  EXPECT_TRUE(measure.GetFeatureMarkers().empty());

  // A comparison shown on a mesh without colours: choosing another test
  // object takes them off again.
  mesh.RemoveVertexColors();
  ASSERT_TRUE(measure.Compare());
  EXPECT_TRUE(mesh.HasVertexColors());
  measure.SetTestObject(m_sphere);
  EXPECT_FALSE(mesh.HasVertexColors());
  EXPECT_EQ(measure.GetComparison(), nullptr);

  // A report path that cannot be written: false, the comparison is shown.
  measure.SetReportPath(folder / "no folder" / "report.txt");
  Capture error(std::cerr);
  EXPECT_FALSE(measure.Compare());
  EXPECT_NE(measure.GetComparison(), nullptr);
  EXPECT_NE(error.Text().find("Could not write the report"), std::string::npos);
}

TEST_F(MeasureTest, SphereTestObjectGivesItsSphereMarker) {
  Measure measure(m_list.GetScene());
  math::Frame4d frame;
  frame.SetTrans(Vec3d(1, 2, 30));
  m_list.GetGeo(2)->SetFrame(frame);
  measure.SetTestObject(m_sphere);
  measure.SetReferenceObject(m_reference);
  ASSERT_TRUE(measure.Compare());
  const MeasureReportData report = measure.GetReportData();
  ASSERT_EQ(report.spheres.size(), 1u);
  EXPECT_NEAR(report.spheres[0].radius, 8.0, 0.01);
  EXPECT_NEAR((report.spheres[0].centre - Vec3d(1, 2, 30)).Length(), 0, 0.01);
  ASSERT_EQ(measure.GetFeatureMarkers().size(), 1u);
  // The marker sits at the centre, in the sphere's own coordinates.
  EXPECT_NEAR(measure.GetFeatureMarkers()[0]->GetPosition().Length(), 0, 0.01);
  // The sphere lies far from the plane grid: every vertex gets t.
  EXPECT_TRUE(measure.GetComparison()->NoOverlap());
}

TEST_F(MeasureTest, ReferenceMarkersShowTheDistanceToTheOtherObject) {
  Measure measure(m_list.GetScene());
  measure.SetReferenceObject(m_reference);
  measure.SetTestObject(m_test);
  ReferenceMarker* onTest = measure.AddReferenceMarker(Vec3f(0.5f, 0.3f, 0.04f), m_test);
  ReferenceMarker* onReference = measure.AddReferenceMarker(Vec3f(0.1f, 0.2f, 0.f), m_reference);
  ASSERT_TRUE(onTest && onReference);
  EXPECT_NEAR(onTest->GetDistance(), 0.04f, 1e-6);
  EXPECT_NEAR(onReference->GetDistance(), -0.04f, 1e-6);  // behind the test plane
  EXPECT_TRUE(onTest->IsDistanceValid());
  EXPECT_EQ(onTest->GetLabelText(), "   +0.040 mm");
  EXPECT_EQ(onTest->GetLabelColor(), DeviationColor(0.04f, 0.1f));
  measure.SyncComparisonTolerance(0.03f);
  EXPECT_FALSE(onTest->IsDistanceValid());
  EXPECT_EQ(onTest->GetTolerance(), 0.03f);
  // A marker below a node that is no geo, and a listener without a scene.
  {
    Capture error(std::cerr);
    EXPECT_EQ(measure.AddReferenceMarker(Vec3f(0, 0, 0), 999), nullptr);
    ReferenceMarkerListener lonely(nullptr);
    EXPECT_EQ(lonely.NewDataTip(Vec3f(0, 0, 0), m_test), nullptr);
    EXPECT_EQ(error.Text(),
              "Error in DataTipListener::NewDataTip: Could not find parent node with ID 999\n"
              "Error in DataTipListener::NewDataTip: Invalid scene pointer.\n");
  }
  EXPECT_EQ(measure.GetNumReferenceMarkers(), 2u);
  onTest->SetSelected(true);
  measure.DeleteSelectedReferenceMarkers();
  ASSERT_EQ(measure.GetNumReferenceMarkers(), 1u);
  EXPECT_EQ(measure.GetReferenceMarker(0), onReference);
  EXPECT_EQ(measure.GetReferenceMarker(1), nullptr);
  // A new reference object deletes every marker.
  measure.SetReferenceObject(m_sphere);
  EXPECT_EQ(measure.GetNumReferenceMarkers(), 0u);
  EXPECT_EQ(measure.GetReferenceMarkerListener().GetNumDataTips(), 0u);
}

TEST_F(MeasureTest, DistancesBetweenPickedPointsFollowTheirGeos) {
  Measure measure(m_list.GetScene());
  math::Frame4d shifted;
  shifted.SetTrans(Vec3d(3, 0, 0));
  m_list.GetGeo(2)->SetFrame(shifted);
  EXPECT_EQ(measure.AddDistanceAB(Vec3f(0, 4, 0), m_reference, Vec3f(0, 0, 0), m_sphere), 0);
  EXPECT_NEAR(*measure.GetDistanceABLength(0), 5.0, 1e-9);
  {
    Capture error(std::cerr);
    EXPECT_EQ(measure.AddDistanceAB(Vec3f(0, 0, 0), m_reference, Vec3f(0, 0, 0), 555), -1);
    EXPECT_EQ(error.Text(),
              "Error in LinkListener::NewLink: Could not create one of the data tips.\n");
  }
  EXPECT_FALSE(measure.GetDistanceABLength(1));
  measure.DeleteDistancesAB();
  EXPECT_TRUE(measure.GetDistancesAB().empty());
}

TEST_F(MeasureTest, ProjectKeepsTheMeasurement) {
  testing::TempFolder folder;
  {
    Measure measure(m_list.GetScene());
    measure.SetReferenceObject(m_reference);
    measure.SetTestObject(m_test);
    measure.SyncComparisonTolerance(0.25f);
    measure.AddReferenceMarker(Vec3f(0.5f, 0.3f, 0.04f), m_test);
    measure.AddDistanceAB(Vec3f(0, 4, 0), m_reference, Vec3f(0, 0, 0), m_sphere);
    ProjectSaveOptions options;
    options.modules = {&measure};
    ASSERT_TRUE(m_list.SaveProject(folder / "p.tarvelinproj", options));
  }
  ShapeFusion loaded;
  Measure measure(loaded.GetScene());
  ASSERT_TRUE(loaded.LoadProject(folder / "p.tarvelinproj", {&measure}));
  ASSERT_EQ(loaded.GetNumGeos(), 3);
  EXPECT_EQ(measure.GetTestObject(), loaded.GetGeo(1));
  EXPECT_EQ(measure.GetReferenceObject(), loaded.GetGeo(0));
  EXPECT_EQ(measure.GetComparisonTolerance(), 0.25f);
  ASSERT_EQ(measure.GetNumReferenceMarkers(), 1u);
  const ReferenceMarker& marker = *measure.GetReferenceMarker(0);
  EXPECT_EQ(marker.GetParent(), loaded.GetGeo(1));
  EXPECT_EQ(marker.GetPosition(), Vec3f(0.5f, 0.3f, 0.04f));
  EXPECT_NEAR(marker.GetDistance(), 0.04f, 1e-6);
  EXPECT_TRUE(marker.IsDistanceValid());
  EXPECT_EQ(marker.GetTolerance(), 0.25f);
  ASSERT_EQ(measure.GetDistancesAB().size(), 1u);
  EXPECT_EQ(measure.GetDistancesAB()[0].parentB, loaded.GeoIndex2NodeID(2));

  // The tree's layout: the children in order, guids of the objects.
  const utils::ChunkNode::Ptr tree = measure.GetProjectItem(0);
  std::vector<std::string> names;
  for (const auto& child : tree->GetChildren()) names.push_back(child->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"testObject", "referenceObject", "comparisonTolerance",
                                             "referenceMarkers", "distancesAB"}));
  utils::Guid guid;
  tree->Child("testObject")->GetData(guid.Data(), 16);
  EXPECT_EQ(guid, loaded.GetGeo(1)->GetGuid());
}

TEST_F(MeasureTest, BrokenTreesChangeNothing) {
  Measure measure(m_list.GetScene());
  measure.SetTestObject(m_test);
  measure.SyncComparisonTolerance(0.2f);
  const utils::ChunkNode::Ptr good = measure.GetProjectItem(0);
  // A tree that needs a newer reader: the warning, nothing changes.
  {
    const auto newer = measure.GetProjectItem(0);
    newer->requiredVersion = 2;
    newer->Child("comparisonTolerance")->SetValue(0.7f);
    Capture out(std::cout);
    measure.LoadProjectItem(*newer);
    EXPECT_EQ(out.Text(),
              "WARNING: Object could not be added to measure module due to wrong version.\n");
    EXPECT_EQ(measure.GetComparisonTolerance(), 0.2f);
  }
  // A payload of the wrong size, a missing chunk: the chunk exception, nothing changes.
  const auto broken = measure.GetProjectItem(0);
  broken->Child("comparisonTolerance")->SetData("abc", 3);
  EXPECT_THROW(measure.LoadProjectItem(*broken), utils::InvalidChunkSizeException);
  const auto missing = utils::ChunkNode::NewNode("measure");
  missing->version = missing->requiredVersion = 1;
  EXPECT_THROW(measure.LoadProjectItem(*missing), utils::ChunkNotFoundException);
  EXPECT_EQ(measure.GetTestObjectNodeID(), m_test);
  EXPECT_EQ(measure.GetComparisonTolerance(), 0.2f);

  // In a project: the scans load, the measurement is left out with a message.
  testing::TempFolder folder;
  ProjectSaveOptions options;
  struct Broken : ProjectItemModule {
    utils::ChunkNode::Ptr tree;
    std::string GetProjectItemType() const override { return "Measure"; }
    std::size_t GetNumProjectItems() const override { return 1; }
    utils::ChunkNode::Ptr GetProjectItem(std::size_t) const override { return tree; }
    bool TakesProjectItem(const std::string&) const override { return false; }
    void LoadProjectItem(const utils::ChunkNode&) override {}
  } writer;
  writer.tree = broken;
  options.modules = {&writer};
  ASSERT_TRUE(m_list.SaveProject(folder / "broken.tarvelinproj", options));
  ShapeFusion loaded;
  Measure other(loaded.GetScene());
  Capture error(std::cerr);
  ASSERT_TRUE(loaded.LoadProject(folder / "broken.tarvelinproj", {&other}));
  EXPECT_EQ(loaded.GetNumGeos(), 3);
  EXPECT_EQ(other.GetTestObjectNodeID(), -1);
  EXPECT_NE(error.Text().find("the \"measure\" item of"), std::string::npos) << error.Text();
  // Other readers ignore the tree: the scan list's own loader.
  ScanListData data;
  std::vector<utils::ChunkNode::Ptr> others;
  ASSERT_TRUE(LoadProject(folder / "broken.tarvelinproj", data, &others));
  ASSERT_EQ(others.size(), 1u);
  EXPECT_EQ(others[0]->GetName(), "measure");
  EXPECT_EQ(data.scans.size(), 3u);
}

TEST(MeasureTree, TruncatedAndCorruptBytesReadOrFailCleanly) {
  MeasureTreeData data;
  utils::Guid guid;
  for (int i = 0; i < 16; ++i) guid.Data()[i] = std::uint8_t(i);
  data.testObject = guid;
  data.markers.push_back({guid, Vec3f(1, 2, 3), 0.05f, true, 0.1f});
  data.markers.push_back({std::nullopt, Vec3f(4, 5, 6), 0.2f, false, 0.1f});
  data.links.push_back({guid, std::nullopt, Vec3f(0, 0, 0), Vec3f(1, 0, 0)});
  std::ostringstream out;
  WriteMeasureTree(data)->Save(out);
  const std::string bytes = out.str();
  // The whole tree reads back as written.
  {
    std::istringstream in(bytes);
    const auto read = ReadMeasureTree(*utils::ChunkNode::Load(in));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->testObject, guid);
    EXPECT_FALSE(read->referenceObject);
    ASSERT_EQ(read->markers.size(), 2u);
    EXPECT_EQ(read->markers[1].position, Vec3f(4, 5, 6));
    EXPECT_FALSE(read->markers[1].parent);
    ASSERT_EQ(read->links.size(), 1u);
    EXPECT_FALSE(read->links[0].parentB);
  }
  const auto attempt = [](const std::string& input) {
    std::istringstream in(input);
    try {
      const auto root = utils::ChunkNode::Load(in);
      if (root) (void)ReadMeasureTree(*root);
    } catch (const utils::Exception&) {
    }
  };
  for (std::size_t n = 0; n < bytes.size(); ++n) attempt(bytes.substr(0, n));
  Capture quiet(std::cout);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::string corrupt = bytes;
    corrupt[i] = char(corrupt[i] ^ 0x5A);
    attempt(corrupt);
  }
}

}  // namespace
}  // namespace surf
