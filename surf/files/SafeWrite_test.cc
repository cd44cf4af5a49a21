#include "surf/files/SafeWrite.h"

#include <gtest/gtest.h>

#include <ostream>

#include "surf/testing/TestMeshes.h"

namespace surf {
namespace {

TEST(WriteFileSafely, ReplacesTheFileOnlyWhenWritingSucceeded) {
  testing::TempFolder folder;
  const auto path = folder / "mesh.stl";
  testing::WriteFileBytes(path, "previous");

  EXPECT_FALSE(WriteStreamSafely(path, [](std::ostream& out) {
    out << "half written";
    return false;
  }));
  EXPECT_EQ(testing::ReadFileBytes(path), "previous");
  EXPECT_THROW(WriteStreamSafely(path,
                                 [](std::ostream& out) -> bool {
                                   out << "interrupted";
                                   throw std::runtime_error("interrupted");
                                 }),
               std::runtime_error);
  EXPECT_EQ(testing::ReadFileBytes(path), "previous");
  EXPECT_EQ(folder.FileNames(), std::vector<std::string>{"mesh.stl"});

  EXPECT_TRUE(WriteStreamSafely(path, [](std::ostream& out) {
    out << "new";
    return true;
  }));
  EXPECT_EQ(testing::ReadFileBytes(path), "new");
  EXPECT_EQ(folder.FileNames(), std::vector<std::string>{"mesh.stl"});
}

TEST(WriteFileSafely, FailsForAMissingFolderOrAFolderAsTarget) {
  testing::TempFolder folder;
  const auto write = [](std::ostream& out) { return true; };
  EXPECT_FALSE(WriteStreamSafely(folder / "missing/mesh.obj", write));
  EXPECT_FALSE(WriteStreamSafely(folder.Path(), write));
  EXPECT_TRUE(folder.FileNames().empty());
}

}  // namespace
}  // namespace surf
