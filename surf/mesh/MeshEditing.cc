#include "surf/mesh/MeshEditing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <queue>
#include <stdexcept>
#include <unordered_map>

#include "surf/mesh/IndexMapping.h"
#include "surf/mesh/MeshTools.h"

namespace surf {

using math::Vec3d;
using math::Vec3f;

namespace {

void CheckMesh(const MeshArrays& mesh, const char* where) {
  std::string error;
  if (!mesh.IsValid(&error)) throw std::invalid_argument(std::string(where) + " - " + error);
}

// Keeps the vertices the indices use, in their order, with every attribute.
void DropUnusedVertices(MeshArrays& mesh) {
  IndexMapping mapping(mesh.positions.size());
  mapping.Complete(mesh.indices, 3);
  mesh.indices = mapping.RemapIndexBuffer(3);
  mesh.positions = mapping.RemapVertexBuffer(mesh.positions);
  if (!mesh.normals.empty()) mesh.normals = mapping.RemapVertexBuffer(mesh.normals);
  if (!mesh.colors.empty()) mesh.colors = mapping.RemapVertexBuffer(mesh.colors);
  if (!mesh.texCoords.empty()) mesh.texCoords = mapping.RemapVertexBuffer(mesh.texCoords);
}

std::uint64_t EdgeKey(std::uint32_t a, std::uint32_t b) {
  return a < b ? (std::uint64_t(a) << 32) | b : (std::uint64_t(b) << 32) | a;
}

double Angle(const Vec3d& apex, const Vec3d& p, const Vec3d& q) {
  const Vec3d u = p - apex, v = q - apex;
  return std::atan2((u ^ v).Length(), Dot(u, v));
}

constexpr double kBorderWeight = 100.0;

// A symmetric 4×4 quadric (A, b, c): error(p) = pᵀAp + 2bᵀp + c.
struct Quadric {
  double a00 = 0, a01 = 0, a02 = 0, a11 = 0, a12 = 0, a22 = 0, b0 = 0, b1 = 0, b2 = 0, c = 0;

  // Weight × squared distance to the plane through p with unit normal n.
  static Quadric Plane(const Vec3d& n, const Vec3d& p, double weight) {
    const double d = -Dot(n, p);
    Quadric q;
    q.a00 = weight * n[0] * n[0], q.a01 = weight * n[0] * n[1], q.a02 = weight * n[0] * n[2];
    q.a11 = weight * n[1] * n[1], q.a12 = weight * n[1] * n[2], q.a22 = weight * n[2] * n[2];
    q.b0 = weight * n[0] * d, q.b1 = weight * n[1] * d, q.b2 = weight * n[2] * d, q.c = weight * d * d;
    return q;
  }
  Quadric& operator+=(const Quadric& o) {
    a00 += o.a00, a01 += o.a01, a02 += o.a02, a11 += o.a11, a12 += o.a12, a22 += o.a22;
    b0 += o.b0, b1 += o.b1, b2 += o.b2, c += o.c;
    return *this;
  }
  double Error(const Vec3d& p) const {
    const double x = p[0], y = p[1], z = p[2];
    return a00 * x * x + a11 * y * y + a22 * z * z + 2.0 * (a01 * x * y + a02 * x * z + a12 * y * z) +
           2.0 * (b0 * x + b1 * y + b2 * z) + c;
  }
  // The minimum, when A is well-conditioned (Cramer's rule).
  bool Minimum(Vec3d& p) const {
    const double c00 = a11 * a22 - a12 * a12, c01 = a02 * a12 - a01 * a22, c02 = a01 * a12 - a02 * a11;
    const double det = a00 * c00 + a01 * c01 + a02 * c02;
    const double trace = a00 + a11 + a22;
    if (!(std::abs(det) > 1e-10 * trace * trace * trace)) return false;
    const double c11 = a00 * a22 - a02 * a02, c12 = a01 * a02 - a00 * a12, c22 = a00 * a11 - a01 * a01;
    p[0] = -(c00 * b0 + c01 * b1 + c02 * b2) / det;
    p[1] = -(c01 * b0 + c11 * b1 + c12 * b2) / det;
    p[2] = -(c02 * b0 + c12 * b1 + c22 * b2) / det;
    return true;
  }
};

using Face = std::array<std::uint32_t, 3>;

class Simplifier {
 public:
  explicit Simplifier(MeshArrays& mesh);
  void Run(std::size_t targetTriangles);
  void WriteBack();

