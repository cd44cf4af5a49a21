#include "surf/fusion/TextureFusion.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>
#include <numeric>

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCore>

#include "surf/mesh/KDTree.h"
#include "surf/fusion/TextureAtlas.h"

namespace surf {
namespace {

using math::Vec2f;
using math::Vec3f;

constexpr std::uint32_t kNoScan = kNoChart;
// Per-vertex work is done in blocks between progress reports.
constexpr std::size_t kBlock = 8192;

bool IsFinite(const Vec3f& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

// The point of triangle abc closest to p, as barycentric weights of a, b, c
// (after C. Ericson, Real-Time Collision Detection, 5.1.5).
Vec3f ClosestBarycentric(const Vec3f& p, const Vec3f& a, const Vec3f& b, const Vec3f& c) {
  const Vec3f ab = b - a, ac = c - a, ap = p - a;
  const float d1 = math::Dot(ab, ap), d2 = math::Dot(ac, ap);
  if (d1 <= 0.f && d2 <= 0.f) return {1.f, 0.f, 0.f};
  const Vec3f bp = p - b;
  const float d3 = math::Dot(ab, bp), d4 = math::Dot(ac, bp);
  if (d3 >= 0.f && d4 <= d3) return {0.f, 1.f, 0.f};
  const float vc = d1 * d4 - d3 * d2;
  if (vc <= 0.f && d1 >= 0.f && d3 <= 0.f) {
    const float v = d1 / (d1 - d3);
    return {1.f - v, v, 0.f};
  }
  const Vec3f cp = p - c;
  const float d5 = math::Dot(ab, cp), d6 = math::Dot(ac, cp);
  if (d6 >= 0.f && d5 <= d6) return {0.f, 0.f, 1.f};
  const float vb = d5 * d2 - d1 * d6;
  if (vb <= 0.f && d2 >= 0.f && d6 <= 0.f) {
    const float w = d2 / (d2 - d6);
    return {1.f - w, 0.f, w};
  }
  const float va = d3 * d6 - d5 * d4;
  if (va <= 0.f && (d4 - d3) >= 0.f && (d5 - d6) >= 0.f) {
    const float w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    return {0.f, 1.f - w, w};
  }
  const float denom = 1.f / (va + vb + vc);
  const float v = vb * denom, w = vc * denom;
  return {1.f - v - w, v, w};
}

// A rigid transform as float rows, for many points.
struct Rigid {
  float r[3][4];
  explicit Rigid(const math::Frame<double>& f) {
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 4; ++j) r[i][j] = static_cast<float>(f(i, j));
    }
  }
  Vec3f Point(const Vec3f& p) const {
    return {r[0][0] * p[0] + r[0][1] * p[1] + r[0][2] * p[2] + r[0][3],
            r[1][0] * p[0] + r[1][1] * p[1] + r[1][2] * p[2] + r[1][3],
            r[2][0] * p[0] + r[2][1] * p[1] + r[2][2] * p[2] + r[2][3]};
  }
  Vec3f Vector(const Vec3f& d) const {
    return {r[0][0] * d[0] + r[0][1] * d[1] + r[0][2] * d[2], r[1][0] * d[0] + r[1][1] * d[1] + r[1][2] * d[2],
            r[2][0] * d[0] + r[2][1] * d[1] + r[2][2] * d[2]};
  }
};

// Where one fused vertex lands on one scan.
struct Hit {
  Vec2f texel;          // scan texture position in pixels (x right, y down)
  float score = -1.f;   // < 0: the scan does not see the vertex
  float density = 0.f;  // texels per mm² of the scan triangle hit
  std::int8_t uvSign = 0;
};

// Look-up structures of one textured scan, in scan coordinates.
class ScanSurface {
 public:
  ScanSurface(const TexturedScan& scan, std::size_t index) : m_scan(scan), m_toScan(scan.worldTscan.GetInverse()) {
    const std::size_t n = scan.positions.size();
    if (scan.texCoords.size() != n) {
      throw std::invalid_argument("TextureFusion::FuseTextures - scan " + std::to_string(index) + " has " +
                                  std::to_string(scan.texCoords.size()) + " texture coordinates for " +
                                  std::to_string(n) + " positions.");
    }
    if (scan.indices.size() % 3 != 0) {
      throw std::invalid_argument("TextureFusion::FuseTextures - scan " + std::to_string(index) +
                                  " has an incomplete triangle.");
    }
    for (std::uint32_t i : scan.indices) {
      if (i >= n) {
        throw std::invalid_argument("TextureFusion::FuseTextures - scan " + std::to_string(index) +
                                    " has a vertex index out of range.");
      }
    }
  }

