#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "v3d/Geo.h"

// Synthetic scans of analytic surfaces with known poses, for the alignment
// tests and benchmarks.
namespace surf::testing {

// A surface made of patches over the parameter square (u, v) ∈ [0, 1]².
class AnalyticSurface {
 public:
  virtual ~AnalyticSurface() = default;
  virtual int GetNumPatches() const { return 1; }
  // Whether u wraps around (the grid then closes in u).
  virtual bool IsPeriodicU() const { return false; }
  // Grid points of a patch for about `around` samples around the object.
  virtual void GridSize(int around, int& nu, int& nv) const = 0;
  virtual math::Vec3d Point(int patch, double u, double v) const = 0;
  // A direction the outward normal at p has a positive component along.
  virtual math::Vec3d OutwardHint(const math::Vec3d& p) const = 0;
  // Outward unit normal by central differences.
  math::Vec3d Normal(int patch, double u, double v) const;
};

// A sphere of the given radius (mm) about the origin, displaced by seeded
// Gaussian bumps and dents on its directions: no symmetry. Six patches, the
// faces of a cube projected onto the sphere at equal angles, so that the
// samples are spread evenly.
class LumpyBlob : public AnalyticSurface {
 public:
  LumpyBlob(double radius, int bumps, std::uint64_t seed);
  int GetNumPatches() const override { return 6; }
  void GridSize(int around, int& nu, int& nv) const override { nu = nv = std::max(2, around / 4 + 1); }
  math::Vec3d Point(int patch, double u, double v) const override;
  math::Vec3d OutwardHint(const math::Vec3d& p) const override { return p; }
  // The surface point in direction d (not necessarily unit).
  math::Vec3d PointInDirection(const math::Vec3d& d) const;

 private:
  double m_radius;
  std::vector<math::Vec3d> m_centres;
  std::vector<double> m_amplitudes;
  std::vector<double> m_widths;
};

// A surface of revolution about the z axis: height h, a bulging profile of
// mean radius r with horizontal ribs (amplitude ribDepth, period
// ribPeriod). Open at top and bottom. u is the angle about z, v the height.
class RibbedVase : public AnalyticSurface {
 public:
  RibbedVase(double height = 80.0, double radius = 25.0, double ribDepth = 1.5, double ribPeriod = 8.0);
  bool IsPeriodicU() const override { return true; }
  void GridSize(int around, int& nu, int& nv) const override;
  math::Vec3d Point(int patch, double u, double v) const override;
  math::Vec3d OutwardHint(const math::Vec3d& p) const override { return {p[0], p[1], 0.0}; }

 private:
  double m_height, m_radius, m_ribDepth, m_ribPeriod;
};

struct ScanSpec {
  // Samples around the object (the grid density).
  int samplesAround = 300;
  // scanner_T_object: where the object stands when scanned.
  math::Frame4d objectPose;
  // Unit direction from the object towards the scanner, scanner coordinates.
  math::Vec3d viewDirection{1.0, 0.0, 0.3};
  // A vertex is seen when its normal's cosine with the view direction
  // exceeds this.
  double minCosine = 0.15;
  // Gaussian noise (mm) added along the true normal.
  double noiseSigma = 0.0;
  std::uint64_t noiseSeed = 1;
};

// One scan in scanner coordinates: the grid vertices that face the scanner,
// the triangles of grid cells whose four corners are seen, positions with
// noise, normals computed from the noisy triangles (as a scan's are).
std::unique_ptr<v3d::Geo> MakeScan(const AnalyticSurface& surface, const ScanSpec& spec);

// Scans of a surface on a turntable seen by a fixed scanner: view k shows
// the object turned by k × step about the axis through point (scanner
// coordinates); truth[k] is that turntable pose, so view i's local
// coordinates map into view j's by truth[j]·truth[i]⁻¹. Each view gets its
// own noise seed (spec.noiseSeed + k).
struct TurntableScans {
  std::vector<std::unique_ptr<v3d::Geo>> scans;
  std::vector<math::Frame4d> truth;
};
TurntableScans MakeTurntableScans(const AnalyticSurface& surface, ScanSpec spec, int views, double stepRadians,
                                  const math::Vec3d& axis, const math::Vec3d& point);

// Rotation by angle (radians) about the unit axis through point.
math::Frame4d TurntablePose(const math::Vec3d& axis, const math::Vec3d& point, double angle);

// RMS of |a·p − b·p| over the positions of all meshes of geo (mm).
double RmsDisplacement(const v3d::Geo& geo, const math::Frame4d& a, const math::Frame4d& b);
// The rotation angle of a⁻¹·b in degrees.
double AngleDegrees(const math::Frame4d& a, const math::Frame4d& b);

}  // namespace surf::testing