 private:
  struct Candidate {
    double cost;
    std::uint32_t u, v;
    std::uint32_t versionU, versionV;
    Vec3d position;
    bool operator>(const Candidate& o) const { return cost > o.cost; }
  };

  Vec3d Normal(const Face& f) const {
    return (m_positions[f[1]] - m_positions[f[0]]) ^ (m_positions[f[2]] - m_positions[f[0]]);
  }
  void Push(std::uint32_t u, std::uint32_t v);
  std::vector<std::uint32_t> Neighbours(std::uint32_t u) const;
  bool CanCollapse(std::uint32_t u, std::uint32_t v, const Vec3d& p) const;
  void Collapse(std::uint32_t u, std::uint32_t v, const Vec3d& p);

  MeshArrays& m_mesh;
  std::vector<Vec3d> m_positions;
  std::vector<Face> m_faces;
  std::vector<char> m_faceAlive;
  std::vector<std::vector<std::uint32_t>> m_vertexFaces;
  std::vector<Quadric> m_quadrics;
  std::vector<std::uint32_t> m_versions;
  std::vector<char> m_border;
  std::size_t m_liveFaces = 0;
  std::priority_queue<Candidate, std::vector<Candidate>, std::greater<>> m_queue;
};

Simplifier::Simplifier(MeshArrays& mesh) : m_mesh(mesh) {
  const std::size_t n = mesh.positions.size();
  m_positions.reserve(n);
  for (const Vec3f& p : mesh.positions) m_positions.push_back(Vec3d(p));
  m_vertexFaces.resize(n);
  m_quadrics.resize(n);
  m_versions.assign(n, 0);
  m_border.assign(n, 0);
  std::unordered_map<std::uint64_t, int> edgeUse;
  const auto key = [](std::uint32_t a, std::uint32_t b) { return (std::uint64_t(a) << 32) | b; };
  for (std::size_t k = 0; k + 3 <= mesh.indices.size(); k += 3) {
    const Face f{mesh.indices[k], mesh.indices[k + 1], mesh.indices[k + 2]};
    if (f[0] == f[1] || f[1] == f[2] || f[2] == f[0]) continue;  // degenerate: dropped
    const std::uint32_t t = std::uint32_t(m_faces.size());
    m_faces.push_back(f);
    for (int c = 0; c < 3; ++c) {
      m_vertexFaces[f[c]].push_back(t);
      ++edgeUse[key(std::min(f[c], f[(c + 1) % 3]), std::max(f[c], f[(c + 1) % 3]))];
    }
    const Vec3d normal = Normal(f);
    const double area2 = normal.Length();
    if (area2 > 0.0) {
      const Quadric q = Quadric::Plane(normal / area2, m_positions[f[0]], 0.5 * area2);
      for (std::uint32_t i : f) m_quadrics[i] += q;
    }
  }
  m_faceAlive.assign(m_faces.size(), 1);
  m_liveFaces = m_faces.size();
  // Border edges: a plane through the edge, perpendicular to its triangle.
  for (const Face& f : m_faces) {
    const Vec3d normal = Normal(f).GetNormalized();
    for (int c = 0; c < 3; ++c) {
      const std::uint32_t a = f[c], b = f[(c + 1) % 3];
      if (edgeUse[key(std::min(a, b), std::max(a, b))] != 1) continue;
      m_border[a] = m_border[b] = 1;
      const Vec3d edge = m_positions[b] - m_positions[a];
      const Vec3d side = (edge ^ normal).GetNormalized();
      const Quadric q = Quadric::Plane(side, m_positions[a], kBorderWeight * edge.LengthSquared());
      m_quadrics[a] += q;
      m_quadrics[b] += q;
    }
  }
  for (const auto& [edge, uses] : edgeUse) Push(std::uint32_t(edge >> 32), std::uint32_t(edge & 0xffffffffu));
}

void Simplifier::Push(std::uint32_t u, std::uint32_t v) {
  Quadric q = m_quadrics[u];
  q += m_quadrics[v];
  const Vec3d pu = m_positions[u], pv = m_positions[v], mid = (pu + pv) * 0.5;
  Vec3d best = mid;
  double cost = q.Error(mid);
  Vec3d p;
  if (q.Minimum(p) && (p - mid).LengthSquared() <= (pv - pu).LengthSquared()) {
    best = p, cost = q.Error(p);
  } else {
    for (const Vec3d& candidate : {pu, pv}) {
      const double e = q.Error(candidate);
      if (e < cost) best = candidate, cost = e;
    }
  }
  m_queue.push({std::max(cost, 0.0), u, v, m_versions[u], m_versions[v], best});
}

std::vector<std::uint32_t> Simplifier::Neighbours(std::uint32_t u) const {
  std::vector<std::uint32_t> result;
  for (std::uint32_t t : m_vertexFaces[u]) {
    for (std::uint32_t i : m_faces[t]) {
      if (i != u) result.push_back(i);
    }
  }
  std::sort(result.begin(), result.end());
  result.erase(std::unique(result.begin(), result.end()), result.end());
  return result;
}

bool Simplifier::CanCollapse(std::uint32_t u, std::uint32_t v, const Vec3d& p) const {
  // The triangles on the edge and the vertices opposite it.
  std::vector<std::uint32_t> opposite;
  for (std::uint32_t t : m_vertexFaces[u]) {
    const Face& f = m_faces[t];
    if (f[0] != v && f[1] != v && f[2] != v) continue;
    for (std::uint32_t i : f) {
      if (i != u && i != v) opposite.push_back(i);
    }
  }
  if (opposite.empty() || opposite.size() > 2) return false;
  const bool borderEdge = opposite.size() == 1;
  if (!borderEdge && m_border[u] && m_border[v]) return false;  // would pinch the surface
  // Link condition: the common neighbours are exactly the opposite vertices.
  const std::vector<std::uint32_t> nu = Neighbours(u), nv = Neighbours(v);
  std::vector<std::uint32_t> common;
  std::set_intersection(nu.begin(), nu.end(), nv.begin(), nv.end(), std::back_inserter(common));
  std::sort(opposite.begin(), opposite.end());
  if (common != opposite) return false;
  // No remaining triangle may turn by 90° or more, or collapse to a line.
  for (std::uint32_t w : {u, v}) {
    for (std::uint32_t t : m_vertexFaces[w]) {
      Face f = m_faces[t];
      if (std::find(f.begin(), f.end(), w == u ? v : u) != f.end()) continue;
      const Vec3d before = Normal(f);
      Vec3d q[3] = {m_positions[f[0]], m_positions[f[1]], m_positions[f[2]]};
      for (int c = 0; c < 3; ++c) {
        if (f[c] == w) q[c] = p;
      }
      const Vec3d after = (q[1] - q[0]) ^ (q[2] - q[0]);
      if (Dot(before, after) <= 1e-3 * before.Length() * after.Length() || after.LengthSquared() == 0.0) return false;
    }
  }
  return true;
}

void Simplifier::Collapse(std::uint32_t u, std::uint32_t v, const Vec3d& p) {
  const Vec3d pu = m_positions[u], edge = m_positions[v] - pu;
  const double s = edge.LengthSquared() > 0.0 ? std::clamp(Dot(p - pu, edge) / edge.LengthSquared(), 0.0, 1.0) : 0.0;
  if (!m_mesh.texCoords.empty()) {
    m_mesh.texCoords[u] = m_mesh.texCoords[u] * float(1.0 - s) + m_mesh.texCoords[v] * float(s);
  }
  if (!m_mesh.colors.empty()) {
    const auto mix = [s](std::uint8_t a, std::uint8_t b) {
      return std::uint8_t(std::lround((1.0 - s) * a + s * b));
    };
    v3d::Color4ub& cu = m_mesh.colors[u];
    const v3d::Color4ub cv = m_mesh.colors[v];
    cu = v3d::Color4ub(mix(cu.r, cv.r), mix(cu.g, cv.g), mix(cu.b, cv.b), mix(cu.a, cv.a));
  }
  for (std::uint32_t t : m_vertexFaces[v]) {
    Face& f = m_faces[t];
    if (std::find(f.begin(), f.end(), u) != f.end()) {
      // A triangle on the edge disappears.
      m_faceAlive[t] = 0;
      --m_liveFaces;
      for (std::uint32_t i : f) {
        if (i != v) std::erase(m_vertexFaces[i], t);
      }
    } else {
      std::replace(f.begin(), f.end(), v, u);
      m_vertexFaces[u].push_back(t);
    }
  }
  m_vertexFaces[v].clear();
  m_positions[u] = p;
  m_quadrics[u] += m_quadrics[v];
  m_border[u] = m_border[u] || m_border[v];
  ++m_versions[u];
  ++m_versions[v];
  for (std::uint32_t w : Neighbours(u)) Push(std::min(u, w), std::max(u, w));
}

void Simplifier::Run(std::size_t targetTriangles) {
  while (m_liveFaces > targetTriangles && !m_queue.empty()) {
    const Candidate c = m_queue.top();
    m_queue.pop();
    if (c.versionU != m_versions[c.u] || c.versionV != m_versions[c.v]) continue;
    if (m_vertexFaces[c.u].empty() || m_vertexFaces[c.v].empty()) continue;
    if (!CanCollapse(c.u, c.v, c.position)) continue;
    Collapse(c.u, c.v, c.position);
  }
}

void Simplifier::WriteBack() {
  for (std::size_t i = 0; i < m_positions.size(); ++i) m_mesh.positions[i] = Vec3f(m_positions[i]);
  m_mesh.indices.clear();
  for (std::size_t t = 0; t < m_faces.size(); ++t) {
    if (m_faceAlive[t]) m_mesh.indices.insert(m_mesh.indices.end(), m_faces[t].begin(), m_faces[t].end());
  }
}

}  // namespace

void RecomputeNormals(MeshArrays& mesh) {
  std::vector<float> vertices(3 * mesh.positions.size()), normals;
  for (std::size_t i = 0; i < mesh.positions.size(); ++i) std::copy_n(mesh.positions[i].data(), 3, &vertices[3 * i]);
  CalcNormals(normals, vertices, mesh.indices);
  mesh.normals.resize(mesh.positions.size());
  for (std::size_t i = 0; i < mesh.normals.size(); ++i) {
    mesh.normals[i] = Vec3f(normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]);
  }
}