  // Triangle data, ring lists and the kd-tree; returns the mean edge length.
  double Build();
  // The hit of a world point with world normal (unit).
  Hit Find(const Vec3f& worldPoint, const Vec3f& worldNormal, float maxDistance, float cosMaxAngle) const;
  const img::RGBImage& Texture() const { return *m_scan.texture; }

 private:
  void Consider(std::uint32_t t, const Vec3f& q, float& bestD2, std::uint32_t& bestT, Vec3f& bestBary) const;

  const TexturedScan& m_scan;
  Rigid m_toScan;
  KDTree m_tree;
  std::vector<std::uint32_t> m_treeVertex;
  std::vector<std::uint32_t> m_ringStart, m_ring;  // triangles around each vertex
  std::vector<std::uint32_t> m_triangles;          // valid triangles
  std::vector<Vec3f> m_normal;                     // per valid triangle, unit
  std::vector<float> m_density;                    // texels per mm²
  std::vector<std::int8_t> m_uvSign;
  float m_longestEdge = 0.f;
  Vec3f m_lo, m_hi;  // bounding box of the triangles' vertices
};

double ScanSurface::Build() {
  const auto& pos = m_scan.positions;
  const auto& tc = m_scan.texCoords;
  const float w = static_cast<float>(m_scan.texture->width), h = static_cast<float>(m_scan.texture->height);
  double edgeSum = 0.0;
  std::size_t edgeCount = 0;
  std::vector<std::uint32_t> count(pos.size() + 1, 0);
  for (std::size_t t = 0; t + 2 < m_scan.indices.size(); t += 3) {
    const std::uint32_t i0 = m_scan.indices[t], i1 = m_scan.indices[t + 1], i2 = m_scan.indices[t + 2];
    const Vec3f &a = pos[i0], &b = pos[i1], &c = pos[i2];
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(c)) continue;
    const Vec3f cross = (b - a) ^ (c - a);
    const float area = 0.5f * cross.Length();
    const Vec2f ta{tc[i0][0] * w, tc[i0][1] * h}, tb{tc[i1][0] * w, tc[i1][1] * h}, tcc{tc[i2][0] * w, tc[i2][1] * h};
    const float uvArea = 0.5f * ((tb[0] - ta[0]) * (tcc[1] - ta[1]) - (tcc[0] - ta[0]) * (tb[1] - ta[1]));
    if (!(area > 0.f) || !std::isfinite(uvArea) || uvArea == 0.f) continue;
    m_triangles.insert(m_triangles.end(), {i0, i1, i2});
    m_normal.push_back(cross / (2.f * area));
    m_density.push_back(std::fabs(uvArea) / area);
    m_uvSign.push_back(uvArea > 0.f ? 1 : -1);
    for (const float e : {(b - a).Length(), (c - b).Length(), (a - c).Length()}) {
      m_longestEdge = std::max(m_longestEdge, e);
      edgeSum += e;
    }
    edgeCount += 3;
    ++count[i0 + 1];
    ++count[i1 + 1];
    ++count[i2 + 1];
  }
  std::partial_sum(count.begin(), count.end(), count.begin());
  m_ringStart = count;
  m_ring.resize(m_triangles.size());
  for (std::uint32_t k = 0; k < m_triangles.size(); ++k) m_ring[count[m_triangles[k]]++] = k / 3;
  std::vector<Vec3f> points;
  m_lo = Vec3f{1.f, 1.f, 1.f} * std::numeric_limits<float>::max();
  m_hi = -m_lo;
  for (std::uint32_t v = 0; v < pos.size(); ++v) {
    if (m_ringStart[v + 1] > m_ringStart[v]) {
      points.push_back(pos[v]);
      m_treeVertex.push_back(v);
      for (int k = 0; k < 3; ++k) {
        m_lo[k] = std::min(m_lo[k], pos[v][k]);
        m_hi[k] = std::max(m_hi[k], pos[v][k]);
      }
    }
  }
  m_tree.Build(std::move(points));
  return edgeCount ? edgeSum / static_cast<double>(edgeCount) : 0.0;
}

