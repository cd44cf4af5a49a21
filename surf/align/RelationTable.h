#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Vec.h"

namespace surf {

// A hash table over the quantised feature of an oriented point pair
// (p1, n1), (p2, n2): distance L = |p1 − p2| in distance bins, and three
// angles in angle bins N: the dihedral angle α between the planes (n1, u) and
// (u, n2) about u = (p1 − p2)/L, and the cosines u·n1, u·n2. When the bin of
// u·n1 is below that of u·n2 the two are swapped and α changes sign.
// Entry index = ((((b1·N + b2)·N + bα)·D + bd) · entries per bin.
//
// The inverse distance-bin width is −1 until SetMaxDistance; storage is
// allocated on first use. Not thread-safe.
class RelationTable {
 public:
  RelationTable(std::uint64_t distanceBins, std::uint64_t angleBins, std::uint64_t entriesPerBin);
  virtual ~RelationTable() = default;
  RelationTable(const RelationTable&) = delete;
  RelationTable& operator=(const RelationTable&) = delete;

  // Inverse width = (distance bins − 1) / d; when it changes, the table is
  // cleared (and allocated on first use). d must be positive and finite.
  virtual void SetMaxDistance(float d);
  virtual void Clear() = 0;

  // The first entry of the pair's bin, or −1 when the pair has no bin (its
  // distance bin is past the last, the points coincide, the table has no
  // maximum distance yet, or a value is not finite).
  std::int64_t ComputeEntry(const math::Vec3f& p1, const math::Vec3f& n1, const math::Vec3f& p2,
                            const math::Vec3f& n2) const;

  std::uint64_t GetNumEntries() const { return m_numEntries; }
  std::uint64_t GetEntriesPerBin() const { return m_entriesPerBin; }
  std::uint64_t GetDistanceBins() const { return m_distanceBins; }
  std::uint64_t GetAngleBins() const { return m_angleBins; }
  float GetInverseDistanceWidth() const { return m_inverseDistanceWidth; }

 protected:
  bool HasStorage() const { return m_allocated; }
  void MarkAllocated() { m_allocated = true; }

 private:
  std::uint64_t m_numEntries;
  std::uint64_t m_entriesPerBin;
  std::uint64_t m_distanceBins;
  std::uint64_t m_angleBins;
  float m_inverseDistanceWidth = -1.f;
  bool m_allocated = false;
};

// The pair table of coarse alignment: 32 angle bins, 64 distance bins, two
// uint32 slots per bin holding one pair of vertex indices (0x400000 entries).
class RelationTableOPP : public RelationTable {
 public:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  RelationTableOPP() : RelationTable(64, 32, 2) {}
  void Clear() override;

  // Stores the pair at the bin whose first entry is entry (from ComputeEntry).
  void Store(std::int64_t entry, std::uint32_t i, std::uint32_t j);
  // The pair in that bin; false when the bin is empty.
  bool Read(std::int64_t entry, std::uint32_t& i, std::uint32_t& j) const;

 private:
  std::vector<std::uint32_t> m_storage;
};

// One bit per entry; the binning is chosen per instance (surface features
// use 100 distance and 100 angle bins with one entry per bin).
class RelationTableRating : public RelationTable {
 public:
  RelationTableRating(std::uint64_t distanceBins, std::uint64_t angleBins, std::uint64_t entriesPerBin = 1)
      : RelationTable(distanceBins, angleBins, entriesPerBin) {}
  void Clear() override;

  void Mark(std::int64_t entry);
  bool IsMarked(std::int64_t entry) const;

 private:
  std::vector<std::uint64_t> m_bits;
};

}  // namespace surf
