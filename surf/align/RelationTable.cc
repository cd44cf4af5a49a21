#include "surf/align/RelationTable.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace surf {

RelationTable::RelationTable(std::uint64_t distanceBins, std::uint64_t angleBins, std::uint64_t entriesPerBin)
    : m_numEntries(angleBins * angleBins * angleBins * distanceBins * entriesPerBin),
      m_entriesPerBin(entriesPerBin),
      m_distanceBins(distanceBins),
      m_angleBins(angleBins) {
  if (distanceBins < 2 || angleBins < 2 || entriesPerBin < 1) {
    throw std::invalid_argument("RelationTable::RelationTable - Invalid binning.");
  }
}

void RelationTable::SetMaxDistance(float d) {
  if (!(d > 0.f) || !std::isfinite(d)) {
    throw std::invalid_argument("RelationTable::SetMaxDistance - The distance must be positive.");
  }
  const float inverse = static_cast<float>(m_distanceBins - 1) / d;
  if (inverse != m_inverseDistanceWidth || !m_allocated) {
    m_inverseDistanceWidth = inverse;
    Clear();
  }
}

std::int64_t RelationTable::ComputeEntry(const math::Vec3f& p1, const math::Vec3f& n1, const math::Vec3f& p2,
                                         const math::Vec3f& n2) const {
  if (m_inverseDistanceWidth <= 0.f) return -1;
  const math::Vec3f d = p1 - p2;
  const float length = d.Length();
  if (!(length > 0.f) || !std::isfinite(length)) return -1;
  const float distanceBin = length * m_inverseDistanceWidth;
  if (!(distanceBin < static_cast<float>(m_distanceBins))) return -1;

  const math::Vec3f u = d / length;
  const math::Vec3f w1 = n1 ^ u;
  const math::Vec3f w2 = u ^ n2;
  float alpha = std::atan2(math::Dot(n1, w2), math::Dot(w1, w2));
  const float half = 0.5f * static_cast<float>(m_angleBins - 1);
  float c1 = math::Dot(u, n1) * half + half;
  float c2 = math::Dot(u, n2) * half + half;
  if (!std::isfinite(alpha) || !std::isfinite(c1) || !std::isfinite(c2)) return -1;
  auto b1 = static_cast<std::int64_t>(c1);
  auto b2 = static_cast<std::int64_t>(c2);
  if (b1 < b2) {
    std::swap(b1, b2);
    alpha = -alpha;
  }
  const auto bAlpha =
      static_cast<std::int64_t>(alpha * static_cast<float>(m_angleBins - 1) / (2.f * std::numbers::pi_v<float>) + half);
  const auto n = static_cast<std::int64_t>(m_angleBins);
  if (b1 < 0 || b1 >= n || b2 < 0 || b2 >= n || bAlpha < 0 || bAlpha >= n) return -1;
  const auto bd = static_cast<std::int64_t>(distanceBin);
  return ((((b1 * n + b2) * n + bAlpha) * static_cast<std::int64_t>(m_distanceBins) + bd) *
          static_cast<std::int64_t>(m_entriesPerBin));
}

void RelationTableOPP::Clear() {
  m_storage.assign(GetNumEntries(), kEmpty);
  MarkAllocated();
}

void RelationTableOPP::Store(std::int64_t entry, std::uint32_t i, std::uint32_t j) {
  if (entry < 0 || static_cast<std::uint64_t>(entry) + 2 > m_storage.size()) return;
  m_storage[entry] = i;
  m_storage[entry + 1] = j;
}

bool RelationTableOPP::Read(std::int64_t entry, std::uint32_t& i, std::uint32_t& j) const {
  if (entry < 0 || static_cast<std::uint64_t>(entry) + 2 > m_storage.size()) return false;
  i = m_storage[entry];
  j = m_storage[entry + 1];
  return i != kEmpty && j != kEmpty;
}

void RelationTableRating::Clear() {
  m_bits.assign((GetNumEntries() + 63) / 64, 0);
  MarkAllocated();
}

void RelationTableRating::Mark(std::int64_t entry) {
  if (entry < 0 || static_cast<std::uint64_t>(entry) >= GetNumEntries() || m_bits.empty()) return;
  m_bits[entry >> 6] |= std::uint64_t(1) << (entry & 63);
}

bool RelationTableRating::IsMarked(std::int64_t entry) const {
  if (entry < 0 || static_cast<std::uint64_t>(entry) >= GetNumEntries() || m_bits.empty()) return false;
  return (m_bits[entry >> 6] >> (entry & 63)) & 1u;
}

}  // namespace surf
