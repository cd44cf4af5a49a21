#include "sim/Procedural.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <tuple>

#include "sim/ParametricSurface.h"

namespace sim {
namespace {

constexpr double kPi = std::numbers::pi;
using Key = std::tuple<float, float, float>;
Key KeyOf(const math::Vec3f& p) { return {p[0], p[1], p[2]}; }

math::Vec3d Corner(const TriMesh& mesh, std::size_t t, int k) {
  return math::Vec3d(mesh.positions[mesh.triangles[t][k]]);
}

// Signed volume by the divergence theorem; positive for outward normals.
double Volume(const TriMesh& mesh) {
  double v = 0;
  for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
    v += math::Dot(Corner(mesh, t, 0), Corner(mesh, t, 1) ^ Corner(mesh, t, 2)) / 6;
  }
  return v;
}

// A closed, consistently wound surface: each directed edge (by vertex
// position, since seams and poles duplicate vertices) occurs exactly once
// and its reverse exactly once.
void ExpectClosedAndOriented(const TriMesh& mesh) {
  std::map<std::pair<Key, Key>, int> edges;
  for (const TriMesh::Triangle& t : mesh.triangles) {
    for (int k = 0; k < 3; ++k) {
      ++edges[{KeyOf(mesh.positions[t[k]]), KeyOf(mesh.positions[t[(k + 1) % 3]])}];
    }
  }
  int bad = 0;
  for (const auto& [edge, count] : edges) {
    const auto reverse = edges.find({edge.second, edge.first});
    if (count != 1 || reverse == edges.end() || reverse->second != 1) ++bad;
  }
  EXPECT_EQ(bad, 0) << "of " << edges.size() << " directed edges";
}

// Points spread over every triangle (vertices, edge midpoints, centroid
// and the points at barycentric (1/6, 1/6, 2/3) and its rotations).
template <typename F>
void ForSamplePoints(const TriMesh& mesh, F&& f) {
  static const double w[][3] = {{1, 0, 0},
                                {0.5, 0.5, 0},
                                {0, 0.5, 0.5},
                                {0.5, 0, 0.5},
                                {1. / 3, 1. / 3, 1. / 3},
                                {1. / 6, 1. / 6, 2. / 3},
                                {2. / 3, 1. / 6, 1. / 6},
                                {1. / 6, 2. / 3, 1. / 6}};
  for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
    for (const auto& b : w) {
      f(Corner(mesh, t, 0) * b[0] + Corner(mesh, t, 1) * b[1] + Corner(mesh, t, 2) * b[2]);
    }
  }
}

double TorusDistance(const math::Vec3d& p, double R, double r) {
  const double q = std::hypot(p[0], p[1]) - R;
  return std::hypot(q, p[2]) - r;
}

TEST(SurfaceBounds, SphereDerivativesMatchClosedForm) {
  // S(u, v) = R·(sin θ cos φ, sin θ sin φ, cos θ), φ = 2πu, θ = π(1 − v).
  const double R = 30;
  ParametricSurface s;
  s.point = [R](double u, double v) {
    const double phi = 2 * kPi * u, theta = kPi * (1 - v);
    return math::Vec3d(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                       std::cos(theta)) *
           R;
  };
  s.uPeriodic = s.poleAtV0 = s.poleAtV1 = true;
  const SurfaceBounds b = SampleSurfaceBounds(s);
  EXPECT_NEAR(b.lengthU, 2 * kPi * R, 1e-3 * R);
  EXPECT_NEAR(b.lengthV, kPi * R, 1e-3 * R);
  EXPECT_NEAR(b.maxUU, 4 * kPi * kPi * R, 1e-2 * R);
  EXPECT_NEAR(b.maxVV, kPi * kPi * R, 1e-2 * R);
  EXPECT_NEAR(b.maxUV, 2 * kPi * kPi * R, 1e-2 * R);  // |S_φθ| = R·|cos θ|
}

