#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace v3d {

// The primitives of one mesh: a flat list of 32-bit vertex indices into the
// vertex buffer with index GetVertexBufferIndex() of the owning Geo, prim
// size indices per primitive (1 points, 2 lines, 3 triangles, 4 quads).
// The index list has a change counter (starting at 1) that every mutation,
// and every call of mGetPrims(), increments.
class Surface {
 public:
  Surface(std::int32_t surfaceIndex, std::int32_t vertexBufferIndex, std::uint32_t primSize)
      : m_primSize(primSize), m_vertexBufferIndex(vertexBufferIndex), m_surfaceIndex(surfaceIndex) {}
  virtual ~Surface() = default;
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  std::uint32_t GetPrimSize() const { return m_primSize; }
  void SetPrimSize(std::uint32_t primSize) { m_primSize = primSize; }
  std::int32_t GetVertexBufferIndex() const { return m_vertexBufferIndex; }
  std::int32_t GetSurfaceIndex() const { return m_surfaceIndex; }

  // Reserves n primitives (n · prim size indices).
  void ReservePrims(std::size_t n) { m_prims.reserve(n * m_primSize); }
  // Append the indices of one primitive and return the index of the last
  // primitive, (index count / prim size) − 1. The number of indices is not
  // checked against the prim size.
  std::int64_t AddPrim(std::uint32_t a);
  std::int64_t AddPrim(std::uint32_t a, std::uint32_t b);
  std::int64_t AddPrim(std::uint32_t a, std::uint32_t b, std::uint32_t c);
  std::int64_t AddPrim(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);

  // (index count) / (prim size), 0 for a prim size of 0.
  std::size_t GetNumPrims() const { return m_primSize ? m_prims.size() / m_primSize : 0; }
  const std::vector<std::uint32_t>& GetPrims() const { return m_prims; }
  std::vector<std::uint32_t>& mGetPrims() {
    ++m_primsCounter;
    return m_prims;
  }
  std::uint32_t GetPrimsCounter() const { return m_primsCounter; }
  void ClearPrims();

  const std::string& GetName() const { return m_name; }
  void SetName(const std::string& name) { m_name = name; }

  // -1 means no texture; other values name a texture slot of the scene.
  std::int32_t GetTextureID() const { return m_textureID; }
  // Any negative ID is stored as -1.
  void SetTextureID(std::int32_t id) { m_textureID = id < 0 ? -1 : id; }

  // An application tag that starts at -1 and travels with copies of the
  // surface; the viewer never interprets it.
  std::int32_t GetTag() const { return m_tag; }
  void SetTag(std::int32_t tag) { m_tag = tag; }

 private:
  std::int64_t LastPrim() const;

  std::vector<std::uint32_t> m_prims;
  std::uint32_t m_primsCounter = 1;
  std::string m_name;
  std::uint32_t m_primSize = 3;
  std::int32_t m_vertexBufferIndex = 0;
  std::int32_t m_surfaceIndex = 0;
  std::int32_t m_tag = -1;
  std::int32_t m_textureID = -1;
};

}  // namespace v3d
