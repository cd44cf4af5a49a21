#include "CamCalib/GridMapEllipses.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace CamCalib {
namespace {

constexpr const char* kGeneral = "__CamCalib::GridMapEllipses__";
constexpr const char* kProcess = "__CamCalib::GridMapEllipses::Process__";
constexpr const char* kCorrespondences = "__CamCalib::GridMapEllipses::GetCorrespondences__";

double Cross(const math::Vec2d& a, const math::Vec2d& b) { return a[0] * b[1] - a[1] * b[0]; }

// The largest rating of a marker cell: its four marks, seen through the
// cell's homography, are circles of one size to within a few tens of a
// percent (a wrong corner choice shears them by a factor of about 2.6).
constexpr double kMaxRating = 0.3;

// A mapped centre farther than this (pixels; or five times the median) from
// where its neighbours' homography puts it is dropped: a mark cut by a
// shadow, an occluder or the image border.
constexpr double kMaxResidual = 0.3;

// Corrected centres: the pole of the vanishing line of planeToImage with
// respect to each ellipse; a centre that cannot be corrected keeps its value.
void CorrectCentres(const math::Mat33d& planeToImage, const std::vector<img::Ellipse>& ellipses,
                    const std::vector<int>& indices, std::vector<math::Vec2d>& centres) {
  math::Vec<3, double> line;
  if (!img::VanishingLine(planeToImage, line)) return;
  for (std::size_t k = 0; k < indices.size(); ++k) {
    math::Vec2d c;
    if (img::ProjectedCircleCentre(img::ToConic(ellipses[std::size_t(indices[k])]), line, c))
      centres[k] = c;
  }
}

}  // namespace

bool GetHomographyAlgebraic(const math::Vec2d* from, const math::Vec2d* to,
                            math::Mat33d& homography, Messages* messages) {
  if (from == nullptr || to == nullptr) {
    ReportLine(messages, "Error in GetHomographyAlgebraic - An input parameter is a NULL pointer.");
    return false;
  }
  return math::HomographyFromFourPoints(from, to, homography);
}

bool GridMapEllipses::Init(double cornerTolerance, double tripleRatio, int imageWidth,
                           int imageHeight) {
  m_imageWidth = imageWidth;
  m_imageHeight = imageHeight;
  m_ellipses.clear();
  m_polarities.clear();
  m_markerCell = {-1, -1, -1, -1};
  return GridMapPoints::Init(cornerTolerance, tripleRatio);
}

bool GridMapEllipses::SetEllipses(const std::vector<img::Ellipse>& ellipses,
                                  const std::vector<bool>& polarities) {
  if (ellipses.size() != polarities.size()) {
    Report(m_messages, "__CamCalib::GridMapPoints::SetPoints__",
           "Number of polarities does not match the number of ellipses.");
    return false;
  }
  std::vector<math::Vec2d> centres;
  centres.reserve(ellipses.size());
  for (const auto& e : ellipses) centres.push_back(e.Centre());
  if (!SetPoints(centres)) return false;
  m_ellipses = ellipses;
  m_polarities = polarities;
  m_markerCell = {-1, -1, -1, -1};
  return true;
}

bool GridMapEllipses::SetCalibGrid(const CalibGrid& grid) {
  if (!SetGrid(grid.originX, grid.originY, grid.countX, grid.countY)) return false;
  m_markerX = std::isfinite(grid.markerX) ? grid.markerX : 0.5;
  m_markerY = std::isfinite(grid.markerY) ? grid.markerY : 0.5;
  return true;
}

