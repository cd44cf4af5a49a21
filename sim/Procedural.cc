#include "sim/Procedural.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>

#include "sim/ParametricSurface.h"

namespace sim {
namespace {

constexpr double kPi = std::numbers::pi;

void Require(bool condition, const char* function, const char* text) {
  if (!condition) throw std::invalid_argument(std::string("sim::") + function + " - " + text);
}

bool Positive(double x) { return x > 0 && std::isfinite(x); }

ProceduralMesh FromSurface(const ParametricSurface& surface, double resolution,
                           GridSize* gridOut = nullptr) {
  const SurfaceBounds bounds = SampleSurfaceBounds(surface);
  const GridSize grid = ChooseGridSize(bounds, surface, resolution, kMaxProceduralTriangles);
  if (gridOut) *gridOut = grid;
  ProceduralMesh result;
  result.mesh = TessellateSurface(surface, grid.nu, grid.nv);
  result.tessellationError = TessellationErrorBound(bounds, grid.nu, grid.nv);
  return result;
}

// A point of the unit sphere from grid parameters: φ = 2πu, polar angle
// θ = π(1 − v), so v runs from the south pole to the north pole and
// S_u × S_v points outward.
math::Vec3d SphereDirection(double u, double v) {
  const double phi = 2 * kPi * u, theta = kPi * (1 - v);
  return {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
}

double VaseProfile(double t) { return 0.7 + 0.3 * std::sin(2 * kPi * 0.9 * t - 0.35 * kPi); }

// A uniform double in [0, 1) from the raw 64-bit output (53 bits).
double Uniform(std::mt19937_64& rng) { return double(rng() >> 11) * 0x1.0p-53; }

}  // namespace

ProceduralMesh MakeSphere(const SphereSpec& spec, double resolution) {
  Require(Positive(spec.radius), "MakeSphere", "The radius must be positive.");
  ParametricSurface s;
  const double r = spec.radius;
  s.point = [r](double u, double v) { return SphereDirection(u, v) * r; };
  s.uPeriodic = s.poleAtV0 = s.poleAtV1 = true;
  return FromSurface(s, resolution);
}

ProceduralMesh MakeTorus(const TorusSpec& spec, double resolution) {
  Require(Positive(spec.majorRadius) && Positive(spec.minorRadius) &&
              spec.minorRadius < spec.majorRadius,
          "MakeTorus", "The radii must be positive, the minor radius below the major one.");
  ParametricSurface s;
  const double R = spec.majorRadius, r = spec.minorRadius;
  s.point = [R, r](double u, double v) {
    const double a = 2 * kPi * u, b = 2 * kPi * v, rho = R + r * std::cos(b);
    return math::Vec3d(rho * std::cos(a), rho * std::sin(a), r * std::sin(b));
  };
  s.uPeriodic = s.vPeriodic = true;
  return FromSurface(s, resolution);
}

double VaseRadius(const VaseSpec& spec, double z, double phi) {
  const double t = z / spec.height + 0.5;
  return spec.radius * VaseProfile(t) - spec.ribDepth * (1 - std::cos(spec.ribs * phi)) / 2;
}

ProceduralMesh MakeVase(const VaseSpec& spec, double resolution) {
  Require(Positive(spec.radius) && Positive(spec.height), "MakeVase",
          "Radius and height must be positive.");
  Require(spec.ribs >= 0 && spec.ribs <= 1000, "MakeVase", "The rib count must be in 0…1000.");
  // The narrowest section is 0.40·radius (the lip).
  Require(spec.ribDepth >= 0 && spec.ribDepth < 0.3 * spec.radius, "MakeVase",
          "The rib depth must be in [0, 0.3·radius).");
  ParametricSurface s;
  s.point = [spec](double u, double v) {
    const double phi = 2 * kPi * u, z = spec.height * (v - 0.5);
    const double rho = VaseRadius(spec, z, phi);
    return math::Vec3d(rho * std::cos(phi), rho * std::sin(phi), z);
  };
  s.uPeriodic = true;
  GridSize grid;
  ProceduralMesh result = FromSurface(s, resolution, &grid);

  // Flat caps over copies of the wall's first and last rows.
  TriMesh& mesh = result.mesh;
  const std::size_t rowLength = static_cast<std::size_t>(grid.nu) + 1;
  const std::size_t rows = static_cast<std::size_t>(grid.nv) + 1;
  const double texScale = 0.5 / spec.radius;
  for (int top = 0; top < 2; ++top) {
    const std::size_t row = top ? rows - 1 : 0;
    const double z = top ? spec.height / 2 : -spec.height / 2;
    const auto centre = static_cast<std::uint32_t>(mesh.positions.size());
    mesh.positions.push_back(math::Vec3f(0.f, 0.f, static_cast<float>(z)));
    mesh.texCoords.push_back(math::Vec2f(0.5f, 0.5f));
    const auto first = static_cast<std::uint32_t>(mesh.positions.size());
    for (std::size_t i = 0; i < rowLength; ++i) {
      const math::Vec3f p = mesh.positions[row * rowLength + i];
      mesh.positions.push_back(p);
      mesh.texCoords.push_back(math::Vec2f(static_cast<float>(0.5 + p[0] * texScale),
                                           static_cast<float>(0.5 + p[1] * texScale)));
    }
    for (std::uint32_t i = 0; i + 1 < rowLength; ++i) {
      if (top) {
        mesh.triangles.push_back(TriMesh::Triangle(centre, first + i, first + i + 1));
      } else {
        mesh.triangles.push_back(TriMesh::Triangle(centre, first + i + 1, first + i));
      }
    }
  }
  return result;
}

ProceduralMesh MakeChamferedBox(const BoxSpec& spec, double resolution) {
  const math::Vec3d& size = spec.size;
  Require(Positive(size[0]) && Positive(size[1]) && Positive(size[2]), "MakeChamferedBox",
          "The sides must be positive.");
  const double smallest = std::min({size[0], size[1], size[2]});
  Require(spec.chamfer > 0 && spec.chamfer < smallest / 2, "MakeChamferedBox",
          "The chamfer must be in (0, smallest side / 2).");
  Require(Positive(resolution), "MakeChamferedBox", "The resolution must be a positive length.");
  const double s = spec.chamfer;
  const math::Vec3d inner(size[0] / 2 - s, size[1] / 2 - s, size[2] / 2 - s);
  auto cells = [resolution](double length) {
    return std::max(1, static_cast<int>(std::ceil(length / resolution)));
  };
  const std::array<int, 3> axisCells = {cells(2 * inner[0]), cells(2 * inner[1]),
                                        cells(2 * inner[2])};
  const int chamferCells = cells(s * std::sqrt(2.0));
  {
    double triangles = 0;
    for (int i = 0; i < 3; ++i) {
      const int j = (i + 1) % 3, k = (i + 2) % 3;
      triangles += 2 * 2.0 * axisCells[j] * axisCells[k];  // faces
      triangles += 4 * 2.0 * axisCells[i] * chamferCells;  // edge chamfers
    }
    triangles += 8.0 * chamferCells * chamferCells;  // corners
    Require(triangles <= double(kMaxProceduralTriangles), "MakeChamferedBox",
            "The resolution gives too many triangles.");
  }

  // Every facet point is inner·d + chamfer·w over the nonzero axes of d and
  // a grid value over the zero axes, with weights computed as integer
  // ratios, so that points shared by two facets are bitwise equal.
  auto point = [&](const std::array<int, 3>& d, const std::array<double, 3>& w,
                   const std::array<double, 3>& t) {
    math::Vec3d p;
    for (int a = 0; a < 3; ++a) {
      p[a] = d[a] ? d[a] * (inner[a] + s * w[a]) : (1 - t[a]) * -inner[a] + t[a] * inner[a];
    }
    return math::Vec3f(p);
  };
  ProceduralMesh result;
  TriMesh& mesh = result.mesh;
  auto addTriangle = [&mesh](std::uint32_t a, std::uint32_t b, std::uint32_t c,
                             const math::Vec3d& outward) {
    const math::Vec3d pa(mesh.positions[a]), pb(mesh.positions[b]), pc(mesh.positions[c]);
    if (math::Dot((pb - pa) ^ (pc - pa), outward) < 0) std::swap(b, c);
    mesh.triangles.push_back(TriMesh::Triangle(a, b, c));
  };
  auto addVertex = [&mesh](const math::Vec3f& p, double s0, double t0) {
    mesh.positions.push_back(p);
    mesh.texCoords.push_back(math::Vec2f(static_cast<float>(s0), static_cast<float>(t0)));
    return static_cast<std::uint32_t>(mesh.positions.size() - 1);
  };
  // A grid facet: point(i, j) for i ≤ na, j ≤ nb.
  auto addGrid = [&](int na, int nb, const math::Vec3d& outward, auto&& at) {
    const auto base = static_cast<std::uint32_t>(mesh.positions.size());
    for (int j = 0; j <= nb; ++j) {
      for (int i = 0; i <= na; ++i) addVertex(at(i, j), double(i) / na, double(j) / nb);
    }
    auto id = [&](int i, int j) { return base + static_cast<std::uint32_t>(j * (na + 1) + i); };
    for (int j = 0; j < nb; ++j) {
      for (int i = 0; i < na; ++i) {
        addTriangle(id(i, j), id(i + 1, j), id(i + 1, j + 1), outward);
        addTriangle(id(i, j), id(i + 1, j + 1), id(i, j + 1), outward);
      }
    }
  };
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dz = -1; dz <= 1; ++dz) {
        const std::array<int, 3> d = {dx, dy, dz};
        const int k = std::abs(dx) + std::abs(dy) + std::abs(dz);
        if (k == 0) continue;
        const math::Vec3d outward(dx, dy, dz);
        std::array<int, 3> nonzero{}, zero{};
        int nn = 0, nz = 0;
        for (int a = 0; a < 3; ++a) (d[a] ? nonzero[nn++] : zero[nz++]) = a;
        if (k == 1) {
          const int a = zero[0], b = zero[1], n = nonzero[0];
          addGrid(axisCells[a], axisCells[b], outward, [&](int i, int j) {
            std::array<double, 3> w{}, t{};
            w[n] = 1;
            t[a] = double(i) / axisCells[a];
            t[b] = double(j) / axisCells[b];
            return point(d, w, t);
          });
        } else if (k == 2) {
          const int a = zero[0], n0 = nonzero[0], n1 = nonzero[1], m = chamferCells;
          addGrid(m, axisCells[a], outward, [&](int i, int j) {
            std::array<double, 3> w{}, t{};
            w[n0] = double(m - i) / m;
            w[n1] = double(i) / m;
            t[a] = double(j) / axisCells[a];
            return point(d, w, t);
          });
        } else {
          // The corner triangle, subdivided into m² triangles.
          const int m = chamferCells;
          std::vector<std::uint32_t> ids;
          auto id = [m](int i, int j) { return j * (m + 1) - j * (j - 1) / 2 + i; };
          for (int j = 0; j <= m; ++j) {
            for (int i = 0; i + j <= m; ++i) {
              const std::array<double, 3> w = {double(i) / m, double(j) / m, double(m - i - j) / m};
              ids.push_back(addVertex(point(d, w, {}), w[0], w[1]));
            }
          }
          for (int j = 0; j < m; ++j) {
            for (int i = 0; i + j < m; ++i) {
              addTriangle(ids[id(i, j)], ids[id(i + 1, j)], ids[id(i, j + 1)], outward);
              if (i + j + 1 < m) {
                addTriangle(ids[id(i + 1, j)], ids[id(i + 1, j + 1)], ids[id(i, j + 1)], outward);
              }
            }
          }
        }
      }
    }
  }
  return result;
}