std::size_t ShrinkMesh(MeshArrays& mesh) {
  CheckMesh(mesh, "surf::ShrinkMesh");
  const std::size_t before = mesh.NumTriangles();
  RemoveBorderTriangles(mesh.indices);
  DropUnusedVertices(mesh);
  return before - mesh.NumTriangles();
}

void Smoothing(MeshArrays& mesh, bool recomputeNormals) {
  CheckMesh(mesh, "surf::Smoothing");
  std::vector<Vec3d> sums(mesh.positions.size(), Vec3d(0.0, 0.0, 0.0));
  std::vector<std::uint32_t> counts(mesh.positions.size(), 0);
  for (std::size_t k = 0; k < mesh.indices.size(); k += 3) {
    const Vec3d centroid = (Vec3d(mesh.positions[mesh.indices[k]]) + Vec3d(mesh.positions[mesh.indices[k + 1]]) +
                            Vec3d(mesh.positions[mesh.indices[k + 2]])) /
                           3.0;
    for (int c = 0; c < 3; ++c) {
      sums[mesh.indices[k + c]] += centroid;
      ++counts[mesh.indices[k + c]];
    }
  }
  for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
    if (counts[i] > 0) mesh.positions[i] = Vec3f(sums[i] / double(counts[i]));
  }
  if (recomputeNormals) RecomputeNormals(mesh);
}