bool GridMapEllipses::FindTriples(std::vector<std::array<int, 3>>& triples) const {
  std::vector<int> negatives;
  for (std::size_t i = 0; i < m_ellipses.size(); ++i) {
    if (!m_polarities[i]) negatives.push_back(int(i));
  }
  const double ratio2 = m_tripleRatio * m_tripleRatio;
  auto d2 = [&](int a, int b) {
    return (m_points[std::size_t(a)] - m_points[std::size_t(b)]).LengthSquared();
  };
  std::vector<std::array<int, 3>> choice(negatives.size(), {-1, -1, -1});
  for (std::size_t n = 0; n < negatives.size(); ++n) {
    const int i = negatives[n];
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t a = 0; a < negatives.size(); ++a) {
      for (std::size_t b = a + 1; b < negatives.size(); ++b) {
        const int j = negatives[a], k = negatives[b];
        if (j == i || k == i) continue;
        const double s[3] = {d2(i, j), d2(i, k), d2(j, k)};
        const double lo = std::min({s[0], s[1], s[2]}), hi = std::max({s[0], s[1], s[2]});
        if (!(hi <= ratio2 * lo) || !(lo > 0.0)) continue;
        const double sum = s[0] + s[1] + s[2];
        if (sum < best) {
          best = sum;
          std::array<int, 3> t{i, j, k};
          std::sort(t.begin(), t.end());
          choice[n] = t;
        }
      }
    }
  }
  for (std::size_t n = 0; n < negatives.size(); ++n) {
    const auto& t = choice[n];
    if (t[0] < 0) continue;
    bool mutual = true;
    for (int member : t) {
      const auto it = std::find(negatives.begin(), negatives.end(), member);
      mutual = mutual && choice[std::size_t(it - negatives.begin())] == t;
    }
    if (mutual && std::find(triples.begin(), triples.end(), t) == triples.end())
      triples.push_back(t);
  }
  return !triples.empty();
}

// Σ (rx − ry)² / (rx·ry) + Σ (log r − mean log r)² over the four ellipses
// pulled back onto the cell's square.
double GridMapEllipses::RateCell(const int four[4]) const {
  // The cell's square: nodes (x, y), (x+1, y), (x+1, y+1), (x, y+1) at
  // (−1, −1), (1, −1), (1, 1), (−1, 1).
  const math::Vec2d square[4] = {{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}};
  math::Vec2d image[4];
  for (int k = 0; k < 4; ++k) image[k] = m_points[std::size_t(four[k])];
  math::Mat33d h;
  if (!GetHomographyAlgebraic(square, image, h, m_messages))
    return std::numeric_limits<double>::infinity();
  double logRadius[4], rating = 0.0, mean = 0.0;
  for (int k = 0; k < 4; ++k) {
    img::Ellipse e;
    if (!img::FromConic(img::PullBackConic(img::ToConic(m_ellipses[std::size_t(four[k])]), h), e))
      return std::numeric_limits<double>::infinity();
    rating += (e.rx - e.ry) * (e.rx - e.ry) / (e.rx * e.ry);
    logRadius[k] = 0.5 * std::log(e.rx * e.ry);
    mean += logRadius[k] / 4.0;
  }
  for (double r : logRadius) rating += (r - mean) * (r - mean);
  return rating;
}

bool GridMapEllipses::Process() {
  m_markerCell = {-1, -1, -1, -1};
  if (m_state < STATE_GRID_SET || m_nodes.empty()) {
    Report(m_messages, kProcess, "Minimum required state: STATE_GRID_SET");
    return false;
  }
  std::vector<std::array<int, 3>> triples;
  if (!FindTriples(triples)) {
    Report(m_messages, kProcess, "Could not find triple of negative ellipses.");
    return false;
  }
  // The triple nearest to the expected marker position; one farther than
  // 0.6 image diagonals belongs to another target (the other panel of a
  // corner whose own marker cell is hidden).
  const math::Vec2d expected{m_markerX * m_imageWidth, m_markerY * m_imageHeight};
  const double reach = 0.6 * std::hypot(double(m_imageWidth), double(m_imageHeight));
  std::array<int, 3> triple{-1, -1, -1};
  double nearest = std::numeric_limits<double>::infinity();
  for (const auto& t : triples) {
    double sum = 0.0;
    bool near = true;
    for (int i : t) {
      const double d2 = (m_points[std::size_t(i)] - expected).LengthSquared();
      sum += d2;
      near = near && (m_imageWidth <= 0 || d2 <= reach * reach);
    }
    if (near && sum < nearest) nearest = sum, triple = t;
  }
  if (triple[0] < 0) {
    Report(m_messages, kProcess,
           "Could not find triple of negative ellipses near the expected marker position.");
    return false;
  }
  for (int i : triple) {
    if (i < 0 || std::size_t(i) >= m_points.size() || m_polarities[std::size_t(i)]) {
      Report(m_messages, kProcess, "One of the three starting indices is invalid.");
      return false;
    }
  }
  if (Cross(m_points[std::size_t(triple[1])] - m_points[std::size_t(triple[0])],
            m_points[std::size_t(triple[2])] - m_points[std::size_t(triple[0])]) < 0.0)
    std::swap(triple[1], triple[2]);
  double bestRating = std::numeric_limits<double>::infinity();
  int best[4] = {-1, -1, -1, -1};
  for (int r = 0; r < 3; ++r) {
    const int c = triple[std::size_t(r)], a = triple[std::size_t((r + 1) % 3)],
              b = triple[std::size_t((r + 2) % 3)];
    const math::Vec2d pc = m_points[std::size_t(c)], pa = m_points[std::size_t(a)],
                      pb = m_points[std::size_t(b)];
    const math::Vec2d predicted = pa + pb - pc;
    const double side = std::min((pa - pc).Length(), (pb - pc).Length());
    int q = -1;
    double distance = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < m_points.size(); ++i) {
      if (!m_polarities[i]) continue;
      const double d = (m_points[i] - predicted).Length();
      if (d < distance) distance = d, q = int(i);
    }
    // The nearest normal ellipse must be a corner of its own, not one of
    // the triple's rings seen from outside.
    if (q < 0 || distance > 0.5 * side) continue;
    const math::Vec2d pq = m_points[std::size_t(q)];
    if ((pq - pa).Length() < 0.3 * side || (pq - pb).Length() < 0.3 * side ||
        (pq - pc).Length() < 0.3 * side)
      continue;
    const int four[4] = {c, a, q, b};
    const double rating = RateCell(four);
    if (!(rating < kMaxRating)) continue;
    if (rating < bestRating) bestRating = rating, std::copy(four, four + 4, best);
  }
  if (best[2] < 0) {
    Report(m_messages, kProcess, "The fourth starting index is invalid.");
    return false;
  }
  std::copy(best, best + 4, m_markerCell.begin());
  return GridMapPoints::Process(best);
}

