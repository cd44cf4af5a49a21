#include "sim/ParametricSurface.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace sim {

SurfaceBounds SampleSurfaceBounds(const ParametricSurface& surface, int samples) {
  const double h = 1e-4;
  SurfaceBounds b;
  const auto& S = surface.point;
  for (int j = 0; j < samples; ++j) {
    // Non-periodic directions keep the difference stencil inside [0, 1].
    const double v = surface.vPeriodic ? double(j) / samples : h + (1 - 2 * h) * j / (samples - 1);
    for (int i = 0; i < samples; ++i) {
      const double u =
          surface.uPeriodic ? double(i) / samples : h + (1 - 2 * h) * i / (samples - 1);
      const math::Vec3d c = S(u, v);
      const math::Vec3d pu = S(u + h, v), mu = S(u - h, v);
      const math::Vec3d pv = S(u, v + h), mv = S(u, v - h);
      b.lengthU = std::max(b.lengthU, ((pu - mu) / (2 * h)).Length());
      b.lengthV = std::max(b.lengthV, ((pv - mv) / (2 * h)).Length());
      b.maxUU = std::max(b.maxUU, ((pu - c * 2.0 + mu) / (h * h)).Length());
      b.maxVV = std::max(b.maxVV, ((pv - c * 2.0 + mv) / (h * h)).Length());
      const math::Vec3d uv = S(u + h, v + h) - S(u + h, v - h) - S(u - h, v + h) + S(u - h, v - h);
      b.maxUV = std::max(b.maxUV, (uv / (4 * h * h)).Length());
    }
  }
  return b;
}

GridSize ChooseGridSize(const SurfaceBounds& bounds, const ParametricSurface& surface,
                        double resolution, std::size_t maxTriangles) {
  if (!(resolution > 0) || !std::isfinite(resolution)) {
    throw std::invalid_argument("sim::ChooseGridSize - The resolution must be a positive length.");
  }
  const double cellsU = std::ceil(bounds.lengthU / resolution);
  const double cellsV = std::ceil(bounds.lengthV / resolution);
  const double minU = surface.uPeriodic ? 3 : 1;
  const double minV = surface.vPeriodic ? 3 : (surface.poleAtV0 && surface.poleAtV1 ? 2 : 1);
  const double nu = std::max(cellsU, minU), nv = std::max(cellsV, minV);
  if (2 * nu * nv > static_cast<double>(maxTriangles)) {
    throw std::invalid_argument("sim::ChooseGridSize - Resolution " + std::to_string(resolution) +
                                " mm gives more than " + std::to_string(maxTriangles) +
                                " triangles.");
  }
  return {static_cast<int>(nu), static_cast<int>(nv)};
}

double TessellationErrorBound(const SurfaceBounds& bounds, int nu, int nv) {
  const double hu = 1.0 / nu, hv = 1.0 / nv;
  const double a = bounds.maxUU * hu * hu, b = bounds.maxUV * hu * hv, c = bounds.maxVV * hv * hv;
  return std::max(a + b, b + c) / 4;
}

TriMesh TessellateSurface(const ParametricSurface& surface, int nu, int nv) {
  if (nu < 1 || nv < 1) throw std::invalid_argument("sim::TessellateSurface - Empty grid.");
  TriMesh mesh;
  const int cols = nu + 1, rows = nv + 1;
  mesh.positions.resize(std::size_t(cols) * rows);
  mesh.texCoords.resize(mesh.positions.size());
  auto index = [cols](int i, int j) { return static_cast<std::uint32_t>(j * cols + i); };
  for (int j = 0; j < rows; ++j) {
    const double v = double(j) / nv;
    for (int i = 0; i < cols; ++i) {
      const double u = double(i) / nu;
      mesh.texCoords[index(i, j)] = math::Vec2f(static_cast<float>(u), static_cast<float>(v));
      // Copies keep seams and poles bitwise closed for the ray caster.
      if ((j == 0 && surface.poleAtV0) || (j == nv && surface.poleAtV1)) {
        if (i > 0) {
          mesh.positions[index(i, j)] = mesh.positions[index(0, j)];
          continue;
        }
      } else if (i == nu && surface.uPeriodic) {
        mesh.positions[index(i, j)] = mesh.positions[index(0, j)];
        continue;
      } else if (j == nv && surface.vPeriodic) {
        mesh.positions[index(i, j)] = mesh.positions[index(i, 0)];
        continue;
      }
      mesh.positions[index(i, j)] = math::Vec3f(surface.point(u, v));
    }
  }
  mesh.triangles.reserve(std::size_t(2) * nu * nv);
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < nu; ++i) {
      const std::uint32_t a = index(i, j), b = index(i + 1, j), c = index(i + 1, j + 1),
                          d = index(i, j + 1);
      // A pole row makes one triangle of each cell degenerate; the
      // diagonal is chosen so that the other stays whole.
      if (j == 0 && surface.poleAtV0) {
        mesh.triangles.push_back(TriMesh::Triangle(a, c, d));
      } else if (j == nv - 1 && surface.poleAtV1) {
        mesh.triangles.push_back(TriMesh::Triangle(a, b, d));
      } else {
        mesh.triangles.push_back(TriMesh::Triangle(a, b, c));
        mesh.triangles.push_back(TriMesh::Triangle(a, c, d));
      }
    }
  }
  return mesh;
}

}  // namespace sim