void ScanSurface::Consider(std::uint32_t t, const Vec3f& q, float& bestD2, std::uint32_t& bestT,
                           Vec3f& bestBary) const {
  const auto& pos = m_scan.positions;
  const Vec3f &a = pos[m_triangles[3 * t]], &b = pos[m_triangles[3 * t + 1]], &c = pos[m_triangles[3 * t + 2]];
  const Vec3f bary = ClosestBarycentric(q, a, b, c);
  const float d2 = (a * bary[0] + b * bary[1] + c * bary[2] - q).LengthSquared();
  if (d2 < bestD2) {
    bestD2 = d2;
    bestT = t;
    bestBary = bary;
  }
}

Hit ScanSurface::Find(const Vec3f& worldPoint, const Vec3f& worldNormal, float maxDistance,
                      float cosMaxAngle) const {
  Hit hit;
  const Vec3f q = m_toScan.Point(worldPoint);
  for (int k = 0; k < 3; ++k) {
    if (q[k] < m_lo[k] - maxDistance || q[k] > m_hi[k] + maxDistance) return hit;
  }
  const std::int32_t nearest = m_tree.FindNearest(q, maxDistance + m_longestEdge);
  if (nearest == KDTree::kNone) return hit;
  const std::uint32_t v = m_treeVertex[static_cast<std::size_t>(nearest)];
  float bestD2 = std::numeric_limits<float>::max();
  std::uint32_t bestT = kNoScan;
  Vec3f bary;
  for (std::uint32_t k = m_ringStart[v]; k < m_ringStart[v + 1]; ++k) Consider(m_ring[k], q, bestD2, bestT, bary);
  // On an edge or corner of that triangle: the triangles around its other
  // corners may lie closer.
  if (bary[0] == 0.f || bary[1] == 0.f || bary[2] == 0.f) {
    const std::uint32_t t0 = bestT;
    for (int c = 0; c < 3; ++c) {
      const std::uint32_t w = m_triangles[3 * t0 + c];
      if (w == v) continue;
      for (std::uint32_t k = m_ringStart[w]; k < m_ringStart[w + 1]; ++k) Consider(m_ring[k], q, bestD2, bestT, bary);
    }
  }
  const float d = std::sqrt(bestD2);
  if (!(d <= maxDistance)) return hit;
  const float cosAngle = math::Dot(m_toScan.Vector(worldNormal), m_normal[bestT]);
  if (!(cosAngle >= cosMaxAngle)) return hit;
  const auto& tc = m_scan.texCoords;
  const std::uint32_t* tri = &m_triangles[3 * bestT];
  const Vec2f uv = tc[tri[0]] * bary[0] + tc[tri[1]] * bary[1] + tc[tri[2]] * bary[2];
  hit.texel = {uv[0] * static_cast<float>(m_scan.texture->width), uv[1] * static_cast<float>(m_scan.texture->height)};
  hit.density = m_density[bestT];
  hit.uvSign = m_uvSign[bestT];
  const float r = d / maxDistance;
  hit.score = std::sqrt(hit.density) * cosAngle * std::exp(-r * r);
  return hit;
}

// A small blur around a vertex's texture position: the colour compared across seams.
Vec3f SampleSmooth(const img::RGBImage& image, const Vec2f& p) {
  Vec3f sum = SampleBilinear(image, p[0], p[1]) * 2.f;
  for (const auto& [dx, dy] : {std::pair{1.f, 0.f}, {-1.f, 0.f}, {0.f, 1.f}, {0.f, -1.f}}) {
    sum += SampleBilinear(image, p[0] + dx, p[1] + dy);
  }
  return sum / 6.f;
}

// The whole job on one fused mesh.
class Fusion {
 public:
  Fusion(std::span<const Vec3f> positions, std::span<const std::uint32_t> indices, const TextureFusionOptions& options,
         const utils::ProgressCallback& progress)
      : m_pos(positions), m_idx(indices), m_options(options), m_progress(progress) {}

  bool Run(std::span<const TexturedScan> scans, TextureFusionResult& result);

