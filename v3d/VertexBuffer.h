#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Vec.h"
#include "v3d/Color.h"

namespace v3d {

// The per-vertex arrays of one mesh: positions, normals, colours, texture
// coordinates and qualities, each a contiguous, tightly packed array (12, 12,
// 4, 8 and 4 bytes per element) that the renderer hands to OpenGL as it is.
//
// An attribute is present when its force flag is set or its array is not
// empty; every present attribute holds exactly one element per position.
// Every array has a change counter (starting at 1) that each mutation
// increments; observers compare counters instead of data. The mutable
// accessors (mGet...) increment the counter before returning the array, and
// their users must keep the one-element-per-position invariant.
//
// Not thread-safe; viewer data is guarded by LockGuard.
class VertexBuffer {
 public:
  using Position = math::Vec3f;
  using Normal = math::Vec3f;
  using TexCoord = math::Vec2f;

  static constexpr Color4ub kDefaultColor{255, 255, 255, 255};
  static constexpr Normal kDefaultNormal{0.f, 0.f, 1.f};

  explicit VertexBuffer(std::uint32_t index = 0) : m_index(index) {}
  virtual ~VertexBuffer() = default;
  VertexBuffer(const VertexBuffer&) = delete;
  // Copies the global colour, the five arrays and the force flags; increments
  // all five counters of this buffer, sets its reserve count to 0 and keeps
  // its own index.
  VertexBuffer& operator=(const VertexBuffer& other);

  std::uint32_t GetIndex() const { return m_index; }
  std::size_t GetNumVertices() const { return m_positions.size(); }

  const std::vector<Position>& GetVertexCoords() const { return m_positions; }
  const std::vector<Normal>& GetVertexNormals() const { return m_normals; }
  const std::vector<Color4ub>& GetVertexColors() const { return m_colors; }
  const std::vector<TexCoord>& GetVertexTexCoords() const { return m_texCoords; }
  const std::vector<float>& GetVertexQualities() const { return m_qualities; }
  // The address of position i; no range check.
  const Position* GetVertexCoord(std::size_t i) const { return m_positions.data() + i; }

  std::vector<Position>& mGetVertexCoords() {
    ++m_positionCounter;
    return m_positions;
  }
  std::vector<Normal>& mGetVertexNormals() {
    ++m_normalCounter;
    return m_normals;
  }
  std::vector<Color4ub>& mGetVertexColors() {
    ++m_colorCounter;
    return m_colors;
  }
  std::vector<TexCoord>& mGetVertexTexCoords() {
    ++m_texCoordCounter;
    return m_texCoords;
  }
  std::vector<float>& mGetVertexQualities() {
    ++m_qualityCounter;
    return m_qualities;
  }

  std::uint32_t GetVertexCoordsCounter() const { return m_positionCounter; }
  std::uint32_t GetVertexNormalsCounter() const { return m_normalCounter; }
  std::uint32_t GetVertexColorsCounter() const { return m_colorCounter; }
  std::uint32_t GetVertexTexCoordsCounter() const { return m_texCoordCounter; }
  std::uint32_t GetVertexQualitiesCounter() const { return m_qualityCounter; }

  bool HasVertexColors() const { return m_forceColors || !m_colors.empty(); }
  bool HasVertexNormals() const { return m_forceNormals || !m_normals.empty(); }
  bool HasVertexTexCoords() const { return m_forceTexCoords || !m_texCoords.empty(); }
  bool HasVertexQualities() const { return m_forceQualities || !m_qualities.empty(); }

  // Appends a position and, for each present attribute, a default element:
  // colour white, normal (0, 0, 1), texture coordinate (0, 0), quality 1.
  // Returns the new vertex's index.
  std::uint32_t AddVertex(const Position& position);
  // Reserves n elements in positions and every present attribute.
  void ReserveVertices(std::size_t n);
  std::size_t GetReserveCount() const { return m_reserveCount; }

  // Make an attribute present (nothing if it is already), filled to the
  // vertex count with: the global colour, (0, 0, 1), (0, 0) and quality 0.
  void AddVertexColors();
  void AddVertexNormals();
  void AddVertexTexCoords();
  void AddVertexQualities();
  // Free the array and clear the force flag.
  void RemoveVertexColors();
  void RemoveVertexNormals();
  void RemoveVertexTexCoords();
  void RemoveVertexQualities();

  // Throws std::out_of_range when i is not a vertex with a colour.
  void SetVertexColor(const Color4ub& color, std::size_t i);
  Color4ub GetGlobalColor() const { return m_globalColor; }
  void SetGlobalColor(const Color4ub& color) { m_globalColor = color; }

  // Frees all five arrays and sets the reserve count to 0; force flags stay,
  // so forced attributes grow again with new vertices.
  void ClearVertices();

 private:
  template <typename T>
  void AddAttribute(std::vector<T>& array, bool& force, std::uint32_t& counter, const T& fill);
  template <typename T>
  static void Free(std::vector<T>& array) {
    std::vector<T>().swap(array);
  }

  Color4ub m_globalColor{};
  std::vector<Position> m_positions;
  std::uint32_t m_positionCounter = 1;
  std::vector<Normal> m_normals;
  std::uint32_t m_normalCounter = 1;
  std::vector<Color4ub> m_colors;
  std::uint32_t m_colorCounter = 1;
  std::vector<TexCoord> m_texCoords;
  std::uint32_t m_texCoordCounter = 1;
  std::vector<float> m_qualities;
  std::uint32_t m_qualityCounter = 1;
  bool m_forceColors = false;
  bool m_forceNormals = false;
  bool m_forceTexCoords = false;
  bool m_forceQualities = false;
  std::uint32_t m_index = 0;
  std::size_t m_reserveCount = 0;
};

static_assert(sizeof(VertexBuffer::Position) == 12);
static_assert(sizeof(VertexBuffer::TexCoord) == 8);

}  // namespace v3d
