#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "v3d/Mesh.h"
#include "v3d/Node.h"

namespace v3d {

// How the renderer and picking draw a surface of a given prim size.
enum class PrimitiveMode { kPoints, kLines, kTriangles, kQuads };
// 1 points, 2 lines, 3 triangles, 4 quads; any other size draws triangles.
PrimitiveMode PrimitiveModeOf(std::uint32_t primSize);

// The scene node that holds geometry: an ordered list of owned meshes, each
// a vertex buffer with one surface over it, and the bounding box of all
// their positions. Scans, fused models, markers, cameras and lights are Geos.
//
// A mesh's index never changes; meshes are only removed all at once (Clear).
// Not thread-safe; viewer data is guarded by LockGuard.
class Geo : public Renderable {
 public:
  using MeshList = std::vector<std::unique_ptr<Mesh>>;

  Geo() : Renderable("Geo") {}
  explicit Geo(std::uint32_t primSize);
  // Copies every mesh (vertex buffer, prims, name, prim size, tag, texture
  // ID; the guids are new), the node name, the box cache, the frame (its
  // counter incremented), the render flags and the visibility mask. The copy
  // is detached from any scene.
  Geo(const Geo& other);
  Geo& operator=(const Geo&) = delete;

  // The node's text, then for each mesh its colour, position, normal, prims
  // and texture-coordinate counters, each after one blank.
  std::string ToString() const override;
  // The box of all positions of all meshes in the Geo's own coordinates,
  // recomputed only when a position counter changed (or after Clear). Render
  // layers other than 2 and 3 report an invalid box with every field zero.
  BoundingBox GetBoundingBox() const override;

  // Draws the meshes through the pass's display when the pass draws this
  // Geo, with the flags (node | pass) & ~mask.
  void Render(const RenderPass& pass) override;

  // Appends a new mesh whose index is the current count and returns it.
  virtual Mesh* AddMesh(std::uint32_t primSize);
  // Deletes every mesh and resets the frame to the identity.
  virtual void Clear();

  std::size_t GetNumMeshes() const { return m_meshes.size(); }
  std::size_t GetNumSurfaces() const { return m_meshes.size(); }
  // Null for an index outside 0…count−1.
  Mesh* GetMesh(std::int64_t i) const;
  VertexBuffer* GetVertexBuffer(std::int64_t i) const;
  Surface* GetSurface(std::int64_t i) const;
  // The vertex buffer a surface refers to; null for a null surface or an
  // index out of range.
  VertexBuffer* GetVertexBuffer(const Surface* surface) const;

  MeshList::const_iterator begin() const { return m_meshes.begin(); }
  MeshList::const_iterator end() const { return m_meshes.end(); }

  // Whether a pass draws this Geo: its layer, and its visibility mask meets
  // the pass's mask.
  bool IsDrawnInPass(const RenderPass& pass) const;

 protected:
  explicit Geo(std::string name) : Renderable(std::move(name)) {}

 private:
  // Each mesh's position counter at the last box computation.
  mutable std::vector<std::uint32_t> m_seenPositionCounters;
  mutable bool m_boxStale = false;
  MeshList m_meshes;
};

}  // namespace v3d
