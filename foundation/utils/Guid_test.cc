#include "foundation/utils/Guid.h"

#include <gtest/gtest.h>

#include <set>

namespace utils {
namespace {

TEST(Guid, DefaultIsAllZeroAndPrintsAsSuch) {
  Guid g;
  EXPECT_TRUE(g.IsNull());
  EXPECT_EQ(g.ToString(), "00000000-0000-0000-0000-000000000000");
}

TEST(Guid, ToStringRendersBytesInStorageOrder) {
  std::array<std::uint8_t, 16> bytes{};
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Guid(bytes).ToString(), "00010203-0405-0607-0809-0a0b0c0d0e0f");
  bytes[0] = 0xAB;
  EXPECT_EQ(Guid(bytes).ToString().substr(0, 2), "ab");
}

TEST(Guid, FromStringInvertsToStringAndRejectsMalformedText) {
  const Guid g = Guid::NewGuid();
  EXPECT_EQ(Guid::FromString(g.ToString()), g);
  EXPECT_EQ(Guid::FromString("00010203-0405-0607-0809-0A0B0C0D0E0F")->Bytes()[15], 0x0F);
  EXPECT_FALSE(Guid::FromString("00010203-0405-0607-0809-0a0b0c0d0e0"));
  EXPECT_FALSE(Guid::FromString("00010203+0405-0607-0809-0a0b0c0d0e0f"));
  EXPECT_FALSE(Guid::FromString("0001020g-0405-0607-0809-0a0b0c0d0e0f"));
}

TEST(Guid, NewGuidsAreVersionFourAndDistinct) {
  std::set<Guid> seen;
  for (int i = 0; i < 1000; ++i) {
    const Guid g = Guid::NewGuid();
    EXPECT_EQ(g.Bytes()[6] >> 4, 4);
    EXPECT_EQ(g.Bytes()[8] & 0xC0, 0x80);
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(Guid, ComparesByteWise) {
  std::array<std::uint8_t, 16> a{}, b{};
  b[15] = 1;
  EXPECT_NE(Guid(a), Guid(b));
  EXPECT_EQ(Guid(b), Guid(b));
  EXPECT_LT(Guid(a), Guid(b));
}

}  // namespace
}  // namespace utils