 private:
  bool Report(double fraction) const { return m_progress && m_progress(fraction); }
  void Log(const std::string& line) const {
    if (m_options.log) {
      m_options.log(line);
    } else {
      std::cout << line << std::flush;
    }
  }
  // Vertex normals, corner lists, neighbours, components; the mean edge length.
  double BuildTopology();
  void BuildNeighbours();
  void BuildComponents();
  bool ProjectVertices(double from, double to);
  void ScoreFaces();
  void SmoothLabels();
  void BuildCharts();
  void BuildVertices();
  bool LevelSeams();
  void ColourFlatCharts();
  enum class Outcome { kDone, kFailed, kCancelled };
  Outcome FillAtlas(TextureFusionResult& result, double from, double to);

  std::span<const Vec3f> m_pos;
  std::span<const std::uint32_t> m_idx;
  const TextureFusionOptions& m_options;
  const utils::ProgressCallback& m_progress;

  std::size_t m_numFaces = 0;
  std::vector<std::unique_ptr<ScanSurface>> m_scans;
  std::size_t m_numScans = 0;
  float m_maxDistance = 0.f;

  std::vector<Vec3f> m_vertexNormal;
  std::vector<std::uint32_t> m_faceNbStart, m_faceNb;      // edge neighbours of each face
  std::vector<std::uint32_t> m_cornerStart, m_corner;      // face corners (3f + k) around each vertex
  std::vector<std::uint32_t> m_component;                  // per face
  std::uint32_t m_numComponents = 0;

  std::vector<Hit> m_hits;           // vertex · numScans + scan
  std::vector<float> m_faceScore;    // face · numScans + scan, < 0 invalid
  std::vector<std::uint32_t> m_label;  // per face, kNoScan when unseen

  std::vector<std::uint32_t> m_chartOfFace;
  std::vector<AtlasChart> m_charts;
  std::vector<std::uint32_t> m_cornerVertex;  // new vertex of each face corner
  std::vector<std::uint32_t> m_source;        // fused vertex of each new vertex
  std::vector<std::uint32_t> m_chartOfVertex;  // chart of each new vertex, kNoScan: neutral
  std::vector<Vec2f> m_scanTexel;             // per new vertex of a textured chart
  std::vector<Vec3f> m_baseColour;            // per new vertex of a textured chart
  std::vector<Vec3f> m_correction;            // per new vertex
};

double Fusion::BuildTopology() {
  const std::size_t nv = m_pos.size();
  // Vertex normals (area-weighted) and the corner lists.
  m_vertexNormal.assign(nv, Vec3f{});
  std::vector<std::uint32_t> count(nv + 1, 0);
  double edgeSum = 0.0;
  std::size_t edgeCount = 0;
  for (std::size_t f = 0; f < m_numFaces; ++f) {
    const std::uint32_t* t = &m_idx[3 * f];
    const Vec3f &a = m_pos[t[0]], &b = m_pos[t[1]], &c = m_pos[t[2]];
    const Vec3f n = (b - a) ^ (c - a);
    if (IsFinite(n)) {
      for (int k = 0; k < 3; ++k) m_vertexNormal[t[k]] += n;
      for (const float e : {(b - a).Length(), (c - b).Length(), (a - c).Length()}) edgeSum += e;
      edgeCount += 3;
    }
    for (int k = 0; k < 3; ++k) ++count[t[k] + 1];
  }
  for (Vec3f& n : m_vertexNormal) {
    const float l = n.Length();
    n = l > 0.f ? n / l : Vec3f{};
  }
  std::partial_sum(count.begin(), count.end(), count.begin());
  m_cornerStart = count;
  m_corner.resize(3 * m_numFaces);
  for (std::uint32_t k = 0; k < 3 * m_numFaces; ++k) m_corner[count[m_idx[k]]++] = k;
  BuildNeighbours();
  BuildComponents();
  return edgeCount ? edgeSum / static_cast<double>(edgeCount) : 0.0;
}

// Edge neighbours: faces sharing an undirected edge.
void Fusion::BuildNeighbours() {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> edges;
  edges.reserve(3 * m_numFaces);
  for (std::uint32_t f = 0; f < m_numFaces; ++f) {
    for (int k = 0; k < 3; ++k) {
      const std::uint64_t a = m_idx[3 * f + k], b = m_idx[3 * f + (k + 1) % 3];
      if (a != b) edges.emplace_back(std::min(a, b) << 32 | std::max(a, b), f);
    }
  }
  std::sort(edges.begin(), edges.end());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i;
    while (j < edges.size() && edges[j].first == edges[i].first) ++j;
    for (std::size_t a = i; a < j; ++a) {
      for (std::size_t b = a + 1; b < j; ++b) {
        if (edges[a].second == edges[b].second) continue;
        pairs.emplace_back(edges[a].second, edges[b].second);
        pairs.emplace_back(edges[b].second, edges[a].second);
      }
    }
    i = j;
  }
  std::sort(pairs.begin(), pairs.end());
  m_faceNbStart.assign(m_numFaces + 1, 0);
  m_faceNb.resize(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    ++m_faceNbStart[pairs[i].first + 1];
    m_faceNb[i] = pairs[i].second;
  }
  std::partial_sum(m_faceNbStart.begin(), m_faceNbStart.end(), m_faceNbStart.begin());
}