TEST(Procedural, SphereLiesWithinItsTessellationBound) {
  const double R = 50;
  const ProceduralMesh sphere = MakeSphere({R}, 4.0);
  // Grid steps of at most 4 mm along the equator and the meridians.
  const double cells = std::ceil(2 * kPi * R / 4.0);
  EXPECT_GE(sphere.mesh.GetNumTriangles(), cells * std::ceil(kPi * R / 4.0) * 2 - 2 * cells);
  for (const math::Vec3f& p : sphere.mesh.positions) EXPECT_NEAR(p.Length(), R, 1e-5);
  double worst = 0;
  ForSamplePoints(sphere.mesh,
                  [&](const math::Vec3d& p) { worst = std::max(worst, R - p.Length()); });
  EXPECT_LE(worst, sphere.tessellationError);
  // The bound is tight enough to be a useful tolerance.
  EXPECT_GE(worst, 0.4 * sphere.tessellationError);
  ExpectClosedAndOriented(sphere.mesh);
  const double exact = 4. / 3 * kPi * R * R * R;
  EXPECT_LT(Volume(sphere.mesh), exact);
  EXPECT_GT(Volume(sphere.mesh), exact * (1 - 3 * sphere.tessellationError / R));
}

TEST(Procedural, TorusLiesWithinItsTessellationBound) {
  const double R = 40, r = 12;
  const ProceduralMesh torus = MakeTorus({R, r}, 3.0);
  for (const math::Vec3f& p : torus.mesh.positions) {
    EXPECT_NEAR(TorusDistance(math::Vec3d(p), R, r), 0, 1e-5);
  }
  double worst = 0;
  ForSamplePoints(torus.mesh, [&](const math::Vec3d& p) {
    worst = std::max(worst, std::abs(TorusDistance(p, R, r)));
  });
  EXPECT_LE(worst, torus.tessellationError);
  EXPECT_GE(worst, 0.25 * torus.tessellationError);
  ExpectClosedAndOriented(torus.mesh);
  EXPECT_NEAR(Volume(torus.mesh), 2 * kPi * kPi * R * r * r,
              2 * kPi * R * 2 * kPi * r * torus.tessellationError);
}

TEST(Procedural, FinerResolutionShrinksTheBoundQuadratically) {
  const double coarse = MakeSphere({50}, 4.0).tessellationError;
  const double fine = MakeSphere({50}, 2.0).tessellationError;
  EXPECT_NEAR(fine / coarse, 0.25, 0.02);
}

TEST(Procedural, VaseIsAClosedRibbedSolidOfRevolution) {
  const VaseSpec spec{40, 120, 16, 2.0};
  const ProceduralMesh vase = MakeVase(spec, 1.5);
  ExpectClosedAndOriented(vase.mesh);
  for (const math::Vec3f& p : vase.mesh.positions) {
    const double z = p[2];
    EXPECT_LE(std::abs(z), 60 + 1e-5);
    // Wall and cap rims lie on the analytic surface; cap centres on the axis.
    const double rho = std::hypot(p[0], p[1]);
    if (rho > 1e-3) {
      EXPECT_NEAR(rho, VaseRadius(spec, z, std::atan2(p[1], p[0])), 1e-4);
    }
  }
  // Ribs: at the belly a rib crest is ribDepth further out than a groove.
  const double zBelly = 120 * (0.472 - 0.5);
  EXPECT_NEAR(VaseRadius(spec, zBelly, 0) - VaseRadius(spec, zBelly, kPi / 16), 2.0, 1e-12);
  // Volume: ∫∫ ρ²/2 dφ dz by the midpoint rule.
  double exact = 0;
  const int nz = 600, nphi = 720;
  for (int i = 0; i < nz; ++i) {
    const double z = -60 + 120 * (i + 0.5) / nz;
    for (int j = 0; j < nphi; ++j) {
      const double rho = VaseRadius(spec, z, 2 * kPi * (j + 0.5) / nphi);
      exact += rho * rho / 2 * (2 * kPi / nphi) * (120.0 / nz);
    }
  }
  const double area = 2 * kPi * 40 * 120;  // more than the wall's area
  EXPECT_NEAR(Volume(vase.mesh), exact, area * vase.tessellationError + 1e-4 * exact);
}

