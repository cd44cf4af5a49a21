#include "foundation/img/EllipseGridMapping.h"

#include <cmath>
#include <deque>
#include <limits>
#include <stdexcept>

namespace img {
namespace {

constexpr double kTolerance = 0.3;  // grid cells

double Cross(const math::Vec2d& a, const math::Vec2d& b) { return a[0] * b[1] - a[1] * b[0]; }

bool IsUnitStep(const math::Vec2i& d) { return std::abs(d[0]) + std::abs(d[1]) == 1; }

}  // namespace

// An affine map grid → image, p = A·g + t.
struct EllipseGridMapping::LocalMap {
  double a[2][2]{};
  math::Vec2d t;

  math::Vec2d operator()(const math::Vec2d& g) const {
    return {a[0][0] * g[0] + a[0][1] * g[1] + t[0], a[1][0] * g[0] + a[1][1] * g[1] + t[1]};
  }
  // |A⁻¹·d|: an image offset in grid cells.
  double GridLength(const math::Vec2d& d) const {
    const double det = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    const double gx = (a[1][1] * d[0] - a[0][1] * d[1]) / det;
    const double gy = (-a[1][0] * d[0] + a[0][0] * d[1]) / det;
    return std::sqrt(gx * gx + gy * gy);
  }
};

namespace {

// Weighted least squares; false for collinear nodes.
bool FitAffine(const std::vector<math::Vec2d>& grid, const std::vector<math::Vec2d>& image,
               const std::vector<double>& weights, EllipseGridMapping::LocalMap& out) {
  // Normal equations of [gx gy 1] per image coordinate.
  double m[3][3]{}, r[2][3]{};
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const double row[3] = {grid[i][0], grid[i][1], 1.0};
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) m[j][k] += weights[i] * row[j] * row[k];
      r[0][j] += weights[i] * row[j] * image[i][0];
      r[1][j] += weights[i] * row[j] * image[i][1];
    }
  }
  math::Mat33d mm;
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) mm(j, k) = m[j][k];
  }
  // Collinear nodes leave the system (near) singular.
  const double scale = mm(0, 0) * mm(1, 1) * mm(2, 2);
  math::Mat33d inverse;
  if (!(std::abs(math::Determinant(mm)) > 1e-9 * scale) || !math::Invert(mm, inverse)) return false;
  for (int c = 0; c < 2; ++c) {
    const math::Vec<3, double> x = inverse * math::Vec<3, double>{r[c][0], r[c][1], r[c][2]};
    out.a[c][0] = x[0];
    out.a[c][1] = x[1];
    out.t[c] = x[2];
  }
  const double det = out.a[0][0] * out.a[1][1] - out.a[0][1] * out.a[1][0];
  return std::isfinite(det) && det != 0.0;
}

}  // namespace

EllipseGridMapping::EllipseGridMapping(int gridWidth, int gridHeight)
    : m_width(gridWidth), m_height(gridHeight) {
  if (gridWidth < 2 || gridHeight < 2)
    throw std::invalid_argument("EllipseGridMapping - gridWidth and gridHeight must be >= 2");
  m_nodes.assign(std::size_t(m_width) * m_height, -1);
  m_points.resize(m_nodes.size());
}

int EllipseGridMapping::GetMappedCount() const {
  int n = 0;
  for (int i : m_nodes) n += i >= 0;
  return n;
}

