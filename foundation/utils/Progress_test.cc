#include "foundation/utils/Progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "foundation/utils/Timer.h"

namespace utils {
namespace {

TEST(SubProgress, MapsAndClampsIntoTheOuterRange) {
  std::vector<double> seen;
  ProgressCallback outer = [&](double f) {
    seen.push_back(f);
    return false;
  };
  SubProgress sub(outer, 0.2, 0.6);
  sub(0.0);
  sub(0.5);
  sub(1.0);
  sub(2.0);
  sub(-1.0);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_DOUBLE_EQ(seen[0], 0.2);
  EXPECT_DOUBLE_EQ(seen[1], 0.4);
  EXPECT_DOUBLE_EQ(seen[2], 0.6);
  EXPECT_DOUBLE_EQ(seen[3], 0.6);
  EXPECT_DOUBLE_EQ(seen[4], 0.2);
}

TEST(SubProgress, PassesCancellationThroughNestedRanges) {
  double last = -1;
  ProgressCallback outer = [&](double f) {
    last = f;
    return f > 0.5;
  };
  SubProgress half(outer, 0.5, 1.0);
  SubProgress quarter(half.AsCallback(), 0.0, 0.5);  // 0.5 … 0.75 of the whole
  EXPECT_FALSE(quarter(0.0));
  EXPECT_DOUBLE_EQ(last, 0.5);
  EXPECT_TRUE(quarter(1.0));
  EXPECT_DOUBLE_EQ(last, 0.75);
  EXPECT_FALSE(SubProgress(nullptr, 0, 1)(0.5));
}

TEST(Timer, VerboseStopPrintsElapsedSeconds) {
  std::ostringstream out;
  Timer timer(true, out);
  const double s = timer.Stop();
  EXPECT_GE(s, 0.0);
  EXPECT_EQ(out.str().rfind("Elapsed time ", 0), 0u);
  EXPECT_NE(out.str().find(" seconds\n"), std::string::npos);
  std::ostringstream quiet;
  Timer silent(false, quiet);
  silent.Stop();
  EXPECT_TRUE(quiet.str().empty());
}

}  // namespace
}  // namespace utils
