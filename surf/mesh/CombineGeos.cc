#include "surf/mesh/CombineGeos.h"

#include "foundation/utils/Exception.h"

namespace surf {
namespace {

math::Frame4d TargetTSource(const v3d::Geo& target, const v3d::Geo& source) {
  return target.GetFrame().GetInverse() * source.GetFrame();
}

// Appends the source mesh's vertices (and texture coordinates when the
// target buffer has them) and its primitives, offset.
void AppendMesh(v3d::Mesh& to, const v3d::Mesh& from, const math::Frame4d& transform) {
  const std::uint32_t offset = static_cast<std::uint32_t>(to.GetNumVertices());
  const auto& positions = from.GetVertexCoords();
  const bool texCoords = to.HasVertexTexCoords();
  const bool sourceTexCoords = from.GetVertexTexCoords().size() == positions.size();
  to.ReserveVertices(offset + positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const std::uint32_t v = to.AddVertex(math::Vec3f(transform.MultP(math::Vec3d(positions[i]))));
    if (texCoords && sourceTexCoords) to.mGetVertexTexCoords()[v] = from.GetVertexTexCoords()[i];
  }
  std::vector<std::uint32_t>& prims = to.mGetPrims();
  prims.reserve(prims.size() + from.GetPrims().size());
  for (std::uint32_t index : from.GetPrims()) prims.push_back(index + offset);
}

}  // namespace

bool CombineGeos_SingleSurface(v3d::Geo& target, const v3d::Geo& source, std::int64_t surfaceIndex,
                               bool keepTextureCoordinates) {
  const v3d::Mesh* from = source.GetMesh(surfaceIndex);
  if (!from) return false;
  v3d::Mesh* to = target.GetNumMeshes() > 0 ? target.GetMesh(0) : target.AddMesh(3);
  if (!to) throw utils::Exception("CombineGeos_SingleSurface", "Could not get or create mesh.");
  if (!keepTextureCoordinates) {
    to->RemoveVertexTexCoords();
  } else if (from->HasVertexTexCoords()) {
    to->AddVertexTexCoords();
  }
  AppendMesh(*to, *from, TargetTSource(target, source));
  return true;
}

bool CombineGeos_MultipleToSingleSurface(v3d::Geo& target, const v3d::Geo& source, bool keepTextureCoordinates) {
  bool all = true;
  for (std::size_t s = 0; s < source.GetNumMeshes(); ++s) {
    all = CombineGeos_SingleSurface(target, source, std::int64_t(s), keepTextureCoordinates) && all;
  }
  return all;
}

bool CombineGeos_MultipleSurfaces(v3d::Geo& target, const v3d::Geo& source) {
  const math::Frame4d transform = TargetTSource(target, source);
  for (const auto& from : source) {
    v3d::Mesh* to = target.AddMesh(from->GetPrimSize());
    if (!to) throw utils::Exception("CombineGeos_MultipleSurfaces", "Could not create mesh.");
    if (from->HasVertexTexCoords()) to->AddVertexTexCoords();
    AppendMesh(*to, *from, transform);
  }
  return true;
}

}  // namespace surf
