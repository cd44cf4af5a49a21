#include <gtest/gtest.h>

#include "surf/MeshEditing.h"

TEST(MeshEditing, Builds) {}
