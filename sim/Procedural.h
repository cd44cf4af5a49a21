#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Vec.h"
#include "sim/TriMesh.h"

namespace sim {

// Objects with known geometry for the virtual rig. Each is built in its own
// coordinates: origin at the object's centre, z along its axis (the axis of
// revolution of torus and vase). Lengths in mm. The resolution is the
// largest grid step along the surface, in mm; texture coordinates follow
// the surface parameters.

struct SphereSpec {
  double radius = 50;
};

struct TorusSpec {
  double majorRadius = 40;  // centre to the tube's centre circle
  double minorRadius = 15;  // tube radius, less than majorRadius
};

// A closed solid of revolution from z = −height/2 to +height/2 with flat
// caps: radius(z, φ) = radius·f(t) − ribDepth·(1 − cos(ribs·φ))/2 with
// t = z/height + 1/2 and the profile f(t) = 0.7 + 0.3·sin(2π·0.9·t − 0.35π)
// (foot 0.43, belly 1.0 near t = 0.47, lip 0.40).
struct VaseSpec {
  double radius = 40;  // the belly's radius on a rib
  double height = 120;
  int ribs = 16;
  double ribDepth = 1.5;  // groove depth between ribs
};

// A box with every edge cut at 45° and every corner cut by a triangle: the
// Minkowski sum of a box of size − 2·chamfer with the octahedron
// |x| + |y| + |z| ≤ chamfer, so its faces lie on the planes
// d·p = Σ over d's nonzero components of size/2 − (k − 1)·chamfer for the
// 26 directions d in {−1, 0, 1}³ with k nonzero components.
struct BoxSpec {
  math::Vec3d size{80, 60, 40};
  double chamfer = 5;  // less than half the smallest side
};

// A sphere displaced along its radius by seeded Gaussian bumps:
// r(d) = radius·exp(Σ_k a_k·exp(−θ_k² / (2·w_k²))) with θ_k the angle
// between the direction d and the bump centre c_k. Centres are uniform on
// the sphere; heights a_k have a random sign and a magnitude uniform in
// [bumpHeight/3, bumpHeight] (relative to the radius); widths w_k are
// uniform in [minBumpWidth, maxBumpWidth] (rad). All are drawn from a 64-bit
// Mersenne twister seeded with seed through its raw output only, so that a
// seed gives the same blob on every platform. The surface is star-shaped
// about the centre and smooth.
//
// The defaults make a test object for alignment: bumps narrow and high
// enough that any patch a view sees (a third of the sphere or more) holds
// several of them and is clearly no sphere, so that no turn of a patch
// about the centre fits as well as the true pose. Its largest radius stays
// below 1.5·radius (60 mm), inside the default rig's view.
struct BlobSpec {
  double radius = 40;
  int bumps = 24;
  double bumpHeight = 0.16;
  std::uint64_t seed = 1;
  double minBumpWidth = 0.15;
  double maxBumpWidth = 0.3;
};

// A flat rectangle in its x-y plane, centred, normal +z.
struct PanelSpec {
  double width = 400;
  double height = 300;
};

// A tessellated object and the bound on the distance between its triangles
// and its analytic surface (mm; 0 for polyhedra).
struct ProceduralMesh {
  TriMesh mesh;
  double tessellationError = 0;
};

// Each throws std::invalid_argument ("sim::MakeX - text") for sizes that do
// not describe the object or a resolution that would exceed
// kMaxProceduralTriangles.
ProceduralMesh MakeSphere(const SphereSpec& spec, double resolution);
ProceduralMesh MakeTorus(const TorusSpec& spec, double resolution);
ProceduralMesh MakeVase(const VaseSpec& spec, double resolution);
ProceduralMesh MakeChamferedBox(const BoxSpec& spec, double resolution);
ProceduralMesh MakeBlob(const BlobSpec& spec, double resolution);
ProceduralMesh MakePanel(const PanelSpec& spec);

// The analytic surfaces behind vase and blob.
double VaseRadius(const VaseSpec& spec, double z, double phi);

class BlobShape {
 public:
  struct Bump {
    math::Vec3d centre;  // unit vector
    double height = 0;   // relative to the radius
    double width = 0;    // rad
  };

  explicit BlobShape(const BlobSpec& spec);
  // The surface's distance from the centre in the unit direction dir.
  double Radius(const math::Vec3d& dir) const;
  const std::vector<Bump>& GetBumps() const { return m_bumps; }

 private:
  double m_radius;
  std::vector<Bump> m_bumps;
};

}  // namespace sim
