#include "surf/mesh/IndexMapping.h"

#include <numeric>
#include <set>

namespace surf {
namespace {

bool ValidPrimSize(int primSize) { return primSize >= 1 && primSize <= 4; }

}  // namespace

IndexMapping::IndexMapping(std::size_t numVertices)
    : m_mapping(numVertices), m_numNewVertices(static_cast<std::int32_t>(numVertices)) {
  std::iota(m_mapping.begin(), m_mapping.end(), 0);
}

void IndexMapping::UnifyVertices(const std::vector<std::uint32_t>& indexBuffer, int primSize,
                                 const std::vector<math::Vec3f>& positions, float epsilon) {
  if (!ValidPrimSize(primSize)) throw std::invalid_argument("Invalid primSize in IndexMapping::UnifyVertices.");
  // Tolerant lexicographic order: a coordinate within epsilon passes on to
  // the next; three within epsilon mean equal.
  auto less = [&positions, epsilon](std::uint32_t ia, std::uint32_t ib) {
    const math::Vec3f& a = positions[ia];
    const math::Vec3f& b = positions[ib];
    for (int k = 0; k < 3; ++k) {
      if (a[k] < b[k] - epsilon) return true;
      if (a[k] > b[k] + epsilon) return false;
    }
    return false;
  };
  std::set<std::uint32_t, decltype(less)> seen(less);
  const std::size_t n = std::min(positions.size(), m_mapping.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto [it, inserted] = seen.insert(static_cast<std::uint32_t>(i));
    m_mapping[i] = static_cast<std::int32_t>(*it);
  }
  Complete(indexBuffer, primSize);
}

void IndexMapping::RemoveSelectedVertices(const std::vector<std::uint32_t>& indexBuffer, int primSize,
                                          const std::vector<bool>& selection) {
  if (!ValidPrimSize(primSize)) {
    throw std::invalid_argument("Invalid primSize in IndexMapping::RemoveSelectedVertices.");
  }
  for (std::size_t i = 0; i < m_mapping.size() && i < selection.size(); ++i) {
    if (selection[i]) m_mapping[i] = -1;
  }
  Complete(indexBuffer, primSize);
}

void IndexMapping::Complete(const std::vector<std::uint32_t>& indexBuffer, int primSize) {
  if (!ValidPrimSize(primSize)) throw std::invalid_argument("Invalid primSize in IndexMapping::Complete.");
  m_primSize = primSize;
  m_numPrimitives = 0;
  m_newIndexBuffer.clear();
  const std::size_t numOld = m_mapping.size();
  const std::size_t ps = static_cast<std::size_t>(primSize);
  std::int32_t looked[4];
  for (std::size_t p = 0; p + ps <= indexBuffer.size(); p += ps) {
    bool keep = true;
    for (std::size_t k = 0; k < ps && keep; ++k) {
      const std::uint32_t old = indexBuffer[p + k];
      looked[k] = old < numOld ? m_mapping[old] : -1;
      keep = looked[k] >= 0 && static_cast<std::size_t>(looked[k]) < numOld;
      for (std::size_t j = 0; j < k && keep && ps > 1; ++j) keep = looked[j] != looked[k];
    }
    if (!keep) continue;
    for (std::size_t k = 0; k < ps; ++k) m_newIndexBuffer.push_back(static_cast<std::uint32_t>(looked[k]));
    ++m_numPrimitives;
  }
  std::vector<char> referenced(numOld, 0);
  for (std::uint32_t i : m_newIndexBuffer) referenced[i] = 1;
  std::int32_t next = 0;
  for (std::size_t i = 0; i < numOld; ++i) m_mapping[i] = referenced[i] ? next++ : -1;
  for (std::uint32_t& i : m_newIndexBuffer) i = static_cast<std::uint32_t>(m_mapping[i]);
  m_numNewVertices = next;
}

std::vector<std::uint32_t> IndexMapping::RemapIndexBuffer(int primSize) const {
  if (primSize != m_primSize) {
    throw std::invalid_argument(
        "primSize in IndexMapping::RemapIndexBuffer is not identical to primSize used in "
        "IndexMapping::Complete.");
  }
  return m_newIndexBuffer;
}

void IndexMapping::Apply(v3d::VertexBuffer& buffer, v3d::Surface& surface) const {
  // Validate every present array before replacing any.
  const std::size_t n = buffer.GetNumVertices();
  auto check = [&](bool present, std::size_t size) {
    if (present && size != m_mapping.size()) {
      throw std::invalid_argument("'oldBuffer' has invalid size in IndexMapping::RemapVertexBuffer.");
    }
  };
  check(true, n);
  check(buffer.HasVertexNormals(), buffer.GetVertexNormals().size());
  check(buffer.HasVertexColors(), buffer.GetVertexColors().size());
  check(buffer.HasVertexTexCoords(), buffer.GetVertexTexCoords().size());
  check(buffer.HasVertexQualities(), buffer.GetVertexQualities().size());

  buffer.mGetVertexCoords() = RemapVertexBuffer(buffer.GetVertexCoords());
  if (buffer.HasVertexNormals()) buffer.mGetVertexNormals() = RemapVertexBuffer(buffer.GetVertexNormals());
  if (buffer.HasVertexColors()) buffer.mGetVertexColors() = RemapVertexBuffer(buffer.GetVertexColors());
  if (buffer.HasVertexTexCoords()) buffer.mGetVertexTexCoords() = RemapVertexBuffer(buffer.GetVertexTexCoords());
  if (buffer.HasVertexQualities()) buffer.mGetVertexQualities() = RemapVertexBuffer(buffer.GetVertexQualities());
  surface.mGetPrims() = m_newIndexBuffer;
}

}  // namespace surf
