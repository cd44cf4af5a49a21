#include "surf/measure/testing/MeasureMeshes.h"

#include <random>

#include "surf/mesh/GeoItem.h"
#include "v3d/GeoTools.h"

namespace surf::testing {

MeshArrays MakePlaneGrid(int n, double spacing, double height) {
  MeshArrays mesh;
  const double half = n * spacing / 2;
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) {
      mesh.positions.emplace_back(float(x * spacing - half), float(y * spacing - half),
                                  float(height));
      mesh.normals.emplace_back(0.f, 0.f, 1.f);
    }
  const auto at = [n](int x, int y) { return std::uint32_t(y * (n + 1) + x); };
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      mesh.indices.insert(mesh.indices.end(), {at(x, y), at(x + 1, y), at(x + 1, y + 1)});
      mesh.indices.insert(mesh.indices.end(), {at(x, y), at(x + 1, y + 1), at(x, y + 1)});
    }
  return mesh;
}

MeshArrays ToArrays(const sim::TriMesh& tri) {
  MeshArrays mesh;
  mesh.positions = tri.positions;
  for (const auto& t : tri.triangles) mesh.indices.insert(mesh.indices.end(), {t[0], t[1], t[2]});
  std::unique_ptr<v3d::Geo> geo = MakeGeo(mesh);
  v3d::CalcVertexNormals(*geo);
  mesh.normals = geo->GetMesh(0)->GetVertexNormals();
  return mesh;
}

std::unique_ptr<v3d::Geo> MakeGeo(const MeshArrays& mesh, const math::Frame4d& frame) {
  auto geo = std::make_unique<v3d::Geo>(*MakeGeoItem(mesh).geo);
  geo->SetFrame(frame);
  return geo;
}

void AddNormalNoise(MeshArrays& mesh, double sigma, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  for (std::size_t i = 0; i < mesh.positions.size(); ++i)
    mesh.positions[i] += mesh.normals[i] * float(noise(random));
}

}  // namespace surf::testing
