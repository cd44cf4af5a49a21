#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "foundation/utils/Guid.h"
#include "v3d/Color.h"

namespace surf {

// The fixed palette of scan colours and the map that gives each scan (by its
// geo guid) one palette index, spreading the scans evenly over the palette.
inline constexpr int kNumScanColors = 48;

// palette[index mod 48] with alpha 255; negative indices wrap the same way.
v3d::Color4ub GetScanColor(std::int32_t index);

// A palette index for every scan guid. Indices read from a project may lie
// outside 0…47; they count, and are shown, as index mod 48.
class ScanColorMap {
 public:
  using Map = std::map<utils::Guid, std::int32_t>;
  using UsageCounts = std::array<int, kNumScanColors>;

  // How many entries use each palette index.
  UsageCounts GetUsageCounts() const;
  // The entry of guid, entering the least used index (the first such from 0
  // upwards) when the guid has none yet.
  std::int32_t Assign(const utils::Guid& guid);
  // Moves guid to the next index after its current one (upwards to 47, then
  // from 0) whose usage count equals the lowest count; a guid without entry
  // is assigned first. Returns the new index.
  std::int32_t Change(const utils::Guid& guid);
  // -1 for a guid without entry.
  std::int32_t Find(const utils::Guid& guid) const;
  void Set(const utils::Guid& guid, std::int32_t index) { m_map[guid] = index; }
  void Erase(const utils::Guid& guid) { m_map.erase(guid); }

  const Map& Get() const { return m_map; }
  void Replace(Map map) { m_map = std::move(map); }

 private:
  Map m_map;
};

}  // namespace surf