// Vertex-connected components, numbered in the order of their first face.
void Fusion::BuildComponents() {
  const std::size_t nv = m_pos.size();
  std::vector<std::uint32_t> parent(nv);
  std::iota(parent.begin(), parent.end(), 0u);
  const auto find = [&](std::uint32_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  };
  for (std::size_t f = 0; f < m_numFaces; ++f) {
    for (int k = 1; k < 3; ++k) {
      const std::uint32_t a = find(m_idx[3 * f]), b = find(m_idx[3 * f + k]);
      if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
  }
  std::vector<std::uint32_t> number(nv, kNoScan);
  m_component.resize(m_numFaces);
  for (std::size_t f = 0; f < m_numFaces; ++f) {
    std::uint32_t& n = number[find(m_idx[3 * f])];
    if (n == kNoScan) n = m_numComponents++;
    m_component[f] = n;
  }
}

bool Fusion::ProjectVertices(double from, double to) {
  const std::size_t nv = m_pos.size();
  m_hits.assign(nv * m_numScans, Hit{});
  const float cosMaxAngle = std::cos(m_options.maxAngle);
  for (std::size_t begin = 0; begin < nv; begin += kBlock) {
    const auto end = static_cast<std::int64_t>(std::min(nv, begin + kBlock));
#pragma omp parallel for schedule(dynamic, 256)
    for (auto v = static_cast<std::int64_t>(begin); v < end; ++v) {
      const auto i = static_cast<std::size_t>(v);
      if (m_cornerStart[i + 1] == m_cornerStart[i] || !IsFinite(m_pos[i])) continue;
      if (m_vertexNormal[i].LengthSquared() == 0.f) continue;
      for (std::size_t s = 0; s < m_numScans; ++s) {
        m_hits[i * m_numScans + s] = m_scans[s]->Find(m_pos[i], m_vertexNormal[i], m_maxDistance, cosMaxAngle);
      }
    }
    if (Report(from + (to - from) * static_cast<double>(end) / static_cast<double>(nv))) return false;
  }
  return true;
}

void Fusion::ScoreFaces() {
  const std::size_t ns = m_numScans;
  m_faceScore.assign(m_numFaces * ns, -1.f);
#pragma omp parallel for schedule(static)
  for (std::int64_t fi = 0; fi < static_cast<std::int64_t>(m_numFaces); ++fi) {
    const auto f = static_cast<std::size_t>(fi);
    const std::uint32_t* t = &m_idx[3 * f];
    const float area3d = 0.5f * ((m_pos[t[1]] - m_pos[t[0]]) ^ (m_pos[t[2]] - m_pos[t[0]])).Length();
    for (std::size_t s = 0; s < ns; ++s) {
      const Hit &a = m_hits[t[0] * ns + s], &b = m_hits[t[1] * ns + s], &c = m_hits[t[2] * ns + s];
      if (a.score < 0.f || b.score < 0.f || c.score < 0.f) continue;
      const float uvArea = 0.5f * ((b.texel[0] - a.texel[0]) * (c.texel[1] - a.texel[1]) -
                                   (c.texel[0] - a.texel[0]) * (b.texel[1] - a.texel[1]));
      const float expected = area3d * (a.density + b.density + c.density) / 3.f;
      // Texture triangles below a hundredth of a texel are not worth checking.
      if (expected > 0.01f) {
        const float ratio = std::fabs(uvArea) / expected;
        if ((uvArea > 0.f ? 1 : -1) != a.uvSign || ratio < 0.25f || ratio > 4.f) continue;
      }
      m_faceScore[f * ns + s] = (a.score + b.score + c.score) / 3.f;
    }
  }
}

void Fusion::SmoothLabels() {
  const std::size_t ns = m_numScans;
  // Data cost 1 − score/best per scan, infinity where the scan cannot be taken.
  std::vector<float> cost(m_numFaces * ns, std::numeric_limits<float>::infinity());
  m_label.assign(m_numFaces, kNoScan);
  for (std::size_t f = 0; f < m_numFaces; ++f) {
    if (ns == 0) break;
    const float* score = &m_faceScore[f * ns];
    const float best = *std::max_element(score, score + ns);
    if (!(best > 0.f)) continue;
    for (std::size_t s = 0; s < ns; ++s) {
      if (score[s] >= 0.f) cost[f * ns + s] = 1.f - score[s] / best;
      if (score[s] == best && m_label[f] == kNoScan) m_label[f] = static_cast<std::uint32_t>(s);
    }
  }
  for (int sweep = 0; sweep < m_options.smoothingSweeps; ++sweep) {
    bool changed = false;
    for (std::size_t f = 0; f < m_numFaces; ++f) {
      if (m_label[f] == kNoScan) continue;
      std::uint32_t bestLabel = m_label[f];
      float bestCost = std::numeric_limits<float>::infinity();
      for (std::uint32_t s = 0; s < ns; ++s) {
        float c = cost[f * ns + s];
        if (!std::isfinite(c)) continue;
        for (std::uint32_t k = m_faceNbStart[f]; k < m_faceNbStart[f + 1]; ++k) {
          if (m_label[m_faceNb[k]] != s) c += m_options.smoothness;
        }
        if (c < bestCost) {
          bestCost = c;
          bestLabel = s;
        }
      }
      changed |= bestLabel != m_label[f];
      m_label[f] = bestLabel;
    }
    if (!changed) break;
  }
}

void Fusion::BuildCharts() {
  m_chartOfFace.assign(m_numFaces, kNoScan);
  std::vector<std::uint32_t> stack;
  for (std::uint32_t seed = 0; seed < m_numFaces; ++seed) {
    if (m_chartOfFace[seed] != kNoScan) continue;
    const auto id = static_cast<std::uint32_t>(m_charts.size());
    AtlasChart& chart = m_charts.emplace_back();
    chart.scan = m_label[seed];
    m_chartOfFace[seed] = id;
    stack.push_back(seed);
    while (!stack.empty()) {
      const std::uint32_t f = stack.back();
      stack.pop_back();
      chart.faces.push_back(f);
      for (std::uint32_t k = m_faceNbStart[f]; k < m_faceNbStart[f + 1]; ++k) {
        const std::uint32_t g = m_faceNb[k];
        if (m_chartOfFace[g] == kNoScan && m_label[g] == chart.scan) {
          m_chartOfFace[g] = id;
          stack.push_back(g);
        }
      }
    }
  }
}

void Fusion::BuildVertices() {
  const std::size_t nv = m_pos.size();
  m_cornerVertex.assign(3 * m_numFaces, 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> local;  // chart, new vertex
  for (std::uint32_t v = 0; v < nv; ++v) {
    local.clear();
    for (std::uint32_t k = m_cornerStart[v]; k < m_cornerStart[v + 1]; ++k) {
      const std::uint32_t corner = m_corner[k];
      const std::uint32_t chart = m_chartOfFace[corner / 3];
      auto it = std::find_if(local.begin(), local.end(), [&](const auto& e) { return e.first == chart; });
      if (it == local.end()) {
        local.emplace_back(chart, static_cast<std::uint32_t>(m_source.size()));
        m_source.push_back(v);
        m_chartOfVertex.push_back(chart);
        it = local.end() - 1;
      }
      m_cornerVertex[corner] = it->second;
    }
    if (local.empty()) {  // in no triangle
      m_source.push_back(v);
      m_chartOfVertex.push_back(kNoScan);
    }
  }
  m_scanTexel.assign(m_source.size(), Vec2f{});
  m_baseColour.assign(m_source.size(), Vec3f{});
  m_correction.assign(m_source.size(), Vec3f{});
  for (std::size_t i = 0; i < m_source.size(); ++i) {
    const std::uint32_t chart = m_chartOfVertex[i];
    if (chart == kNoScan || m_charts[chart].scan == kNoScan) continue;
    const std::uint32_t s = m_charts[chart].scan;
    m_scanTexel[i] = m_hits[m_source[i] * m_numScans + s].texel;
    m_baseColour[i] = SampleSmooth(m_scans[s]->Texture(), m_scanTexel[i]);
  }
}

bool Fusion::LevelSeams() {
  const std::size_t n = m_source.size();
  std::vector<std::int32_t> unknown(n, -1);
  std::int32_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t chart = m_chartOfVertex[i];
    if (chart != kNoScan && m_charts[chart].scan != kNoScan) unknown[i] = count++;
  }
  if (count == 0) return true;
  // Off-diagonal entries as triplets, the diagonal summed apart.
  std::vector<Eigen::Triplet<double>> entries;
  entries.reserve(6 * m_numFaces + 2 * n);
  std::vector<double> diagonal(static_cast<std::size_t>(count), 1e-3);  // the pull to zero
  Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(count, 3);
  const auto addPair = [&](std::int32_t a, std::int32_t b, double w) {
    diagonal[static_cast<std::size_t>(a)] += w;
    diagonal[static_cast<std::size_t>(b)] += w;
    entries.emplace_back(a, b, -w);
    entries.emplace_back(b, a, -w);
  };
  // Seams: the copies of one fused vertex are consecutive new vertices.
  bool anySeam = false;
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i;
    while (j < n && m_source[j] == m_source[i]) ++j;
    for (std::size_t a = i; a < j; ++a) {
      for (std::size_t b = a + 1; b < j; ++b) {
        if (unknown[a] < 0 || unknown[b] < 0) continue;
        anySeam = true;
        addPair(unknown[a], unknown[b], 1.0);
        const Vec3f diff = m_baseColour[a] - m_baseColour[b];  // (fa + ga) − (fb + gb) → 0
        for (int c = 0; c < 3; ++c) {
          rhs(unknown[a], c) -= diff[c];
          rhs(unknown[b], c) += diff[c];
        }
      }
    }
    i = j;
  }
  if (!anySeam) return true;
  for (const AtlasChart& chart : m_charts) {
    if (chart.scan == kNoScan) continue;
    for (std::uint32_t f : chart.faces) {
      // Each edge once from each of its two faces, so half the weight.
      for (int k = 0; k < 3; ++k) {
        addPair(unknown[m_cornerVertex[3 * f + k]], unknown[m_cornerVertex[3 * f + (k + 1) % 3]],
                0.5 * m_options.seamSmoothness);
      }
    }
  }
  for (std::int32_t i = 0; i < count; ++i) entries.emplace_back(i, i, diagonal[static_cast<std::size_t>(i)]);
  Eigen::SparseMatrix<double> matrix(count, count);
  matrix.setFromTriplets(entries.begin(), entries.end());
  Eigen::ConjugateGradient<Eigen::SparseMatrix<double>, Eigen::Lower | Eigen::Upper> solver;
  solver.setMaxIterations(300);
  solver.setTolerance(1e-3);
  solver.compute(matrix);
  for (int c = 0; c < 3; ++c) {
    if (Report(0.7 + 0.03 * c)) return false;
    const Eigen::VectorXd g = solver.solve(rhs.col(c));
    for (std::size_t i = 0; i < n; ++i) {
      if (unknown[i] >= 0) m_correction[i][c] = static_cast<float>(g(unknown[i]));
    }
  }
  return true;
}

