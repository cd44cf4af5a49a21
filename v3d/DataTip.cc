#include "v3d/DataTip.h"

#include <cmath>

#include "v3d/Display.h"
#include "v3d/ViewState.h"

namespace v3d {

DataTip::DataTip() : Geo("DataTip") {
  SetRenderLayer(kLayerMarkers);
  Mesh* mesh = AddMesh(3);
  mesh->SetGlobalColor({255, 210, 0, 255});
  const math::Vec3f corners[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (const auto& corner : corners) mesh->AddVertex(corner);
  const std::uint32_t faces[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                                     {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  for (const auto& f : faces) mesh->AddPrim(f[0], f[1], f[2]);
  mesh->AddVertexNormals();
  auto& normals = mesh->mGetVertexNormals();
  for (std::size_t i = 0; i < 6; ++i) normals[i] = corners[i];
}

void DataTip::SetPosition(const math::Vec3f& position) {
  m_position = position;
  math::Frame4d frame = GetFrame();
  frame.SetTrans(math::Vec3d(position));
  SetFrame(frame);
}

double DataTip::ScaleForDepth(double depth, double projectionFactor) {
  if (!(projectionFactor > 0.0) || !std::isfinite(depth)) return 1.0;
  return std::abs(depth) * kRadiusPixels / projectionFactor;
}

void DataTip::Render(const RenderPass& pass) {
  if (!pass.display || !IsDrawnInPass(pass)) return;
  double scale = 1.0;
  if (pass.view) {
    const double depth = pass.view->perspective ? pass.camera_T_node.GetTrans()[2] : 1.0;
    scale = ScaleForDepth(depth, pass.view->focalPixels);
  }
  pass.display->DrawGeo(*this, {GetEffectiveRenderFlags(pass.flags), static_cast<float>(scale)});
}

}  // namespace v3d
