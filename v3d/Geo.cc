#include "v3d/Geo.h"

#include "v3d/Display.h"

namespace v3d {

PrimitiveMode PrimitiveModeOf(std::uint32_t primSize) {
  switch (primSize) {
    case 1:
      return PrimitiveMode::kPoints;
    case 2:
      return PrimitiveMode::kLines;
    case 4:
      return PrimitiveMode::kQuads;
    default:
      return PrimitiveMode::kTriangles;
  }
}

Geo::Geo(std::uint32_t primSize) : Geo() { AddMesh(primSize); }

Geo::Geo(const Geo& other) : Geo() {
  Clear();
  for (const auto& source : other.m_meshes) AddMesh(source->GetPrimSize());
  for (std::size_t i = 0; i < m_meshes.size(); ++i) {
    const Mesh& source = *other.m_meshes[i];
    Mesh& target = *m_meshes[i];
    target.GetVertexBuffer() = source.GetVertexBuffer();
    target.mGetPrims() = source.GetPrims();
    target.Surface::SetName(source.Surface::GetName());
    target.SetPrimSize(source.GetPrimSize());
    target.SetTag(source.GetTag());
    target.SetTextureID(source.GetTextureID());
  }
  SetName(other.GetName());
  SetCachedBoundingBox(other.GetCachedBoundingBox());
  SetFrame(other.GetFrame());
  SetRenderFlags(other.GetRenderFlags());
  SetRenderFlagMask(other.GetRenderFlagMask());
  SetVisibility(other.GetVisibility());
  SetRenderLayer(other.GetRenderLayer());
}

std::string Geo::ToString() const {
  std::string text = Node::ToString();
  for (const auto& mesh : m_meshes) {
    for (std::uint32_t counter :
         {mesh->GetVertexColorsCounter(), mesh->GetVertexCoordsCounter(),
          mesh->GetVertexNormalsCounter(), mesh->GetPrimsCounter(),
          mesh->GetVertexTexCoordsCounter()}) {
      text += ' ';
      text += std::to_string(counter);
    }
  }
  return text;
}

namespace {

// Per axis: below the minimum replaces the minimum, otherwise above the
// maximum replaces the maximum. The positions are walked as a flat float
// array four vertices (12 floats) at a time, lane k holding axis k % 3, so
// that the loop vectorises.
void ExtendBox(const std::vector<VertexBuffer::Position>& positions, math::Vec3f& min,
               math::Vec3f& max) {
  constexpr std::size_t kLanes = 12;
  float lo[kLanes], hi[kLanes];
  for (std::size_t k = 0; k < kLanes; ++k) lo[k] = min[k % 3], hi[k] = max[k % 3];
  const float* p = positions.empty() ? nullptr : positions.front().data();
  const std::size_t n = positions.size() * 3;
  const std::size_t blocked = n - n % kLanes;
  for (std::size_t i = 0; i < blocked; i += kLanes) {
    for (std::size_t k = 0; k < kLanes; ++k) {
      const float v = p[i + k];
      lo[k] = v < lo[k] ? v : lo[k];
      hi[k] = v > hi[k] ? v : hi[k];
    }
  }
  for (std::size_t i = blocked; i < n; ++i) {
    const float v = p[i];
    lo[i % 3] = v < lo[i % 3] ? v : lo[i % 3];
    hi[i % 3] = v > hi[i % 3] ? v : hi[i % 3];
  }
  for (std::size_t k = 3; k < kLanes; ++k) {
    lo[k % 3] = lo[k] < lo[k % 3] ? lo[k] : lo[k % 3];
    hi[k % 3] = hi[k] > hi[k % 3] ? hi[k] : hi[k % 3];
  }
  min = math::Vec3f(lo[0], lo[1], lo[2]);
  max = math::Vec3f(hi[0], hi[1], hi[2]);
}

}  // namespace

BoundingBox Geo::GetBoundingBox() const {
  const std::int32_t layer = GetRenderLayer();
  if (layer != 2 && layer != 3) return BoundingBox();

  bool changed = m_boxStale;
  for (std::size_t i = 0; i < m_meshes.size(); ++i) {
    const std::uint32_t counter = m_meshes[i]->GetVertexCoordsCounter();
    if (counter != m_seenPositionCounters[i]) {
      m_seenPositionCounters[i] = counter;
      changed = true;
    }
  }
  if (!changed) return GetCachedBoundingBox();

  m_boxStale = false;
  math::Vec3f min, max;
  if (!m_meshes.empty() && m_meshes.front()->GetNumVertices() > 0) {
    min = max = m_meshes.front()->GetVertexCoords().front();
  }
  for (const auto& mesh : m_meshes) ExtendBox(mesh->GetVertexCoords(), min, max);
  SetCachedBoundingBox(BoundingBox::FromMinMax(min, max));
  return GetCachedBoundingBox();
}

Mesh* Geo::AddMesh(std::uint32_t primSize) {
  m_meshes.push_back(std::make_unique<Mesh>(static_cast<std::uint32_t>(m_meshes.size()), primSize));
  m_seenPositionCounters.push_back(1);
  return m_meshes.back().get();
}

void Geo::Clear() {
  ResetFrame();
  m_meshes.clear();
  m_seenPositionCounters.clear();
  m_boxStale = true;
}

Mesh* Geo::GetMesh(std::int64_t i) const {
  if (i < 0 || i >= static_cast<std::int64_t>(m_meshes.size())) return nullptr;
  return m_meshes[static_cast<std::size_t>(i)].get();
}

VertexBuffer* Geo::GetVertexBuffer(std::int64_t i) const {
  Mesh* mesh = GetMesh(i);
  return mesh ? &mesh->GetVertexBuffer() : nullptr;
}

Surface* Geo::GetSurface(std::int64_t i) const {
  Mesh* mesh = GetMesh(i);
  return mesh ? &mesh->GetSurface() : nullptr;
}

VertexBuffer* Geo::GetVertexBuffer(const Surface* surface) const {
  return surface ? GetVertexBuffer(surface->GetVertexBufferIndex()) : nullptr;
}

void Geo::Render(const RenderPass& pass) {
  if (!pass.display || !IsDrawnInPass(pass)) return;
  pass.display->DrawGeo(*this, {GetEffectiveRenderFlags(pass.flags), 1.f});
}

bool Geo::IsDrawnInPass(const RenderPass& pass) const {
  return GetRenderLayer() == pass.layer && (GetVisibility() & pass.visibilityMask) != 0;
}

}  // namespace v3d