void Fusion::ColourFlatCharts() {
  // New vertices of each fused vertex are consecutive: first index per fused vertex.
  std::vector<std::uint32_t> first(m_pos.size() + 1, 0);
  for (std::size_t i = m_source.size(); i-- > 0;) first[m_source[i]] = static_cast<std::uint32_t>(i);
  for (std::size_t i = 0; i < m_source.size(); ++i) {
    const std::uint32_t chart = m_chartOfVertex[i];
    if (chart == kNoScan || m_charts[chart].scan != kNoScan) continue;
    AtlasChart& c = m_charts[chart];
    for (std::size_t j = first[m_source[i]]; j < m_source.size() && m_source[j] == m_source[i]; ++j) {
      const std::uint32_t other = m_chartOfVertex[j];
      if (other == kNoScan || m_charts[other].scan == kNoScan) continue;
      c.flatSum += m_baseColour[j] + m_correction[j];
      ++c.flatSamples;
    }
  }
}

Fusion::Outcome Fusion::FillAtlas(TextureFusionResult& result, double from, double to) {
  AtlasInput input{m_charts, m_cornerVertex, m_chartOfVertex, m_scanTexel, m_correction, {}};
  for (const auto& s : m_scans) input.textures.push_back(&s->Texture());
  TextureAtlas atlas(m_options.maxAtlasSize, m_options.padding);
  if (!atlas.Layout(input)) {
    std::cerr << "Error: TextureFusion::FuseTextures - the charts do not fit into an atlas of at most "
              << m_options.maxAtlasSize << " texels.\n";
    return Outcome::kFailed;
  }
  if (!atlas.Fill(input, utils::SubProgress(m_progress, from, to).AsCallback())) return Outcome::kCancelled;
  result.positions.resize(m_source.size());
  result.texCoords.resize(m_source.size());
  for (std::uint32_t i = 0; i < m_source.size(); ++i) {
    result.positions[i] = m_pos[m_source[i]];
    result.texCoords[i] = atlas.TexCoord(input, i);
  }
  result.indices = m_cornerVertex;
  result.sourceVertex = m_source;
  result.numFusedVertices = m_pos.size();
  result.texture = atlas.TakeImage();
  return Outcome::kDone;
}

