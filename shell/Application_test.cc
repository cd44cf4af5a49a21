#include "shell/Application.h"

#include <gtest/gtest.h>

namespace shell {
namespace {
TEST(CommandLine, Placeholder) { SUCCEED(); }
}  // namespace
}  // namespace shell
