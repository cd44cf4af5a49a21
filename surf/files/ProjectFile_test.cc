#include "surf/files/ProjectFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "surf/files/MeshFile.h"
#include "surf/files/MeshFormats.h"
#include "surf/files/StlFile.h"
#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

using utils::ChunkNode;

ScanListData MakeData(bool withFusion, bool withUnfiltered) {
  ScanListData data;
  for (std::uint32_t i = 0; i < 3; ++i) {
    data.scans.push_back(MakeGeoItem(testing::MakeGrid(2 + i, 2, i != 1)));
    data.scans.back().geo->SetName("scan " + std::to_string(i));
    data.geoColorMap[data.scans.back().geo->GetGuid()] = static_cast<std::int32_t>(7 * i);
  }
  if (withFusion) {
    data.fusionResult = MakeGeoItem(testing::MakeGrid(6, 6, false));
    data.fusionResult->geo->SetName("fused");
  }
  if (withUnfiltered) data.unfilteredFusionTriangles = {3, 1, 4, 1, 5, 9};
  return data;
}

std::string Serialise(const ChunkNode::Ptr& root) {
  std::ostringstream out;
  root->Save(out);
  return out.str();
}

void ExpectSameData(const ScanListData& a, const ScanListData& b) {
  ASSERT_EQ(a.scans.size(), b.scans.size());
  for (std::size_t i = 0; i < a.scans.size(); ++i) {
    EXPECT_EQ(Serialise(WriteMeshTree(a.scans[i], GeoSource::kScanList)),
              Serialise(WriteMeshTree(b.scans[i], GeoSource::kScanList)));
  }
  ASSERT_EQ(a.fusionResult.has_value(), b.fusionResult.has_value());
  if (a.fusionResult) {
    EXPECT_EQ(a.fusionResult->geo->GetGuid(), b.fusionResult->geo->GetGuid());
  }
  EXPECT_EQ(a.unfilteredFusionTriangles, b.unfilteredFusionTriangles);
  EXPECT_EQ(a.geoColorMap, b.geoColorMap);
}

std::string LoadError(const std::filesystem::path& path, ScanListData& data) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadProject(path, data));
  return ::testing::internal::GetCapturedStderr();
}

TEST(ProjectItems, CountAndOrderFollowTheScanList) {
  const ScanListData full = MakeData(true, true);
  ASSERT_EQ(GetNumProjectItems(full), 6u);
  EXPECT_EQ(GetProjectItem(full, 2)->Child("source")->GetString(), "ScanList");
  EXPECT_EQ(GetProjectItem(full, 3)->Child("source")->GetString(), "FusionResult");
  EXPECT_EQ(GetProjectItem(full, 4)->GetName(), "UnfilteredFusionTriangleList");
  EXPECT_EQ(GetProjectItem(full, 4)->Child("data")->GetArray<std::uint32_t>(), full.unfilteredFusionTriangles);
  const ChunkNode::Ptr map = GetProjectItem(full, 5);
  EXPECT_EQ(map->GetName(), "geoColorMap");
  EXPECT_EQ(map->FindChildren("entry").size(), 3u);
  EXPECT_EQ(map->Child("entry")->Child("colorIndex")->GetDataSize(), 4u);
  EXPECT_THROW(GetProjectItem(full, 6), std::out_of_range);

  const ScanListData bare = MakeData(false, false);
  EXPECT_EQ(GetNumProjectItems(bare), 4u);
  EXPECT_EQ(GetProjectItem(bare, 3)->GetName(), "geoColorMap");
  EXPECT_EQ(GetNumProjectItems(ScanListData{}), 1u);
}

TEST(ProjectItems, LoaderDispatchesOnTheRootName) {
  const ScanListData source = MakeData(true, true);
  ScanListData data;
  data.unfilteredFusionTriangles = {8, 8};
  data.geoColorMap[utils::Guid::NewGuid()] = 1;
  for (std::size_t i = 0; i < GetNumProjectItems(source); ++i) LoadProjectItem(data, *GetProjectItem(source, i));
  LoadProjectItem(data, *ChunkNode::NewNode("measurementState"));  // ignored
  ExpectSameData(data, source);
}

TEST(Project, RoundTripsInOneFileAndWithExternalMeshFiles) {
  testing::TempFolder folder;
  const ScanListData data = MakeData(true, true);
  ASSERT_TRUE(SaveProject(folder / "p.tarvelinproj", data));
  EXPECT_EQ(folder.FileNames(), std::vector<std::string>{"p.tarvelinproj"});
  ScanListData loaded;
  ASSERT_TRUE(LoadProject(folder / "p.tarvelinproj", loaded));
  ExpectSameData(loaded, data);

  ProjectSaveOptions options;
  options.externalMeshes = true;
  std::filesystem::create_directory(folder / "sub");
  ASSERT_TRUE(SaveProject(folder / "sub/q.zentoproj", data, options));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "sub"), {}), 5);
  ScanListData external;
  ASSERT_TRUE(LoadProject(folder / "sub/q.zentoproj", external));
  ExpectSameData(external, data);

  // Every tree carries "type" and "source"; the last is "end".
  std::ifstream in(folder / "p.tarvelinproj", std::ios::binary);
  std::vector<std::string> names;
  while (auto tree = ChunkNode::Load(in)) {
    names.push_back(tree->GetName());
    if (names.back() == "end") break;
    EXPECT_EQ(tree->Child("type")->GetString(), kProjectItemType);
    EXPECT_FALSE(tree->Child("source")->GetString().empty());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"zentomesh", "zentomesh", "zentomesh", "zentomesh",
                                             "UnfilteredFusionTriangleList", "geoColorMap", "end"}));
}

