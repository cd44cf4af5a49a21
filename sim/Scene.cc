#include "sim/Scene.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace sim {

const char* ToString(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kSphere:
      return "sphere";
    case ObjectKind::kTorus:
      return "torus";
    case ObjectKind::kVase:
      return "vase";
    case ObjectKind::kBox:
      return "box";
    case ObjectKind::kBlob:
      return "blob";
    case ObjectKind::kMesh:
      return "mesh";
    case ObjectKind::kPanel:
      return "panel";
  }
  return "unknown";
}

math::Frame4d Turntable::GetMotion() const {
  // Rodrigues' rotation about the unit axis k, conjugated by the translation
  // to the centre: x ↦ c + R·(x − c).
  const math::Vec3d k = axis.GetNormalized();
  const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  math::Frame4d f;
  f(0, 0) = c + t * k[0] * k[0];
  f(0, 1) = t * k[0] * k[1] - s * k[2];
  f(0, 2) = t * k[0] * k[2] + s * k[1];
  f(1, 0) = t * k[0] * k[1] + s * k[2];
  f(1, 1) = c + t * k[1] * k[1];
  f(1, 2) = t * k[1] * k[2] - s * k[0];
  f(2, 0) = t * k[0] * k[2] - s * k[1];
  f(2, 1) = t * k[1] * k[2] + s * k[0];
  f(2, 2) = c + t * k[2] * k[2];
  f.SetTrans(centre - f.MultV(centre));
  return f;
}

int Scene::AddObject(SceneObject object) {
  const std::string problem = object.mesh.Validate();
  if (!problem.empty()) throw std::invalid_argument("sim::Scene::AddObject - " + problem + ".");
  for (int i = 0; i < 3; ++i) {
    if (!(object.albedo[i] >= 0.f && object.albedo[i] <= 1.f)) {
      throw std::invalid_argument("sim::Scene::AddObject - The albedo must lie in 0…1.");
    }
  }
  for (double value : object.world_T_object) {
    if (!std::isfinite(value)) {
      throw std::invalid_argument("sim::Scene::AddObject - The pose is not finite.");
    }
  }
  if (!object.world_T_object.IsOrthoNorm(1e-9)) {
    throw std::invalid_argument("sim::Scene::AddObject - The pose's rotation is not orthonormal.");
  }
  if (m_objects.size() >= static_cast<std::size_t>(INT32_MAX)) {
    throw std::invalid_argument("sim::Scene::AddObject - Too many objects.");
  }
  m_objects.push_back(std::move(object));
  return static_cast<int>(m_objects.size() - 1);
}

int Scene::AddMesh(TriMesh mesh, const math::Frame4d& world_T_mesh, const Albedo& albedo,
                   std::string name) {
  SceneObject object;
  object.name = std::move(name);
  object.kind = ObjectKind::kMesh;
  object.mesh = std::move(mesh);
  object.world_T_object = world_T_mesh;
  object.albedo = albedo;
  return AddObject(std::move(object));
}

int Scene::AddMesh(const v3d::Mesh& mesh, const math::Frame4d& world_T_mesh, const Albedo& albedo,
                   std::string name) {
  return AddMesh(FromV3dMesh(mesh), world_T_mesh, albedo, std::move(name));
}

int Scene::AddProcedural(ObjectKind kind, ProceduralMesh object,
                         const math::Frame4d& world_T_object, const Albedo& albedo,
                         std::string name) {
  SceneObject o;
  o.name = name.empty() ? ToString(kind) : std::move(name);
  o.kind = kind;
  o.mesh = std::move(object.mesh);
  o.tessellationError = object.tessellationError;
  o.world_T_object = world_T_object;
  o.albedo = albedo;
  o.onTurntable = kind != ObjectKind::kPanel;
  return AddObject(std::move(o));
}

int Scene::AddPanel(const PanelSpec& spec, const math::Frame4d& world_T_panel, const Albedo& albedo,
                    std::string name) {
  return AddProcedural(ObjectKind::kPanel, MakePanel(spec), world_T_panel, albedo, std::move(name));
}

int Scene::AddPrintedPanel(const PanelSpec& spec, const math::Frame4d& world_T_panel,
                           std::shared_ptr<const SurfacePrint> print, const math::Frame4d& print_T_panel,
                           std::string name) {
  if (!print) throw std::invalid_argument("sim::Scene::AddPrintedPanel - The print is null.");
  SceneObject o;
  o.name = std::move(name);
  o.kind = ObjectKind::kPanel;
  o.mesh = MakePanel(spec).mesh;
  o.world_T_object = world_T_panel;
  o.albedo = {1.0f, 1.0f, 1.0f};
  o.onTurntable = false;
  o.print = std::move(print);
  o.print_T_object = print_T_panel;
  return AddObject(std::move(o));
}

const SceneObject& Scene::GetObject(int id) const {
  if (id < 0 || static_cast<std::size_t>(id) >= m_objects.size()) {
    throw std::invalid_argument("sim::Scene::GetObject - Invalid object id.");
  }
  return m_objects[static_cast<std::size_t>(id)];
}

std::size_t Scene::GetNumTriangles() const {
  std::size_t n = 0;
  for (const SceneObject& o : m_objects) n += o.mesh.GetNumTriangles();
  return n;
}

void Scene::SetTurntable(const Turntable& turntable) {
  const double length = turntable.axis.Length();
  if (!(length > 0) || !std::isfinite(length) || !std::isfinite(turntable.angle) ||
      !std::isfinite(turntable.centre.LengthSquared())) {
    throw std::invalid_argument("sim::Scene::SetTurntable - Invalid axis, centre or angle.");
  }
  m_turntable = turntable;
  m_turntable.axis = turntable.axis / length;
}

math::Frame4d Scene::GetObjectPose(int id) const {
  const SceneObject& object = GetObject(id);
  if (!object.onTurntable) return object.world_T_object;
  return m_turntable.GetMotion() * object.world_T_object;
}

TriMesh Scene::GetWorldMesh(int id) const {
  return GetObject(id).mesh.Transformed(GetObjectPose(id));
}

}  // namespace sim
