#include "apps/tarvelin-studio/ScanPreview.h"

#include <exception>

#include "shell/ScanWorkflow.h"
#include "surf/mesh/MeshTools.h"
#include "v3d/Geo.h"
#include "v3d/GeoTools.h"
#include "v3d/LockGuard.h"
#include "v3d/Scene.h"

namespace studio {

bool ScanPreview::Update(shell::ScanWorkflow& workflow, v3d::Scene& scene, bool available) {
  if (!available) {
    m_made = false;
    if (m_geos.empty()) return false;
    v3d::LockGuard lock;
    for (const auto& geo : m_geos) scene.RemoveNode(geo.get());
    m_geos.clear();
    return true;
  }
  if (m_made || workflow.GetState() != shell::ScanWorkflow::State::kConverted) return false;
  m_made = true;
  for (int surface : workflow.SelectedSurfaces()) {
    shell::ResultMesh mesh;
    if (!workflow.CreateResultMesh(surface, mesh)) continue;
    std::shared_ptr<v3d::Geo> geo = surf::MeshToGeo(mesh.vertices, mesh.indices, {}, false);
    if (!geo) continue;
    v3d::CalcVertexNormals(*geo);
    v3d::LockGuard lock;
    try {
      if (scene.AddNode(geo.get())) m_geos.push_back(std::move(geo));
    } catch (const std::exception&) {  // the scene's node table is full: the list still works
    }
  }
  return !m_geos.empty();
}

}  // namespace studio
