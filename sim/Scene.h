#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "sim/Procedural.h"
#include "sim/SurfacePrint.h"
#include "sim/TriMesh.h"

namespace v3d {
class Mesh;
}

namespace sim {

enum class ObjectKind { kSphere, kTorus, kVase, kBox, kBlob, kMesh, kPanel };

// "sphere", "torus", "vase", "box", "blob", "mesh", "panel".
const char* ToString(ObjectKind kind);

// A turntable turns the objects standing on it by angle (rad, right-handed)
// about the line through centre along axis (world coordinates, mm). World
// +z is up; the default axis is vertical.
struct Turntable {
  math::Vec3d centre;
  math::Vec3d axis{0, 0, 1};
  double angle = 0;

  // world_T_world: the rotation of the turntable's top by its angle.
  math::Frame4d GetMotion() const;
};

struct SceneObject {
  std::string name;
  ObjectKind kind = ObjectKind::kMesh;
  TriMesh mesh;                     // object coordinates, mm
  math::Frame4d world_T_object;     // the pose at turntable angle 0
  Albedo albedo{0.8f, 0.8f, 0.8f};  // where the mesh has no per-vertex albedo
  bool onTurntable = true;          // background panels stand still
  double tessellationError = 0;     // distance bound mesh ↔ analytic surface, mm
  // A pattern printed on the object (its reflectance replaces the albedo),
  // and the map from object to print coordinates (print x, y = the first
  // two coordinates).
  std::shared_ptr<const SurfacePrint> print;
  math::Frame4d print_T_object;
};

// The objects of the virtual rig and its turntable; a value type. An
// object's id is its index, in the order of addition; ids never change.
// Changes take effect for ray casters built afterwards.
class Scene {
 public:
  // Throws std::invalid_argument ("sim::Scene::AddObject - text") for a
  // mesh that breaks its invariants, an albedo outside 0…1 or a frame whose
  // rotation is not orthonormal.
  int AddObject(SceneObject object);
  // A mesh placed by world_T_mesh, on the turntable.
  int AddMesh(TriMesh mesh, const math::Frame4d& world_T_mesh, const Albedo& albedo,
              std::string name = "mesh");
  int AddMesh(const v3d::Mesh& mesh, const math::Frame4d& world_T_mesh, const Albedo& albedo,
              std::string name = "mesh");
  // A procedural object on the turntable.
  int AddProcedural(ObjectKind kind, ProceduralMesh object, const math::Frame4d& world_T_object,
                    const Albedo& albedo, std::string name = {});
  // A background panel (not on the turntable).
  int AddPanel(const PanelSpec& spec, const math::Frame4d& world_T_panel, const Albedo& albedo,
               std::string name = "panel");
  // A background panel with a print on it (print_T_panel: panel to print
  // coordinates); throws std::invalid_argument for a null print.
  int AddPrintedPanel(const PanelSpec& spec, const math::Frame4d& world_T_panel,
                      std::shared_ptr<const SurfacePrint> print, const math::Frame4d& print_T_panel,
                      std::string name = "panel");

  std::size_t GetNumObjects() const { return m_objects.size(); }
  // Throws std::invalid_argument for an id out of range.
  const SceneObject& GetObject(int id) const;
  std::size_t GetNumTriangles() const;

  // Throws std::invalid_argument for a zero or non-finite axis; the axis is
  // stored normalised.
  void SetTurntable(const Turntable& turntable);
  const Turntable& GetTurntable() const { return m_turntable; }
  void SetTurntableAngle(double angle) { m_turntable.angle = angle; }

  // world_T_object with the turntable's current angle.
  math::Frame4d GetObjectPose(int id) const;
  // The object's mesh in world coordinates.
  TriMesh GetWorldMesh(int id) const;

 private:
  std::vector<SceneObject> m_objects;
  Turntable m_turntable;
};

}  // namespace sim
