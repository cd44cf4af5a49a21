// Rig folders and the objects a scene can be given by name or file.
#include "sim/RigSetup.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

TEST(RigSetup, ObjectNamesAndBadFolders) {
  SceneDescription description;
  std::string error;
  EXPECT_TRUE(SetSingleObject("vase", description, error));
  ASSERT_EQ(description.objects.size(), 1u);
  EXPECT_EQ(description.objects[0].kind, ObjectKind::kVase);
  EXPECT_FALSE(SetSingleObject("/nonexistent/part.stl", description, error));
  EXPECT_NE(error.find("no such object file"), std::string::npos);
  EXPECT_EQ(ResolveRigFolder("stereo"), ShareDirectory() / "rigs" / "stereo");
  EXPECT_EQ(ResolveRigFolder("/some/rig"), std::filesystem::path("/some/rig"));

  scan::HardwareSetupIO setup;
  ASSERT_TRUE(LoadRigFolder(ResolveRigFolder("default"), setup, description, error)) << error;
  description.objects[0].kind = ObjectKind::kMesh;
  description.objects[0].file = "/nonexistent/part.obj";
  EXPECT_FALSE(MakeVirtualRig(setup, description, ResolveRigFolder("default"), {}, error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace sim