TEST(Procedural, ChamferedBoxHasExactFacetsAndVolume) {
  const BoxSpec spec{{80, 60, 40}, 5};
  const ProceduralMesh box = MakeChamferedBox(spec, 7.0);
  EXPECT_EQ(box.tessellationError, 0);
  ExpectClosedAndOriented(box.mesh);
  // Every vertex lies on the boundary of the intersection of the 26 half-spaces.
  const double h[3] = {40, 30, 20}, s = 5;
  for (const math::Vec3f& p : box.mesh.positions) {
    double worst = -1e9;
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dz = -1; dz <= 1; ++dz) {
          const int d[3] = {dx, dy, dz};
          int k = 0;
          double offset = 0, dot = 0;
          for (int a = 0; a < 3; ++a) {
            if (!d[a]) continue;
            ++k;
            offset += h[a];
            dot += d[a] * p[a];
          }
          if (k == 0) continue;
          offset -= (k - 1) * s;
          worst = std::max(worst, (dot - offset) / std::sqrt(double(k)));
        }
      }
    }
    EXPECT_NEAR(worst, 0, 1e-5);
  }
  // Box ⊕ octahedron: V = ABC + 2s(AB + BC + CA) + 2s²(A + B + C) + 4s³/3.
  const double A = 70, B = 50, C = 30;
  const double exact =
      A * B * C + 2 * s * (A * B + B * C + C * A) + 2 * s * s * (A + B + C) + 4 * s * s * s / 3;
  EXPECT_NEAR(Volume(box.mesh), exact, 1e-5 * exact);
}

TEST(Procedural, BlobIsReproducibleFromItsSeed) {
  const BlobSpec spec{45, 12, 0.15, 7};
  const ProceduralMesh a = MakeBlob(spec, 3.0);
  const ProceduralMesh b = MakeBlob(spec, 3.0);
  ASSERT_EQ(a.mesh.positions.size(), b.mesh.positions.size());
  EXPECT_TRUE(a.mesh.positions == b.mesh.positions);
  EXPECT_EQ(a.tessellationError, b.tessellationError);
  BlobSpec other = spec;
  other.seed = 8;
  EXPECT_FALSE(MakeBlob(other, 3.0).mesh.positions == a.mesh.positions);
  ExpectClosedAndOriented(a.mesh);
  const BlobShape shape(spec);
  for (const math::Vec3f& p : a.mesh.positions) {
    const math::Vec3d q(p);
    EXPECT_NEAR(q.Length(), shape.Radius(q.GetNormalized()), 1e-4);
  }
  double worst = 0;
  ForSamplePoints(a.mesh, [&](const math::Vec3d& p) {
    worst = std::max(worst, std::abs(p.Length() - shape.Radius(p.GetNormalized())));
  });
  // The radial gap bounds the distance to the surface from above.
  EXPECT_LE(worst, 1.5 * a.tessellationError);
}

