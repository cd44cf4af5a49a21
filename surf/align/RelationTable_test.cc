#include "surf/align/RelationTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "foundation/math/Frame.h"

namespace surf {
namespace {

using math::Vec3f;

TEST(RelationTableOPP, LayoutAndDistanceBins) {
  RelationTableOPP table;
  EXPECT_EQ(table.GetNumEntries(), 0x400000u);
  EXPECT_FLOAT_EQ(table.GetInverseDistanceWidth(), -1.f);
  // No maximum distance yet: no bins.
  EXPECT_EQ(table.ComputeEntry(Vec3f(), Vec3f(0.f, 0.f, 1.f), Vec3f(1.f, 0.f, 0.f), Vec3f(0.f, 0.f, 1.f)), -1);
  table.SetMaxDistance(63.f);
  EXPECT_FLOAT_EQ(table.GetInverseDistanceWidth(), 1.f);
  const Vec3f n(0.f, 0.f, 1.f);
  // Two points 10.5 apart along x (u = x), normals z and y, both normal to
  // the line: u·n1 = u·n2 = 0 → bins 15; w1 = z × x = y, w2 = x × y = z,
  // α = atan2(1, 0) = π/2 → bin ⌊7.75 + 15.5⌋ = 23; distance bin 10.
  const std::int64_t entry = table.ComputeEntry(Vec3f(10.5f, 0.f, 0.f), n, Vec3f(), Vec3f(0.f, 1.f, 0.f));
  EXPECT_EQ(entry, ((((15 * 32 + 15) * 32 + 23) * 64) + 10) * 2);
  // A pair farther than the table's reach (64 bins of width 1) has no bin.
  EXPECT_EQ(table.ComputeEntry(Vec3f(64.5f, 0.f, 0.f), n, Vec3f(), n), -1);
  EXPECT_GE(table.ComputeEntry(Vec3f(63.5f, 0.f, 0.f), n, Vec3f(), n), 0);
  // Coincident points and non-finite normals have no bin.
  EXPECT_EQ(table.ComputeEntry(Vec3f(), n, Vec3f(), n), -1);
  EXPECT_EQ(table.ComputeEntry(Vec3f(1.f, 0.f, 0.f), Vec3f(NAN, 0.f, 1.f), Vec3f(), n), -1);
  EXPECT_THROW(table.SetMaxDistance(0.f), std::invalid_argument);
}

TEST(RelationTableOPP, FeatureIsRigidlyInvariantAndSwapsCanonically) {
  RelationTableOPP table;
  table.SetMaxDistance(100.f);
  const Vec3f p1(3.f, 1.f, 2.f), p2(-20.f, 7.f, 5.f);
  const Vec3f n1 = Vec3f(0.3f, 0.8f, 0.2f).GetNormalized(), n2 = Vec3f(-0.5f, 0.1f, 0.7f).GetNormalized();
  const std::int64_t entry = table.ComputeEntry(p1, n1, p2, n2);
  ASSERT_GE(entry, 0);
  const math::Frame4d motion = math::FRotZ(0.7) * math::FRotX(-1.1) * math::FTrans(5.0, -3.0, 8.0);
  EXPECT_EQ(table.ComputeEntry(motion.MultP(p1), motion.MultV(n1), motion.MultP(p2), motion.MultV(n2)), entry);
  // The two cosine bins come out ordered: b1 ≥ b2.
  const std::int64_t bin = entry / 2 / 64;
  const std::int64_t b1 = bin / (32 * 32), b2 = bin / 32 % 32;
  EXPECT_GE(b1, b2);
  // A mirrored pair (b1 < b2 before the swap) lands in a valid bin too.
  EXPECT_GE(table.ComputeEntry(p1, n2, p2, n1), 0);
}

TEST(RelationTableOPP, StoreReadAndClearing) {
  RelationTableOPP table;
  table.SetMaxDistance(10.f);
  std::uint32_t i = 0, j = 0;
  EXPECT_FALSE(table.Read(40, i, j));
  table.Store(40, 7, 9);
  ASSERT_TRUE(table.Read(40, i, j));
  EXPECT_EQ(i, 7u);
  EXPECT_EQ(j, 9u);
  table.SetMaxDistance(10.f);  // unchanged: kept
  EXPECT_TRUE(table.Read(40, i, j));
  table.SetMaxDistance(20.f);  // changed: cleared
  EXPECT_FALSE(table.Read(40, i, j));
  table.Store(-2, 1, 2);  // ignored
  table.Store(0x400000, 1, 2);
  EXPECT_FALSE(table.Read(0x400000, i, j));
}

TEST(RelationTableRating, OneBitPerEntry) {
  RelationTableRating table(100, 100, 1);
  EXPECT_EQ(table.GetNumEntries(), 100000000u);
  table.SetMaxDistance(50.f);
  EXPECT_FALSE(table.IsMarked(12345));
  table.Mark(12345);
  EXPECT_TRUE(table.IsMarked(12345));
  EXPECT_FALSE(table.IsMarked(12344));
  EXPECT_FALSE(table.IsMarked(-1));
  table.Clear();
  EXPECT_FALSE(table.IsMarked(12345));
}

}  // namespace
}  // namespace surf