bool EllipseGridMapping::Map(const std::vector<Ellipse>& ellipses, const std::vector<bool>& normal,
                             const GridMarkerCell& cell) {
  if (ellipses.size() != normal.size())
    throw std::invalid_argument(
        "EllipseGridMapping::Map - ellipses and polarities differ in number");
  const math::Vec2i fourth = cell.Fourth();
  const math::Vec2i da = cell.first - cell.corner, db = cell.second - cell.corner;
  auto inside = [&](const math::Vec2i& n) {
    return n[0] >= 0 && n[1] >= 0 && n[0] < m_width && n[1] < m_height;
  };
  if (!IsUnitStep(da) || !IsUnitStep(db) || da[0] * db[1] - da[1] * db[0] <= 0 ||
      !inside(cell.corner) || !inside(cell.first) || !inside(cell.second) || !inside(fourth))
    throw std::invalid_argument(
        "EllipseGridMapping::Map - the marker cell must be three inverted nodes of one grid cell "
        "inside the grid, "
        "the second and third turning clockwise from the corner");
  m_nodes.assign(m_nodes.size(), -1);
  m_error.clear();
  int indices[4];
  if (!FindMarkerCell(ellipses, normal, indices)) return false;
  const math::Vec2i seeds[4] = {cell.corner, cell.first, cell.second, fourth};
  for (int k = 0; k < 4; ++k) {
    const std::size_t node = std::size_t(seeds[k][1]) * m_width + seeds[k][0];
    m_nodes[node] = indices[k];
    m_points[node] = ellipses[std::size_t(indices[k])].Centre();
  }
  Grow(ellipses);
  return true;
}

bool EllipseGridMapping::FindMarkerCell(const std::vector<Ellipse>& ellipses,
                                        const std::vector<bool>& normal, int indices[4]) {
  std::vector<int> negatives, normals;
  for (std::size_t i = 0; i < ellipses.size(); ++i)
    (normal[i] ? normals : negatives).push_back(int(i));
  if (negatives.size() < 3) {
    m_error = "fewer than three negative ellipses: no marker cell";
    return false;
  }
  double best = std::numeric_limits<double>::infinity();
  for (int c : negatives) {
    const math::Vec2d pc = ellipses[std::size_t(c)].Centre();
    for (int a : negatives) {
      if (a == c) continue;
      for (int b : negatives) {
        if (b == c || b == a) continue;
        const math::Vec2d va = ellipses[std::size_t(a)].Centre() - pc;
        const math::Vec2d vb = ellipses[std::size_t(b)].Centre() - pc;
        const double la = va.Length(), lb = vb.Length();
        if (Cross(va, vb) <= 0.0 || la > 3.0 * lb || lb > 3.0 * la) continue;
        // Far from a right angle even under strong perspective: no cell.
        if (std::abs(math::Dot(va, vb)) > 0.9 * la * lb) continue;
        const math::Vec2d predicted = pc + va + vb;
        int q = -1;
        double nearest = 0.35 * std::min(la, lb);
        for (int n : normals) {
          const double d = (ellipses[std::size_t(n)].Centre() - predicted).Length();
          if (d < nearest) nearest = d, q = n;
        }
        if (q < 0) continue;
        const int four[4] = {c, a, b, q};
        // Seen through the affine map of the cell (corner, its two
        // neighbours) the four marks must be equal circles: a wrong corner
        // choice shears them into ellipses.
        math::Mat33d cellToImage;
        cellToImage(0, 0) = va[0], cellToImage(1, 0) = va[1];
        cellToImage(0, 1) = vb[0], cellToImage(1, 1) = vb[1];
        cellToImage(0, 2) = pc[0], cellToImage(1, 2) = pc[1], cellToImage(2, 2) = 1.0;
        double cost = nearest / (0.5 * (la + lb)), mean = 0.0, logSize[4];
        bool valid = true;
        for (int k = 0; k < 4 && valid; ++k) {
          Ellipse g;
          valid = FromConic(PullBackConic(ToConic(ellipses[std::size_t(four[k])]), cellToImage), g);
          if (!valid) break;
          cost += (g.rx - g.ry) * (g.rx - g.ry) / (g.rx * g.ry);
          logSize[k] = 0.5 * std::log(g.rx * g.ry);
          mean += logSize[k] / 4.0;
        }
        if (!valid) continue;
        for (double l : logSize) cost += (l - mean) * (l - mean);
        if (cost < best) {
          best = cost;
          for (int k = 0; k < 4; ++k) indices[k] = four[k];
        }
      }
    }
  }
  if (!std::isfinite(best)) {
    m_error = "no three negative ellipses form a marker cell with a normal one";
    return false;
  }
  return true;
}

