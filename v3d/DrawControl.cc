#include "v3d/DrawControl.h"

#include "v3d/Navigation.h"
#include "v3d/Scene.h"

namespace v3d {
namespace {

void AddLine(Mesh& mesh, const math::Vec3d& a, const math::Vec3d& b, const Color4ub& color) {
  const std::uint32_t i = mesh.AddVertex(math::Vec3f(a));
  mesh.AddVertex(math::Vec3f(b));
  mesh.SetVertexColor(color, i);
  mesh.SetVertexColor(color, i + 1);
  mesh.AddPrim(i, i + 1);
}

}  // namespace

DrawControl::DrawControl(Scene& scene) : m_scene(scene) {
  auto canvas = std::make_unique<Canvas>();
  canvas->SetName("DefaultForegroundCanvas");
  m_scene.AddNode(canvas.get(), nullptr, true);
  m_canvas = canvas.release();
  auto geo = std::make_unique<Geo>();
  geo->SetName("DefaultGeo");
  geo->SetRenderLayer(kLayerMarkers);
  geo->SetRenderFlags(kRenderFlagNoLighting);
  m_scene.AddNode(geo.get(), nullptr, true);
  m_geo = geo.release();
}

void DrawControl::UpdateMarkers(const ViewState& view) {
  if (m_geo->GetNumMeshes() == 0 && !m_showBox && !m_showOrbit) return;
  m_geo->Clear();
  Mesh* mesh = m_geo->AddMesh(2);
  mesh->AddVertexColors();
  math::Vec3d low, high;
  if (m_showBox && ComputeSceneBounds(m_scene, low, high)) {
    auto corner = [&](int c) {
      return math::Vec3d(c & 1 ? high[0] : low[0], c & 2 ? high[1] : low[1], c & 4 ? high[2] : low[2]);
    };
    for (int c = 0; c < 8; ++c) {
      for (int bit : {1, 2, 4}) {
        if (!(c & bit)) AddLine(*mesh, corner(c), corner(c | bit), m_boxColor);
      }
    }
  }
  const Camera* camera = m_scene.GetActiveCamera();
  if (m_showOrbit && camera && view.focalPixels > 0.0) {
    const math::Vec3d centre(camera->GetOrbitCenter());
    double depth = view.camera_T_world.MultP(centre)[2];
    if (view.perspective && !(depth > 0.0)) return;
    const double half = 20.0 * (view.perspective ? depth : 1.0) / view.focalPixels;
    for (int axis = 0; axis < 3; ++axis) {
      math::Vec3d d;
      d[axis] = half;
      AddLine(*mesh, centre - d, centre + d, m_orbitColor);
    }
  }
}

}  // namespace v3d