std::size_t MakeDelaunay(MeshArrays& mesh) {
  CheckMesh(mesh, "surf::MakeDelaunay");
  using Triangle = std::array<std::uint32_t, 3>;
  std::vector<Triangle> triangles(mesh.NumTriangles());
  for (std::size_t t = 0; t < triangles.size(); ++t) {
    triangles[t] = {mesh.indices[3 * t], mesh.indices[3 * t + 1], mesh.indices[3 * t + 2]};
  }
  // The triangles of each edge; more than two make it non-manifold.
  struct EdgeInfo {
    std::int64_t t[2] = {-1, -1};
    int count = 0;
    bool queued = false;
  };
  std::unordered_map<std::uint64_t, EdgeInfo> edges;
  edges.reserve(triangles.size() * 2);
  for (std::size_t t = 0; t < triangles.size(); ++t) {
    for (int e = 0; e < 3; ++e) {
      EdgeInfo& info = edges[EdgeKey(triangles[t][e], triangles[t][(e + 1) % 3])];
      if (info.count < 2) info.t[info.count] = std::int64_t(t);
      ++info.count;
    }
  }
  std::vector<std::uint64_t> stack;
  stack.reserve(edges.size());
  for (auto& [key, info] : edges) {
    if (info.count == 2) stack.push_back(key), info.queued = true;
  }
  const auto pos = [&](std::uint32_t i) { return Vec3d(mesh.positions[i]); };
  const auto replace = [&](std::uint64_t key, std::int64_t from, std::int64_t to) {
    EdgeInfo& info = edges.at(key);
    for (std::int64_t& t : info.t) {
      if (t == from) t = to;
    }
  };
  const auto push = [&](std::uint32_t a, std::uint32_t b) {
    EdgeInfo& info = edges.at(EdgeKey(a, b));
    if (info.count == 2 && !info.queued) info.queued = true, stack.push_back(EdgeKey(a, b));
  };
  const std::size_t maxFlips = 50 * edges.size();
  std::size_t flips = 0;
  while (!stack.empty() && flips < maxFlips) {
    const std::uint64_t key = stack.back();
    stack.pop_back();
    EdgeInfo& info = edges.at(key);
    info.queued = false;
    if (info.count != 2) continue;
    const std::int64_t t1 = info.t[0], t2 = info.t[1];
    // a→b in t1 and b→a in t2 (consistent orientation), c and d opposite.
    const std::uint32_t u = std::uint32_t(key >> 32), v = std::uint32_t(key & 0xffffffffu);
    int e1 = 0;
    while (e1 < 3 && EdgeKey(triangles[t1][e1], triangles[t1][(e1 + 1) % 3]) != key) ++e1;
    const std::uint32_t a = triangles[t1][e1], b = triangles[t1][(e1 + 1) % 3], c = triangles[t1][(e1 + 2) % 3];
    int e2 = 0;
    while (e2 < 3 && !(triangles[t2][e2] == b && triangles[t2][(e2 + 1) % 3] == a)) ++e2;
    if (e2 == 3 || (a != u && a != v)) continue;
    const std::uint32_t d = triangles[t2][(e2 + 2) % 3];
    if (c == d || edges.count(EdgeKey(c, d))) continue;
    const Vec3d pa = pos(a), pb = pos(b), pc = pos(c), pd = pos(d);
    if (Angle(pc, pa, pb) + Angle(pd, pb, pa) <= std::numbers::pi + 1e-9) continue;
    const Vec3d before = ((pb - pa) ^ (pc - pa)) + ((pa - pb) ^ (pd - pb));
    const Vec3d n1 = (pd - pa) ^ (pc - pa), n2 = (pb - pd) ^ (pc - pd);
    if (Dot(n1, before) <= 0.0 || Dot(n2, before) <= 0.0) continue;
    triangles[t1] = {a, d, c};
    triangles[t2] = {d, b, c};
    edges.erase(key);
    EdgeInfo& diagonal = edges[EdgeKey(c, d)];
    diagonal.t[0] = t1, diagonal.t[1] = t2, diagonal.count = 2;
    replace(EdgeKey(a, d), t2, t1);
    replace(EdgeKey(b, c), t1, t2);
    push(a, d), push(d, b), push(b, c), push(c, a);
    ++flips;
  }
  for (std::size_t t = 0; t < triangles.size(); ++t) std::copy_n(triangles[t].begin(), 3, &mesh.indices[3 * t]);
  if (!mesh.normals.empty()) RecomputeNormals(mesh);
  return flips;
}

std::size_t SimplifyMesh(MeshArrays& mesh, std::size_t targetTriangles) {
  CheckMesh(mesh, "surf::SimplifyMesh");
  if (mesh.NumTriangles() > targetTriangles) {
    Simplifier simplifier(mesh);
    simplifier.Run(targetTriangles);
    simplifier.WriteBack();
  }
  DropUnusedVertices(mesh);
  if (!mesh.normals.empty()) RecomputeNormals(mesh);
  return mesh.NumTriangles();
}

}  // namespace surf