bool EllipseGridMapping::Predict(const math::Vec2i& node, const math::Vec2i& from,
                                 LocalMap& local) const {
  std::vector<math::Vec2d> grid, points;
  std::vector<double> weights;
  for (int radius = 2; radius <= 3 && grid.size() < 6; ++radius) {
    grid.clear(), points.clear(), weights.clear();
    for (int y = std::max(0, node[1] - radius); y <= std::min(m_height - 1, node[1] + radius);
         ++y) {
      for (int x = std::max(0, node[0] - radius); x <= std::min(m_width - 1, node[0] + radius);
           ++x) {
        const std::size_t i = std::size_t(y) * m_width + x;
        if (m_nodes[i] < 0) continue;
        const double dx = x - node[0], dy = y - node[1];
        grid.push_back({double(x), double(y)});
        points.push_back(m_points[i]);
        weights.push_back(1.0 / (1.0 + dx * dx + dy * dy));
      }
    }
  }
  if (grid.size() >= 3 && FitAffine(grid, points, weights, local)) {
    const math::Vec2d image = local({double(node[0]), double(node[1])});
    return std::isfinite(image[0]) && std::isfinite(image[1]);
  }
  // Only a line of mapped nodes: extrapolate along it.
  const math::Vec2i back = from - (node - from);
  if (back[0] < 0 || back[1] < 0 || back[0] >= m_width || back[1] >= m_height) return false;
  const std::size_t b = std::size_t(back[1]) * m_width + back[0],
                    f = std::size_t(from[1]) * m_width + from[0];
  if (m_nodes[b] < 0) return false;
  // A similarity along the step: the cross direction gets the same scale.
  const math::Vec2d step = m_points[f] - m_points[b];
  const math::Vec2d g = {double(node[0] - from[0]), double(node[1] - from[1])};
  const math::Vec2d cross = {-step[1], step[0]};
  const math::Vec2d gx = g[0] != 0.0 ? step * g[0] : cross * -g[1];
  const math::Vec2d gy = g[0] != 0.0 ? cross * g[0] : step * g[1];
  local.a[0][0] = gx[0], local.a[1][0] = gx[1];
  local.a[0][1] = gy[0], local.a[1][1] = gy[1];
  local.t = m_points[f] - local({double(from[0]), double(from[1])}) + local.t;
  return step.LengthSquared() > 0.0;
}

void EllipseGridMapping::Grow(const std::vector<Ellipse>& ellipses) {
  std::vector<char> used(ellipses.size(), 0);
  std::deque<math::Vec2i> queue;
  for (int y = 0; y < m_height; ++y) {
    for (int x = 0; x < m_width; ++x) {
      const int i = m_nodes[std::size_t(y) * m_width + x];
      if (i >= 0) used[std::size_t(i)] = 1, queue.push_back({x, y});
    }
  }
  const math::Vec2i steps[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  while (!queue.empty()) {
    const math::Vec2i from = queue.front();
    queue.pop_front();
    for (const math::Vec2i& d : steps) {
      const math::Vec2i node = from + d;
      if (node[0] < 0 || node[1] < 0 || node[0] >= m_width || node[1] >= m_height) continue;
      const std::size_t slot = std::size_t(node[1]) * m_width + node[0];
      if (m_nodes[slot] >= 0) continue;
      LocalMap local;
      if (!Predict(node, from, local)) continue;
      const math::Vec2d predicted = local({double(node[0]), double(node[1])});
      // The nearest free ellipse, measured in grid cells through the local map.
      int best = -1;
      double bestDistance = kTolerance;
      for (std::size_t i = 0; i < ellipses.size(); ++i) {
        if (used[i]) continue;
        const double dist = local.GridLength(ellipses[i].Centre() - predicted);
        if (dist < bestDistance) bestDistance = dist, best = int(i);
      }
      if (best < 0) continue;
      m_nodes[slot] = best;
      m_points[slot] = ellipses[std::size_t(best)].Centre();
      used[std::size_t(best)] = 1;
      queue.push_back(node);
    }
  }
}

}  // namespace img
