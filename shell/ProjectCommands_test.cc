// Projects and mesh files of the shell, as a user meets them: a save that
// fails keeps the previous file, a damaged project or mesh leaves the list
// as it was, an export names what is missing.
#include "shell/ProjectCommands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "shell/testing/ShellFixture.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Projects : public ::testing::Test {
 protected:
  Projects()
      : m_root("ProjectCommands_test"),
        m_settings(testing::MakeSettings(m_root)),
        m_commands(*m_settings, m_fusion, {},
                   [this](const std::string& line) { m_log.push_back(line); }) {}

  // A tetrahedron of 10 mm edges as scan `name`.
  int AddTetrahedron(const std::string& name) {
    const std::vector<float> vertices{0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 0, 10};
    const std::vector<std::uint32_t> triangles{0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    return m_fusion.AddGeo(vertices, triangles, {}, name);
  }
  fs::path Folder() const { return m_root.GetPath(); }

  testing::TemporaryRoot m_root;
  std::unique_ptr<Settings> m_settings;
  surf::ShapeFusion m_fusion;
  std::vector<std::string> m_log;
  ProjectCommands m_commands;
};

TEST_F(Projects, SaveAndOpenRoundTripAndTrackTheCurrentProject) {
  AddTetrahedron("first");
  AddTetrahedron("second");
  m_commands.MarkChanged();
  std::string message;
  const fs::path file = Folder() / "two.tarvelinproj";
  ASSERT_TRUE(m_commands.SaveProject(file, message)) << message;
  EXPECT_EQ(m_commands.GetProjectPath(), fs::absolute(file));
  EXPECT_FALSE(m_commands.HasUnsavedChanges());

  surf::ShapeFusion other;
  ProjectCommands reader(*m_settings, other, {}, [](const std::string&) {});
  ASSERT_TRUE(reader.OpenProject(file, message)) << message;
  EXPECT_EQ(other.GetNumGeos(), 2);
  EXPECT_NE(message.find("(2 scans)"), std::string::npos) << message;

  // Only project files are written as projects.
  EXPECT_FALSE(m_commands.SaveProject(Folder() / "two.ply", message));
  EXPECT_EQ(message, "A project file ends in .tarvelinproj: " + (Folder() / "two.ply").string());
}

TEST_F(Projects, AFailedSaveKeepsThePreviousFileAndSaysWhy) {
  AddTetrahedron("first");
  std::string message;
  const fs::path file = Folder() / "kept.tarvelinproj";
  ASSERT_TRUE(m_commands.SaveProject(file, message)) << message;
  const std::string before = ReadAll(file);
  ASSERT_FALSE(before.empty());

  // The file's place is taken by a folder the rename cannot replace: the
  // write fails like one onto a full disk, after the data was prepared.
  AddTetrahedron("second");
  const fs::path blocked = Folder() / "blocked.tarvelinproj";
  fs::create_directories(blocked / "inside");
  EXPECT_FALSE(m_commands.SaveProject(blocked, message));
  EXPECT_NE(message.find("The project could not be written to " + blocked.string()),
            std::string::npos)
      << message;
  EXPECT_NE(message.find("is the disk full or the folder read-only?"), std::string::npos)
      << message;
  EXPECT_EQ(m_commands.GetProjectPath(), fs::absolute(file));  // still the project that was saved

  // A folder that does not exist is named as such.
  const fs::path nowhere = Folder() / "missing" / "p.tarvelinproj";
  EXPECT_FALSE(m_commands.SaveProject(nowhere, message));
  EXPECT_NE(message.find("The folder " + nowhere.parent_path().string() + " does not exist."),
            std::string::npos)
      << message;
  EXPECT_EQ(ReadAll(file), before);
}

TEST_F(Projects, DamagedFilesLeaveTheListUnchanged) {
  AddTetrahedron("first");
  std::string message;
  const fs::path good = Folder() / "good.tarvelinproj";
  ASSERT_TRUE(m_commands.SaveProject(good, message));
  const std::string bytes = ReadAll(good);

  // Truncated, then garbage with the right extension.
  const fs::path truncated = Folder() / "truncated.tarvelinproj";
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const fs::path garbage = Folder() / "garbage.tarvelinproj";
  std::ofstream(garbage, std::ios::binary) << "not a project at all";
  for (const fs::path& bad : {truncated, garbage}) {
    EXPECT_FALSE(m_commands.OpenProject(bad, message)) << bad;
    EXPECT_NE(message.find("could not be read"), std::string::npos) << message;
    EXPECT_NE(message.find("The scan list is unchanged."), std::string::npos) << message;
    EXPECT_EQ(m_fusion.GetNumGeos(), 1);
    EXPECT_EQ(m_commands.GetProjectPath(), fs::absolute(good));
  }
  EXPECT_FALSE(m_commands.OpenProject(Folder() / "absent.tarvelinproj", message));
  EXPECT_EQ(message,
            "The project " + (Folder() / "absent.tarvelinproj").string() + " does not exist.");

  const fs::path mesh = Folder() / "broken.stl";
  std::ofstream(mesh, std::ios::binary) << "solid nothing but a few bytes";
  EXPECT_FALSE(m_commands.ImportMesh(mesh, message));
  EXPECT_EQ(m_fusion.GetNumGeos(), 1);
  ASSERT_FALSE(m_log.empty());
  EXPECT_EQ(m_log.back().rfind("Error: ", 0), 0u) << m_log.back();
}

TEST_F(Projects, ExportWritesEveryFormatAndNamesWhatIsMissing) {
  AddTetrahedron("first");
  std::string message;
  for (const std::string& extension : ProjectCommands::ExportExtensions()) {
    const fs::path file = Folder() / ("scan" + extension);
    ASSERT_TRUE(m_commands.ExportMesh(0, file, message)) << message;
    // What was written reads back as a scan of the same size.
    ASSERT_TRUE(m_commands.ImportMesh(file, message)) << extension << ": " << message;
    const v3d::Geo* imported = m_fusion.GetGeo(m_fusion.GetNumGeos() - 1);
    std::size_t triangles = 0;
    for (const auto& mesh : *imported) triangles += mesh->GetNumPrims();
    EXPECT_EQ(triangles, 4u) << extension;
    if (extension == ".ply") {
      // The ASCII form with exactly these header lines, then 4 vertices and 4 faces.
      std::ifstream in(file);
      std::vector<std::string> lines;
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      const std::vector<std::string> header{"ply",
                                            "format ascii 1.0",
                                            "comment generated by Tarvelin Software Pro",
                                            "element vertex 4",
                                            "property float32 x",
                                            "property float32 y",
                                            "property float32 z",
                                            "element face 4",
                                            "property list uint8 int32 vertex_index",
                                            "end_header"};
      ASSERT_EQ(lines.size(), header.size() + 8u);
      EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10), header);
      EXPECT_EQ(lines.back().rfind("3 ", 0), 0u) << lines.back();
    }
  }
  EXPECT_FALSE(
      m_commands.ExportMesh(surf::ShapeFusion::kFusionResultIndex, Folder() / "f.ply", message));
  EXPECT_EQ(message, "There is no fusion result to export: fuse first.");
  EXPECT_FALSE(m_commands.ExportMesh(99, Folder() / "x.ply", message));
  EXPECT_EQ(message, "There is no scan 100.");
  EXPECT_FALSE(m_commands.ExportMesh(0, Folder() / "x.xyz", message));
  EXPECT_NE(message.find("choose one of .tarvelinmesh, .stl, .obj, .ply, .3mf"), std::string::npos);
}

}  // namespace
}  // namespace shell