TEST(Project, BrokenContainersFailWithTheirMessagesAndChangeNothing) {
  testing::TempFolder folder;
  const ScanListData saved = MakeData(true, false);
  ASSERT_TRUE(SaveProject(folder / "p.tarvelinproj", saved));
  const std::string bytes = testing::ReadFileBytes(folder / "p.tarvelinproj");
  const std::string endTree = Serialise(ChunkNode::NewNode("end"));

  ScanListData data = MakeData(false, true);
  const ScanListData before = data;

  // The stream ends before a tree named "end".
  testing::WriteFileBytes(folder / "short.tarvelinproj", bytes.substr(0, bytes.size() - endTree.size()));
  EXPECT_EQ(LoadError(folder / "short.tarvelinproj", data), "ERROR: Could not get next file in project container.\n");
  testing::WriteFileBytes(folder / "cut.tarvelinproj", bytes.substr(0, bytes.size() / 3));
  EXPECT_EQ(LoadError(folder / "cut.tarvelinproj", data), "ERROR: Could not get next file in project container.\n");

  // A tree without "type".
  ChunkNode::Ptr item = GetProjectItem(saved, 0);
  item->NewChild("source")->SetString("ScanList");
  testing::WriteFileBytes(folder / "notype.tarvelinproj", Serialise(item) + endTree);
  EXPECT_EQ(LoadError(folder / "notype.tarvelinproj", data), "ERROR: Loading of project failed.\n");

  // A mesh that needs a newer reader.
  item = GetProjectItem(saved, 0);
  item->NewChild("type")->SetString("ShapeFusion");
  item->Child("geo")->requiredVersion = 3;
  testing::WriteFileBytes(folder / "newer.tarvelinproj", Serialise(item) + endTree);
  EXPECT_EQ(LoadError(folder / "newer.tarvelinproj", data),
            "ERROR: File version is not supported. Please update software.\n");

  // An external file that is missing.
  auto reference = ChunkNode::NewNode("externalItem");
  reference->NewChild("type")->SetString("ShapeFusion");
  reference->NewChild("source")->SetString("ScanList");
  reference->NewChild("externalFile")->NewChild("filename")->SetString("gone.tarvelinmesh");
  item = GetProjectItem(saved, 0);
  item->NewChild("type")->SetString("ShapeFusion");
  testing::WriteFileBytes(folder / "external.tarvelinproj", Serialise(item) + Serialise(reference) + endTree);
  EXPECT_EQ(LoadError(folder / "external.tarvelinproj", data), "ERROR: Could not load file gone.tarvelinmesh\n");

  EXPECT_NE(LoadError(folder / "none.tarvelinproj", data).find("ERROR: Could not open project file"),
            std::string::npos);
  ExpectSameData(data, before);
}

TEST(SaveGeoZentomesh, WritesAScanOrTheFusionResultAndRejectsOtherIndices) {
  testing::TempFolder folder;
  const ScanListData data = MakeData(true, false);
  ASSERT_TRUE(SaveGeoZentomesh(data, folder / "s.zentomesh", 1));
  ASSERT_TRUE(SaveGeoZentomesh(data, folder / "f.zentomesh", -1));
  GeoItem item;
  GeoSource source = GeoSource::kNone;
  ASSERT_TRUE(LoadMeshFile(folder / "f.zentomesh", item, &source));
  EXPECT_EQ(source, GeoSource::kFusionResult);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(SaveGeoZentomesh(data, folder / "x.zentomesh", 3));
  EXPECT_FALSE(SaveGeoZentomesh(data, folder / "x.zentomesh", -2));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: Invalid geoIndex << 3\nERROR: Invalid geoIndex << -2\n");
}

TEST(AddGeoFromFile, DispatchesOnTheExtensionAndLeavesTheListUnchangedOnFailure) {
  testing::TempFolder folder;
  ScanListData data = MakeData(false, false);
  const MeshArrays grid = testing::MakeGrid(2, 2, false);
  ASSERT_TRUE(SaveStl(folder / "a.STL", grid));
  ASSERT_TRUE(SaveObj(folder / "b.mesh", grid));  // any other extension is OBJ
  ASSERT_TRUE(SaveGeoZentomesh(data, folder / "c.TarvelinMesh", 0));
  ImportOptions quiet{{}, nullptr};
  EXPECT_EQ(AddGeoFromFile(data, "", quiet), -1);
  EXPECT_EQ(AddGeoFromFile(data, folder / "a.STL", quiet), 3);
  EXPECT_EQ(data.scans[3].geo->GetMesh(0)->GetNumVertices(), grid.positions.size());
  EXPECT_EQ(data.scans[3].geo->GetName(), "a");
  EXPECT_EQ(AddGeoFromFile(data, folder / "b.mesh", quiet), 4);
  EXPECT_EQ(AddGeoFromFile(data, folder / "c.TarvelinMesh", quiet), 5);

  ScanListData withFusion = MakeData(true, false);
  ASSERT_TRUE(SaveGeoZentomesh(withFusion, folder / "f.zentomesh", -1));
  EXPECT_EQ(AddGeoFromFile(data, folder / "f.zentomesh", quiet), kAddedFusionResult);
  EXPECT_EQ(data.fusionResult->geo->GetGuid(), withFusion.fusionResult->geo->GetGuid());

  testing::WriteFileBytes(folder / "bad.stl", std::string(85, 'x'));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(AddGeoFromFile(data, folder / "bad.stl", quiet), -2);
  EXPECT_EQ(AddGeoFromFile(data, folder / "missing.obj", quiet), -2);
  const std::string error = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find("Mesh file could not be loaded!\n"), std::string::npos);
  EXPECT_EQ(data.scans.size(), 6u);
}

}  // namespace
}  // namespace surf
