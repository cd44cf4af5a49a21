#include "surf/fusion/ScanColors.h"

#include <algorithm>

namespace surf {
namespace {

constexpr std::uint8_t kPalette[kNumScanColors][3] = {
    {138, 194, 138}, {138, 138, 194}, {194, 194, 138}, {138, 194, 194}, {194, 138, 194}, {194, 138, 138},
    {138, 194, 170}, {138, 174, 194}, {142, 138, 194}, {194, 138, 163}, {194, 164, 138}, {174, 194, 138},
    {58, 194, 58},   {58, 58, 194},   {194, 194, 58},  {58, 194, 194},  {194, 58, 194},  {194, 58, 58},
    {58, 194, 170},  {58, 174, 194},  {142, 58, 194},  {194, 58, 163},  {194, 164, 58},  {174, 194, 58},
    {138, 242, 138}, {138, 138, 242}, {194, 242, 138}, {138, 242, 242}, {194, 138, 242}, {242, 138, 138},
    {138, 242, 170}, {138, 174, 242}, {142, 138, 242}, {242, 138, 163}, {242, 164, 138}, {174, 242, 138},
    {58, 242, 58},   {58, 58, 242},   {242, 242, 58},  {58, 242, 242},  {242, 58, 242},  {242, 58, 58},
    {58, 242, 170},  {58, 174, 242},  {142, 58, 242},  {242, 58, 163},  {242, 164, 58},  {174, 242, 58},
};

int Wrap(std::int32_t index) { return ((index % kNumScanColors) + kNumScanColors) % kNumScanColors; }

}  // namespace

v3d::Color4ub GetScanColor(std::int32_t index) {
  const std::uint8_t* c = kPalette[Wrap(index)];
  return {c[0], c[1], c[2], 255};
}

ScanColorMap::UsageCounts ScanColorMap::GetUsageCounts() const {
  UsageCounts counts{};
  for (const auto& entry : m_map) ++counts[static_cast<std::size_t>(Wrap(entry.second))];
  return counts;
}

std::int32_t ScanColorMap::Assign(const utils::Guid& guid) {
  if (const auto it = m_map.find(guid); it != m_map.end()) return it->second;
  const UsageCounts counts = GetUsageCounts();
  const auto least = std::min_element(counts.begin(), counts.end());
  const auto index = static_cast<std::int32_t>(least - counts.begin());
  m_map[guid] = index;
  return index;
}

std::int32_t ScanColorMap::Change(const utils::Guid& guid) {
  const int current = Wrap(Assign(guid));
  const UsageCounts counts = GetUsageCounts();
  const int lowest = *std::min_element(counts.begin(), counts.end());
  for (int step = 1; step <= kNumScanColors; ++step) {
    const int candidate = (current + step) % kNumScanColors;
    if (counts[static_cast<std::size_t>(candidate)] == lowest) {
      m_map[guid] = candidate;
      return candidate;
    }
  }
  return current;  // not reached: some index has the lowest count
}

std::int32_t ScanColorMap::Find(const utils::Guid& guid) const {
  const auto it = m_map.find(guid);
  return it == m_map.end() ? -1 : it->second;
}

}  // namespace surf
