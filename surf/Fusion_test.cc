#include <gtest/gtest.h>

#include "surf/Fusion.h"

TEST(Fusion, Builds) {}
