#include "surf/fusion/ScanColors.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace surf {
namespace {

// The palette as the list text gives it, index: red, green, blue.
constexpr char kPaletteText[] =
    "0: 138,194,138; 1: 138,138,194; 2: 194,194,138; 3: 138,194,194; 4: 194,138,194; 5: 194,138,138; "
    "6: 138,194,170; 7: 138,174,194; 8: 142,138,194; 9: 194,138,163; 10: 194,164,138; 11: 174,194,138; "
    "12: 58,194,58; 13: 58,58,194; 14: 194,194,58; 15: 58,194,194; 16: 194,58,194; 17: 194,58,58; "
    "18: 58,194,170; 19: 58,174,194; 20: 142,58,194; 21: 194,58,163; 22: 194,164,58; 23: 174,194,58; "
    "24: 138,242,138; 25: 138,138,242; 26: 194,242,138; 27: 138,242,242; 28: 194,138,242; 29: 242,138,138; "
    "30: 138,242,170; 31: 138,174,242; 32: 142,138,242; 33: 242,138,163; 34: 242,164,138; 35: 174,242,138; "
    "36: 58,242,58; 37: 58,58,242; 38: 242,242,58; 39: 58,242,242; 40: 242,58,242; 41: 242,58,58; "
    "42: 58,242,170; 43: 58,174,242; 44: 142,58,242; 45: 242,58,163; 46: 242,164,58; 47: 174,242,58";

std::vector<utils::Guid> Guids(int n) {
  std::vector<utils::Guid> guids;
  for (int i = 0; i < n; ++i) guids.push_back(utils::Guid::NewGuid());
  return guids;
}

TEST(ScanColors, PaletteHasTheFortyEightEntriesAndWraps) {
  std::istringstream in(kPaletteText);
  int index = 0, r = 0, g = 0, b = 0;
  char colon = 0, comma1 = 0, comma2 = 0, semicolon = 0;
  int entries = 0;
  while (in >> index >> colon >> r >> comma1 >> g >> comma2 >> b) {
    EXPECT_EQ(index, entries);
    EXPECT_EQ(GetScanColor(index), v3d::Color4ub(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 255)) << index;
    EXPECT_EQ(GetScanColor(index + kNumScanColors), GetScanColor(index));
    EXPECT_EQ(GetScanColor(index - kNumScanColors), GetScanColor(index));
    ++entries;
    in >> semicolon;
  }
  EXPECT_EQ(entries, kNumScanColors);
}

TEST(ScanColors, NewScansTakeTheLeastUsedIndexFromZeroUp) {
  ScanColorMap map;
  const auto guids = Guids(50);
  for (int i = 0; i < 48; ++i) EXPECT_EQ(map.Assign(guids[i]), i);
  // All used once: the first index of the lowest count is 0 again.
  EXPECT_EQ(map.Assign(guids[48]), 0);
  EXPECT_EQ(map.Assign(guids[49]), 1);
  // An existing entry keeps its index.
  EXPECT_EQ(map.Assign(guids[5]), 5);
  const ScanColorMap::UsageCounts counts = map.GetUsageCounts();
  EXPECT_EQ(counts[0], 2);
  EXPECT_EQ(counts[1], 2);
  EXPECT_EQ(counts[2], 1);
}

TEST(ScanColors, RemovedEntriesFreeTheirIndex) {
  ScanColorMap map;
  const auto guids = Guids(6);
  for (int i = 0; i < 4; ++i) map.Assign(guids[i]);
  map.Erase(guids[1]);
  map.Erase(guids[2]);
  EXPECT_EQ(map.Find(guids[1]), -1);
  EXPECT_EQ(map.Assign(guids[4]), 1);
  EXPECT_EQ(map.Assign(guids[5]), 2);
}

TEST(ScanColors, StoredIndicesOutsideThePaletteCountModuloFortyEight) {
  ScanColorMap map;
  const auto guids = Guids(3);
  map.Set(guids[0], 48);  // counts as 0
  map.Set(guids[1], -47);  // counts as 1
  EXPECT_EQ(map.GetUsageCounts()[0], 1);
  EXPECT_EQ(map.GetUsageCounts()[1], 1);
  EXPECT_EQ(map.Assign(guids[2]), 2);
}

TEST(ScanColors, ChangeMovesToTheNextIndexOfLowestUsage) {
  ScanColorMap map;
  const auto guids = Guids(3);
  for (const auto& guid : guids) map.Assign(guid);  // 0, 1, 2
  // Lowest count is 0: the next unused index after 0 is 3.
  EXPECT_EQ(map.Change(guids[0]), 3);
  // Now 0 is free and lies before 1 only after wrapping: 1 → 4 first.
  EXPECT_EQ(map.Change(guids[1]), 4);
  EXPECT_EQ(map.Find(guids[1]), 4);
}

TEST(ScanColors, ChangeWrapsAroundPastFortySeven) {
  ScanColorMap map;
  const auto guids = Guids(48);
  for (int i = 0; i < 48; ++i) map.Set(guids[i], i);
  // Every index used once: the next one after 47 is 0.
  EXPECT_EQ(map.Change(guids[47]), 0);

  // Every index except 3 used: from 46 the search wraps and stops at 3.
  ScanColorMap gap;
  for (int i = 0; i < 48; ++i) {
    if (i != 3) gap.Set(guids[i], i);
  }
  EXPECT_EQ(gap.Change(guids[46]), 3);
  EXPECT_EQ(gap.GetUsageCounts()[46], 0);
}

TEST(ScanColors, ChangeOfAnUnknownGuidAssignsItFirst) {
  ScanColorMap map;
  const auto guids = Guids(2);
  map.Assign(guids[0]);  // 0
  // Assigned 1, then moved on to the next unused index, 2.
  EXPECT_EQ(map.Change(guids[1]), 2);
}

}  // namespace
}  // namespace surf
