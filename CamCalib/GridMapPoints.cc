#include "CamCalib/GridMapPoints.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

namespace CamCalib {
namespace {

constexpr const char* kInit = "__CamCalib::GridMapPoints::Init__";
constexpr const char* kSetGrid = "__CamCalib::GridMapPoints::SetGrid__";
constexpr const char* kSetPoints = "__CamCalib::GridMapPoints::SetPoints__";
constexpr const char* kProcess = "__CamCalib::GridMapPoints::Process__";

constexpr std::int64_t kMaxNodes = 4'000'000;

bool IsFinite(const math::Vec2d& p) { return std::isfinite(p[0]) && std::isfinite(p[1]); }

}  // namespace

bool GridMapPoints::Init(double cornerTolerance, double tripleRatio) {
  Reset();
  if (!(cornerTolerance > 0.0 && cornerTolerance <= 0.5) || !(tripleRatio > 1.0) ||
      !std::isfinite(tripleRatio)) {
    Report(m_messages, kInit, "Invalid corner tolerance or triple ratio.");
    return false;
  }
  m_cornerTolerance = cornerTolerance;
  m_tripleRatio = tripleRatio;
  m_state = STATE_INIT;
  return true;
}

void GridMapPoints::Reset() {
  m_state = STATE_NONE;
  m_points.clear();
  m_weights.clear();
  m_used.clear();
  m_nodes.clear();
  m_buckets.clear();
  m_width = m_height = 0;
}

bool GridMapPoints::SetPoints(const std::vector<math::Vec2d>& points,
                              const std::vector<double>& weights) {
  if (m_state < STATE_INIT) {
    Report(m_messages, kSetPoints, "Minimum required state: STATE_INIT");
    return false;
  }
  if (!weights.empty() && weights.size() != points.size()) {
    Report(m_messages, kSetPoints, "Number of weights does not match the number of points.");
    return false;
  }
  m_points = points;
  m_weights = weights.empty() ? std::vector<double>(points.size(), 0.0) : weights;
  m_used.assign(points.size(), 0);
  m_nodes.clear();
  m_width = m_height = 0;
  BuildBuckets();
  m_state = STATE_PRIMS_SET;
  return true;
}

bool GridMapPoints::SetGrid(int xNodeOrigin, int yNodeOrigin, int width, int height) {
  if (m_state < STATE_PRIMS_SET) {
    Report(m_messages, kSetGrid, "Minimum required state: STATE_PRIMS_SET.");
    return false;
  }
  if (width < 2 || height < 2) {
    Report(m_messages, kSetGrid, "Minimum required grid width and height is 2.");
    return false;
  }
  if (std::int64_t(width) * height > kMaxNodes) {
    Report(m_messages, kSetGrid, "Grid of more than " + std::to_string(kMaxNodes) + " nodes.");
    return false;
  }
  if (xNodeOrigin < 0 || yNodeOrigin < 0 || xNodeOrigin >= width - 1 || yNodeOrigin >= height - 1) {
    Report(m_messages, kSetGrid, "Invalid xNodeOrigin or yNodeOrigin coordinate.");
    return false;
  }
  m_xOrigin = xNodeOrigin;
  m_yOrigin = yNodeOrigin;
  m_width = width;
  m_height = height;
  m_nodes.assign(std::size_t(width) * std::size_t(height), -1);
  m_used.assign(m_points.size(), 0);
  m_state = STATE_GRID_SET;
  return true;
}

int GridMapPoints::GetMappedCount() const {
  return int(std::count_if(m_nodes.begin(), m_nodes.end(), [](int i) { return i >= 0; }));
}

void GridMapPoints::BuildBuckets() {
  m_buckets.clear();
  m_bucketsX = m_bucketsY = 0;
  double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
  for (const auto& p : m_points) {
    if (!IsFinite(p)) continue;
    minX = std::min(minX, p[0]), maxX = std::max(maxX, p[0]);
    minY = std::min(minY, p[1]), maxY = std::max(maxY, p[1]);
  }
  if (!(maxX >= minX)) return;
  m_bucketOrigin = {minX, minY};
  m_bucketSize = std::max({8.0, (maxX - minX) / 256.0, (maxY - minY) / 256.0});
  m_bucketsX = int((maxX - minX) / m_bucketSize) + 1;
  m_bucketsY = int((maxY - minY) / m_bucketSize) + 1;
  m_buckets.assign(std::size_t(m_bucketsX) * m_bucketsY, {});
  for (std::size_t i = 0; i < m_points.size(); ++i) {
    const auto& p = m_points[i];
    if (!IsFinite(p)) continue;
    const int bx = int((p[0] - minX) / m_bucketSize), by = int((p[1] - minY) / m_bucketSize);
    m_buckets[std::size_t(by) * m_bucketsX + bx].push_back(int(i));
  }
}

int GridMapPoints::FindCandidate(const math::Mat33d& imageToGrid, const math::Vec2d& node,
                                 const math::Vec2d& predicted, double radius) const {
  if (m_buckets.empty() || !IsFinite(predicted) || !(radius > 0.0) || !std::isfinite(radius))
    return -1;
  const double tol2 = m_cornerTolerance * m_cornerTolerance;
  const auto clampBucket = [](double v, int n) { return int(std::clamp(v, -1.0, double(n))); };
  const int bx0 = std::max(
      0, clampBucket(std::floor((predicted[0] - radius - m_bucketOrigin[0]) / m_bucketSize),
                     m_bucketsX));
  const int bx1 =
      std::min(m_bucketsX - 1,
               clampBucket(std::floor((predicted[0] + radius - m_bucketOrigin[0]) / m_bucketSize),
                           m_bucketsX));
  const int by0 = std::max(
      0, clampBucket(std::floor((predicted[1] - radius - m_bucketOrigin[1]) / m_bucketSize),
                     m_bucketsY));
  const int by1 =
      std::min(m_bucketsY - 1,
               clampBucket(std::floor((predicted[1] + radius - m_bucketOrigin[1]) / m_bucketSize),
                           m_bucketsY));
  int best = -1;
  double bestCost = std::numeric_limits<double>::infinity();
  for (int by = by0; by <= by1; ++by) {
    for (int bx = bx0; bx <= bx1; ++bx) {
      for (int i : m_buckets[std::size_t(by) * m_bucketsX + bx]) {
        if (m_used[std::size_t(i)]) continue;
        math::Vec2d g;
        if (!math::ApplyHomography(imageToGrid, m_points[std::size_t(i)], g)) continue;
        const double d2 = (g - node).LengthSquared();
        if (!(d2 < tol2)) continue;
        const double cost = d2 / (m_weights[std::size_t(i)] + 1.0);
        if (cost < bestCost) bestCost = cost, best = i;
      }
    }
  }
  return best;
}

bool GridMapPoints::IsValidCell(const int corners[4]) const {
  for (int i = 0; i < 4; ++i) {
    if (corners[i] < 0) return false;
    for (int j = 0; j < i; ++j) {
      if (corners[i] == corners[j]) return false;
    }
  }
  return true;
}

bool GridMapPoints::FindCellCorners(const Cell& from, int x, int y, int corners[4]) const {
  math::Mat33d imageToGrid;
  if (!math::Invert(from.homography, imageToGrid)) return false;
  const int nodes[4][2] = {{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}};
  for (int k = 0; k < 4; ++k) {
    const int mapped = GetNode(nodes[k][0], nodes[k][1]);
    if (mapped >= 0) {
      corners[k] = mapped;
      continue;
    }
    const math::Vec2d node{double(nodes[k][0]), double(nodes[k][1])};
    math::Vec2d predicted, alongX, alongY;
    const double t = m_cornerTolerance;
    if (!math::ApplyHomography(from.homography, node, predicted) ||
        !math::ApplyHomography(from.homography, node + math::Vec2d{t, 0.0}, alongX) ||
        !math::ApplyHomography(from.homography, node + math::Vec2d{0.0, t}, alongY)) {
      corners[k] = -1;
      continue;
    }
    // Image radius that surely covers the tolerance (the homography is
    // close to affine over a cell's size).
    const double radius =
        2.0 * std::max((alongX - predicted).Length(), (alongY - predicted).Length());
    corners[k] = FindCandidate(imageToGrid, node, predicted, radius);
  }
  return IsValidCell(corners);
}

bool GridMapPoints::GrowCell(int x, int y, const int corners[4], Cell& cell) {
  const int nodes[4][2] = {{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}};
  for (int k = 0; k < 4; ++k) {
    m_nodes[std::size_t(nodes[k][1]) * m_width + nodes[k][0]] = corners[k];
    m_used[std::size_t(corners[k])] = 1;
  }
  std::vector<math::Vec2d> grid, image;
  for (int j = std::max(0, y - 1); j <= std::min(m_height - 1, y + 2); ++j) {
    for (int i = std::max(0, x - 1); i <= std::min(m_width - 1, x + 2); ++i) {
      const int p = GetNode(i, j);
      if (p < 0) continue;
      grid.push_back({double(i), double(j)});
      image.push_back(m_points[std::size_t(p)]);
    }
  }
  cell.x = x;
  cell.y = y;
  if (grid.size() > 4 && math::FitHomography(grid, image, cell.homography)) return true;
  math::Vec2d g[4], p[4];
  for (int k = 0; k < 4; ++k) {
    g[k] = {double(nodes[k][0]), double(nodes[k][1])};
    p[k] = m_points[std::size_t(corners[k])];
  }
  return math::HomographyFromFourPoints(g, p, cell.homography);
}

bool GridMapPoints::Process(const int indices[4]) {
  if (m_state < STATE_GRID_SET || m_nodes.empty()) {
    Report(m_messages, kProcess, "Minimum required state: STATE_GRID_SET");
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    bool distinct = true;
    for (int j = 0; j < k; ++j) distinct = distinct && indices[j] != indices[k];
    if (indices[k] < 0 || std::size_t(indices[k]) >= m_points.size() || !distinct ||
        !IsFinite(m_points[std::size_t(indices[k])])) {
      Report(m_messages, kProcess, "An input primitive index is invalid.");
      return false;
    }
  }
  std::fill(m_nodes.begin(), m_nodes.end(), -1);
  std::fill(m_used.begin(), m_used.end(), 0);
  const int x = m_xOrigin, y = m_yOrigin;
  const math::Vec2d grid[4] = {{double(x), double(y)},
                               {double(x + 1), double(y)},
                               {double(x + 1), double(y + 1)},
                               {double(x), double(y + 1)}};
  math::Vec2d image[4];
  for (int k = 0; k < 4; ++k) image[k] = m_points[std::size_t(indices[k])];
  Cell first;
  first.x = x;
  first.y = y;
  if (!math::HomographyFromFourPoints(grid, image, first.homography)) {
    Report(m_messages, kProcess, "Could not initialize first homography.");
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    m_nodes[std::size_t(grid[k][1]) * m_width + std::size_t(grid[k][0])] = indices[k];
    m_used[std::size_t(indices[k])] = 1;
  }
  std::vector<char> valid(std::size_t(m_width - 1) * std::size_t(m_height - 1), 0);
  valid[std::size_t(y) * (m_width - 1) + x] = 1;
  std::deque<Cell> queue{first};
  const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  while (!queue.empty()) {
    const Cell cell = queue.front();
    queue.pop_front();
    for (const auto& s : steps) {
      const int cx = cell.x + s[0], cy = cell.y + s[1];
      if (cx < 0 || cy < 0 || cx >= m_width - 1 || cy >= m_height - 1) continue;
      char& done = valid[std::size_t(cy) * (m_width - 1) + cx];
      if (done) continue;
      int corners[4];
      if (!FindCellCorners(cell, cx, cy, corners)) continue;
      Cell next;
      if (!GrowCell(cx, cy, corners, next)) continue;
      done = 1;
      queue.push_back(next);
    }
  }
  m_state = STATE_PROCESSED;
  return true;
}

}  // namespace CamCalib