bool Fusion::Run(std::span<const TexturedScan> scans, TextureFusionResult& result) {
  if (Report(0.0)) return false;
  m_numFaces = m_idx.size() / 3;
  double scanEdge = 0.0;
  for (std::size_t s = 0; s < scans.size(); ++s) {
    if (!scans[s].texture || scans[s].texture->IsEmpty()) continue;
    m_scans.push_back(std::make_unique<ScanSurface>(scans[s], s));
  }
  m_numScans = m_scans.size();
  std::vector<double> edges(m_numScans);
#pragma omp parallel for schedule(dynamic, 1)
  for (std::int64_t s = 0; s < static_cast<std::int64_t>(m_numScans); ++s) edges[s] = m_scans[s]->Build();
  for (double e : edges) scanEdge = std::max(scanEdge, e);
  const double fusedEdge = BuildTopology();
  m_maxDistance = m_options.maxDistance > 0.f ? m_options.maxDistance
                                               : static_cast<float>(3.0 * std::max(fusedEdge, scanEdge));
  if (Report(0.05)) return false;
  if (m_numScans > 0 && !ProjectVertices(0.05, 0.6)) return false;
  ScoreFaces();
  SmoothLabels();
  if (Report(0.62)) return false;

  std::vector<bool> seen(m_numComponents, false);
  for (std::size_t f = 0; f < m_numFaces; ++f) {
    if (m_label[f] != kNoScan) seen[m_component[f]] = true;
  }
  BuildCharts();
  BuildVertices();
  if (Report(0.68)) return false;
  if (!LevelSeams()) return false;
  ColourFlatCharts();
  if (Report(0.8)) return false;

  TextureFusionResult out;
  if (std::find(seen.begin(), seen.end(), true) != seen.end()) {
    const Outcome outcome = FillAtlas(out, 0.8, 1.0);
    if (outcome == Outcome::kCancelled) return false;
    if (outcome == Outcome::kFailed) seen.assign(m_numComponents, false);
  }
  const bool any = std::find(seen.begin(), seen.end(), true) != seen.end();
  for (std::uint32_t c = 0; c < m_numComponents; ++c) {
    Log("TextureFusion(): CC " + std::to_string(c) + (seen[c] ? " succeeded\n" : " failed!\n"));
  }
  if (!any) return false;
  result = std::move(out);
  return true;
}

}  // namespace

bool FuseTextures(std::span<const math::Vec3f> positions, std::span<const std::uint32_t> indices,
                  std::span<const TexturedScan> scans, const TextureFusionOptions& options,
                  TextureFusionResult& result, const utils::ProgressCallback& progress) {
  if (indices.size() % 3 != 0) {
    throw std::invalid_argument("TextureFusion::FuseTextures - the fused mesh has an incomplete triangle.");
  }
  for (std::uint32_t i : indices) {
    if (i >= positions.size()) {
      throw std::invalid_argument("TextureFusion::FuseTextures - a fused vertex index is out of range.");
    }
  }
  if (options.maxAtlasSize < 16 || options.padding < 1) {
    throw std::invalid_argument("TextureFusion::FuseTextures - the atlas must allow 16 texels and 1 texel padding.");
  }
  Fusion fusion(positions, indices, options, progress);
  return fusion.Run(scans, result);
}

}  // namespace surf