TEST(Procedural, BlobHasNoSymmetry) {
  const BlobShape shape(BlobSpec{45, 12, 0.15, 1});
  // Mirrors in the coordinate planes, half and quarter turns about the
  // axes, the point reflection and the first seed's own bump axes.
  std::vector<std::function<math::Vec3d(const math::Vec3d&)>> maps = {
      [](const math::Vec3d& d) { return math::Vec3d(-d[0], d[1], d[2]); },
      [](const math::Vec3d& d) { return math::Vec3d(d[0], -d[1], d[2]); },
      [](const math::Vec3d& d) { return math::Vec3d(d[0], d[1], -d[2]); },
      [](const math::Vec3d& d) { return math::Vec3d(d[0], -d[1], -d[2]); },
      [](const math::Vec3d& d) { return math::Vec3d(-d[0], d[1], -d[2]); },
      [](const math::Vec3d& d) { return math::Vec3d(-d[0], -d[1], d[2]); },
      [](const math::Vec3d& d) { return math::Vec3d(-d[1], d[0], d[2]); },
      [](const math::Vec3d& d) { return -d; }};
  for (const auto& bump : shape.GetBumps()) {
    const math::Vec3d c = bump.centre;
    // Half turn about the bump's axis: 2(c·d)c − d.
    maps.push_back([c](const math::Vec3d& d) { return c * (2 * math::Dot(c, d)) - d; });
  }
  std::mt19937_64 rng(3);
  std::normal_distribution<double> normal;
  std::vector<math::Vec3d> dirs(2000);
  for (math::Vec3d& d : dirs)
    d = math::Vec3d(normal(rng), normal(rng), normal(rng)).GetNormalized();
  for (std::size_t m = 0; m < maps.size(); ++m) {
    double largest = 0;
    for (const math::Vec3d& d : dirs) {
      largest = std::max(largest, std::abs(shape.Radius(d) - shape.Radius(maps[m](d))));
    }
    EXPECT_GT(largest, 0.02 * 45) << "map " << m;
  }
}

TEST(Procedural, PanelIsTwoTrianglesFacingPlusZ) {
  const ProceduralMesh panel = MakePanel({200, 100});
  ASSERT_EQ(panel.mesh.GetNumTriangles(), 2u);
  for (std::size_t t = 0; t < 2; ++t) {
    const math::Vec3d n = (Corner(panel.mesh, t, 1) - Corner(panel.mesh, t, 0)) ^
                          (Corner(panel.mesh, t, 2) - Corner(panel.mesh, t, 0));
    EXPECT_GT(n[2], 0);
  }
  EXPECT_DOUBLE_EQ(Volume(panel.mesh), 0);
}

TEST(Procedural, BadSizesAndResolutionsThrow) {
  EXPECT_THROW(MakeSphere({-1}, 1), std::invalid_argument);
  EXPECT_THROW(MakeSphere({10}, 0), std::invalid_argument);
  EXPECT_THROW(MakeSphere({10}, std::nan("")), std::invalid_argument);
  EXPECT_THROW(MakeSphere({1000}, 1e-3), std::invalid_argument);  // billions of triangles
  EXPECT_THROW(MakeTorus({10, 10}, 1), std::invalid_argument);
  EXPECT_THROW(MakeVase({40, 100, 8, 20}, 1), std::invalid_argument);
  EXPECT_THROW(MakeChamferedBox({{10, 20, 30}, 5}, 1), std::invalid_argument);
  EXPECT_THROW(MakeChamferedBox({{10, 20, 30}, 1}, 1e-4), std::invalid_argument);
  EXPECT_THROW(MakeBlob({45, 12, 0.9, 1}, 1), std::invalid_argument);
  EXPECT_THROW(MakePanel({0, 10}), std::invalid_argument);
}

TEST(AlbedoTexture, CheckerCellsAndBilinearRepeat) {
  const Albedo white(1.f, 1.f, 1.f), black(0.f, 0.f, 0.f);
  const auto tex = AlbedoTexture::MakeChecker(4, 2, white, black, 8);
  EXPECT_EQ(tex->GetImage().width, 32u);
  EXPECT_EQ(tex->GetImage().height, 16u);
  EXPECT_EQ(tex->Lookup(0.125f, 0.25f), white);   // centre of cell (0, 0)
  EXPECT_EQ(tex->Lookup(0.375f, 0.25f), black);   // cell (1, 0)
  EXPECT_EQ(tex->Lookup(0.375f, 0.75f), white);   // cell (1, 1)
  EXPECT_EQ(tex->Lookup(1.125f, -0.75f), white);  // repeats
  // Half way between two pixel centres across a cell border.
  const Albedo mid = tex->Lookup(0.25f, 0.25f);
  EXPECT_NEAR(mid[0], 0.5f, 1e-6);
  EXPECT_THROW(AlbedoTexture(img::RGBImage()), std::invalid_argument);
}

}  // namespace
}  // namespace sim