bool GridMapEllipses::ComputeHomography(const std::vector<math::Vec2d>& from,
                                        const std::vector<math::Vec2d>& to,
                                        math::Mat33d& homography) {
  if (from.size() != to.size()) {
    Report(m_messages, kGeneral,
           "Error while computing homography. Amount of input and output points do not match!");
    return false;
  }
  if (from.size() < 5) {
    Report(m_messages, kGeneral,
           "Error while computing homography. At least 5 point correspondences are needed!");
    return false;
  }
  if (!math::FitHomography(from, to, homography)) {
    Report(m_messages, kGeneral, "Error while computing homography. The points lie on a line.");
    return false;
  }
  return true;
}

bool GridMapEllipses::ComputeCentres(int mode, std::vector<math::Vec2i>& nodes,
                                     std::vector<math::Vec2d>& centres) {
  nodes.clear();
  centres.clear();
  if (mode < 0 || mode > 2) {
    Report(m_messages, kGeneral, "Invalid centre mode " + std::to_string(mode) + " (0, 1 or 2).");
    return false;
  }
  std::vector<int> indices;
  std::vector<math::Vec2d> grid;
  for (int y = 0; y < m_height; ++y) {
    for (int x = 0; x < m_width; ++x) {
      const int i = GetNode(x, y);
      if (i < 0) continue;
      nodes.push_back({x, y});
      grid.push_back({double(x), double(y)});
      indices.push_back(i);
      centres.push_back(m_ellipses[std::size_t(i)].Centre());
    }
  }
  if (mode == 0) {
    RejectOutliers(nodes, centres);
    return true;
  }
  math::Mat33d global;
  if (!ComputeHomography(grid, centres, global)) return false;
  if (mode == 2) {
    for (int pass = 0; pass < 2; ++pass) {
      if (pass > 0 && !math::FitHomography(grid, centres, global)) break;
      CorrectCentres(global, m_ellipses, indices, centres);
    }
    RejectOutliers(nodes, centres);
    return true;
  }
  // Mode 1: per node the homography of its neighbourhood.
  std::vector<int> slot(m_nodes.size(), -1);
  for (std::size_t k = 0; k < nodes.size(); ++k)
    slot[std::size_t(nodes[k][1]) * m_width + nodes[k][0]] = int(k);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<math::Vec2d> corrected = centres;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      std::vector<math::Vec2d> from, to;
      for (int radius = 2; radius <= 3 && from.size() < 9; ++radius) {
        from.clear(), to.clear();
        for (int y = std::max(0, nodes[k][1] - radius);
             y <= std::min(m_height - 1, nodes[k][1] + radius); ++y) {
          for (int x = std::max(0, nodes[k][0] - radius);
               x <= std::min(m_width - 1, nodes[k][0] + radius); ++x) {
            const int s = slot[std::size_t(y) * m_width + x];
            if (s < 0) continue;
            from.push_back(grid[std::size_t(s)]);
            to.push_back(centres[std::size_t(s)]);
          }
        }
      }
      math::Mat33d local;
      if (from.size() < 9 || !math::FitHomography(from, to, local)) local = global;
      std::vector<math::Vec2d> one{corrected[k]};
      CorrectCentres(local, m_ellipses, {indices[k]}, one);
      corrected[k] = one[0];
    }
    centres = std::move(corrected);
  }
  RejectOutliers(nodes, centres);
  return true;
}

