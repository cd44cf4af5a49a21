#include "v3d/VertexBuffer.h"

#include <stdexcept>

namespace v3d {

VertexBuffer& VertexBuffer::operator=(const VertexBuffer& other) {
  if (this == &other) return *this;
  m_globalColor = other.m_globalColor;
  m_positions = other.m_positions;
  m_normals = other.m_normals;
  m_colors = other.m_colors;
  m_texCoords = other.m_texCoords;
  m_qualities = other.m_qualities;
  m_forceColors = other.m_forceColors;
  m_forceNormals = other.m_forceNormals;
  m_forceTexCoords = other.m_forceTexCoords;
  m_forceQualities = other.m_forceQualities;
  ++m_positionCounter;
  ++m_normalCounter;
  ++m_colorCounter;
  ++m_texCoordCounter;
  ++m_qualityCounter;
  m_reserveCount = 0;
  return *this;
}

std::uint32_t VertexBuffer::AddVertex(const Position& position) {
  // Attribute presence is decided before the position grows the count.
  const bool colors = HasVertexColors(), normals = HasVertexNormals();
  const bool texCoords = HasVertexTexCoords(), qualities = HasVertexQualities();
  m_positions.push_back(position);
  ++m_positionCounter;
  if (colors) m_colors.push_back(kDefaultColor), ++m_colorCounter;
  if (normals) m_normals.push_back(kDefaultNormal), ++m_normalCounter;
  if (texCoords) m_texCoords.push_back(TexCoord()), ++m_texCoordCounter;
  if (qualities) m_qualities.push_back(1.f), ++m_qualityCounter;
  return static_cast<std::uint32_t>(m_positions.size() - 1);
}

void VertexBuffer::ReserveVertices(std::size_t n) {
  m_positions.reserve(n);
  if (HasVertexColors()) m_colors.reserve(n);
  if (HasVertexNormals()) m_normals.reserve(n);
  if (HasVertexTexCoords()) m_texCoords.reserve(n);
  if (HasVertexQualities()) m_qualities.reserve(n);
  m_reserveCount = n;
}

template <typename T>
void VertexBuffer::AddAttribute(std::vector<T>& array, bool& force, std::uint32_t& counter,
                                const T& fill) {
  if (force || !array.empty()) return;
  const std::size_t count = m_positions.size();
  if (m_reserveCount > count && m_reserveCount <= m_positions.capacity()) {
    array.reserve(m_reserveCount);
  }
  array.assign(count, fill);
  force = true;
  ++counter;
}

void VertexBuffer::AddVertexColors() {
  AddAttribute(m_colors, m_forceColors, m_colorCounter, m_globalColor);
}
void VertexBuffer::AddVertexNormals() {
  AddAttribute(m_normals, m_forceNormals, m_normalCounter, kDefaultNormal);
}
void VertexBuffer::AddVertexTexCoords() {
  AddAttribute(m_texCoords, m_forceTexCoords, m_texCoordCounter, TexCoord());
}
void VertexBuffer::AddVertexQualities() {
  AddAttribute(m_qualities, m_forceQualities, m_qualityCounter, 0.f);
}

void VertexBuffer::RemoveVertexColors() {
  Free(m_colors);
  m_forceColors = false;
  ++m_colorCounter;
}
void VertexBuffer::RemoveVertexNormals() {
  Free(m_normals);
  m_forceNormals = false;
  ++m_normalCounter;
}
void VertexBuffer::RemoveVertexTexCoords() {
  Free(m_texCoords);
  m_forceTexCoords = false;
  ++m_texCoordCounter;
}
void VertexBuffer::RemoveVertexQualities() {
  Free(m_qualities);
  m_forceQualities = false;
  ++m_qualityCounter;
}

void VertexBuffer::SetVertexColor(const Color4ub& color, std::size_t i) {
  if (i >= m_colors.size()) {
    throw std::out_of_range("v3d::VertexBuffer::SetVertexColor - Vertex index is out of range.");
  }
  m_colors[i] = color;
  ++m_colorCounter;
}

void VertexBuffer::ClearVertices() {
  Free(m_positions);
  Free(m_normals);
  Free(m_colors);
  Free(m_texCoords);
  Free(m_qualities);
  ++m_positionCounter;
  ++m_normalCounter;
  ++m_colorCounter;
  ++m_texCoordCounter;
  ++m_qualityCounter;
  m_reserveCount = 0;
}

}  // namespace v3d