BlobShape::BlobShape(const BlobSpec& spec) : m_radius(spec.radius) {
  std::mt19937_64 rng(spec.seed);
  m_bumps.resize(static_cast<std::size_t>(std::max(spec.bumps, 0)));
  for (Bump& bump : m_bumps) {
    const double z = 2 * Uniform(rng) - 1, phi = 2 * kPi * Uniform(rng);
    const double rxy = std::sqrt(std::max(0.0, 1 - z * z));
    bump.centre = math::Vec3d(rxy * std::cos(phi), rxy * std::sin(phi), z);
    const double h = 2 * Uniform(rng) - 1;
    bump.height = std::copysign(spec.bumpHeight * (1.0 + 2.0 * std::abs(h)) / 3.0, h);
    bump.width = spec.minBumpWidth + (spec.maxBumpWidth - spec.minBumpWidth) * Uniform(rng);
  }
}

double BlobShape::Radius(const math::Vec3d& dir) const {
  double sum = 0;
  for (const Bump& bump : m_bumps) {
    const double angle = std::acos(std::clamp(math::Dot(dir, bump.centre), -1.0, 1.0));
    sum += bump.height * std::exp(-angle * angle / (2 * bump.width * bump.width));
  }
  return m_radius * std::exp(sum);
}

ProceduralMesh MakeBlob(const BlobSpec& spec, double resolution) {
  Require(Positive(spec.radius), "MakeBlob", "The radius must be positive.");
  Require(spec.bumps >= 0 && spec.bumps <= 1000, "MakeBlob", "The bump count must be in 0…1000.");
  Require(spec.bumpHeight >= 0 && spec.bumpHeight <= 0.5, "MakeBlob",
          "The bump height must be in [0, 0.5].");
  Require(Positive(spec.minBumpWidth) && spec.minBumpWidth <= spec.maxBumpWidth && spec.maxBumpWidth <= kPi,
          "MakeBlob", "The bump widths must satisfy 0 < min ≤ max ≤ π.");
  ParametricSurface s;
  auto shape = std::make_shared<const BlobShape>(spec);
  s.point = [shape](double u, double v) {
    const math::Vec3d d = SphereDirection(u, v);
    return d * shape->Radius(d);
  };
  s.uPeriodic = s.poleAtV0 = s.poleAtV1 = true;
  return FromSurface(s, resolution);
}

ProceduralMesh MakePanel(const PanelSpec& spec) {
  Require(Positive(spec.width) && Positive(spec.height), "MakePanel",
          "Width and height must be positive.");
  ProceduralMesh result;
  const auto w = static_cast<float>(spec.width / 2), h = static_cast<float>(spec.height / 2);
  result.mesh.positions = {{-w, -h, 0.f}, {w, -h, 0.f}, {w, h, 0.f}, {-w, h, 0.f}};
  result.mesh.texCoords = {{0.f, 1.f}, {1.f, 1.f}, {1.f, 0.f}, {0.f, 0.f}};
  result.mesh.triangles = {{0u, 1u, 2u}, {0u, 2u, 3u}};
  return result;
}

}  // namespace sim