void GridMapEllipses::RejectOutliers(std::vector<math::Vec2i>& nodes,
                                     std::vector<math::Vec2d>& centres) {
  const std::size_t n = nodes.size();
  std::vector<int> slot(m_nodes.size(), -1);
  for (std::size_t k = 0; k < n; ++k)
    slot[std::size_t(nodes[k][1]) * m_width + nodes[k][0]] = int(k);
  std::vector<char> removed(n, 0);
  // The distance of a centre from where the homography of its mapped
  // neighbours (up to two nodes away, itself left out) puts it; NaN with
  // fewer than eight neighbours.
  auto residual = [&](std::size_t k) {
    std::vector<math::Vec2d> from, to;
    for (int y = std::max(0, nodes[k][1] - 2); y <= std::min(m_height - 1, nodes[k][1] + 2); ++y) {
      for (int x = std::max(0, nodes[k][0] - 2); x <= std::min(m_width - 1, nodes[k][0] + 2); ++x) {
        const int s = slot[std::size_t(y) * m_width + x];
        if (s < 0 || std::size_t(s) == k || removed[std::size_t(s)]) continue;
        from.push_back({double(x), double(y)});
        to.push_back(centres[std::size_t(s)]);
      }
    }
    math::Mat33d h;
    math::Vec2d predicted;
    if (from.size() < 8 || !math::FitHomography(from, to, h) ||
        !math::ApplyHomography(h, {double(nodes[k][0]), double(nodes[k][1])}, predicted))
      return std::numeric_limits<double>::quiet_NaN();
    return (predicted - centres[k]).Length();
  };
  std::vector<double> r(n), finite;
  for (std::size_t k = 0; k < n; ++k) {
    r[k] = residual(k);
    if (std::isfinite(r[k])) finite.push_back(r[k]);
  }
  if (finite.empty()) return;
  std::nth_element(finite.begin(), finite.begin() + finite.size() / 2, finite.end());
  const double threshold = std::max(kMaxResidual, 5.0 * finite[finite.size() / 2]);
  for (;;) {
    std::size_t worst = n;
    for (std::size_t k = 0; k < n; ++k) {
      if (!removed[k] && std::isfinite(r[k]) && (worst == n || r[k] > r[worst])) worst = k;
    }
    if (worst == n || !(r[worst] > threshold)) break;
    removed[worst] = 1;
    for (std::size_t k = 0; k < n; ++k) {
      if (!removed[k] && std::abs(nodes[k][0] - nodes[worst][0]) <= 2 &&
          std::abs(nodes[k][1] - nodes[worst][1]) <= 2)
        r[k] = residual(k);
    }
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (removed[k]) {
      int& entry = m_nodes[std::size_t(nodes[k][1]) * m_width + nodes[k][0]];
      m_used[std::size_t(entry)] = 0;
      entry = -1;
      continue;
    }
    nodes[kept] = nodes[k];
    centres[kept] = centres[k];
    ++kept;
  }
  nodes.resize(kept);
  centres.resize(kept);
}

bool GridMapEllipses::GetCorrespondences(const CalibGrid& grid, int mode,
                                         std::vector<math::Vec2d>& imagePoints,
                                         std::vector<math::Vec2i>& nodes,
                                         std::vector<math::Vec3d>& platePoints,
                                         std::vector<math::Vec3d>& worldPoints) {
  imagePoints.clear();
  nodes.clear();
  platePoints.clear();
  worldPoints.clear();
  if (m_state < STATE_PROCESSED) {
    Report(m_messages, kCorrespondences, "Minimum required state: STATE_PROCESSED.");
    return false;
  }
  if (!ComputeCentres(mode, nodes, imagePoints)) {
    nodes.clear();
    imagePoints.clear();
    return false;
  }
  for (const auto& n : nodes) {
    const math::Vec3d plate{n[0] * grid.spacingX, n[1] * grid.spacingY, 0.0};
    platePoints.push_back(plate);
    worldPoints.push_back(grid.world_T_plate.MultP(plate));
  }
  return true;
}

}  // namespace CamCalib
