#include "surf/mesh/DepthMapFilter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace surf {
namespace {

using DepthImage = DepthMap::DepthImage;
using QualityImage = DepthMap::QualityImage;

void Invalidate(DepthImage& depth, QualityImage& quality, std::size_t i) {
  depth.data[i] = 0.0f;
  quality.data[i] = 0;
}

void RemoveLowQuality(DepthImage& depth, QualityImage& quality, std::uint8_t threshold) {
  for (std::int32_t i = 0; i < depth.size; ++i) {
    if (quality.data[i] <= threshold || !std::isfinite(depth.data[i])) Invalidate(depth, quality, i);
  }
}

void RemoveBackground(DepthImage& depth, QualityImage& quality, const DepthImage& background, double epsilon) {
  for (std::int32_t i = 0; i < depth.size; ++i) {
    const float b = background.data[i];
    if (b != 0.0f && double(depth.data[i]) >= double(b) - epsilon) Invalidate(depth, quality, i);
  }
}

// Fills the gaps of every column (stride = width between pixels of a line)
// or every row. A gap between valid positions i < j is filled when
// 1 < j − i ≤ limit.
void FillColumnGaps(DepthImage& depth, int limit) {
  const std::uint32_t w = depth.width, h = depth.height;
  std::vector<std::int64_t> last(w, -1);
  for (std::uint32_t y = 0; y < h; ++y) {
    float* row = depth.Row(y);
    for (std::uint32_t x = 0; x < w; ++x) {
      if (!(row[x] > 0.0f)) continue;
      const std::int64_t i = last[x], j = y;
      if (i >= 0 && j - i > 1 && j - i <= limit) {
        const float di = depth(x, std::uint32_t(i)), dj = row[x];
        for (std::int64_t k = i + 1; k < j; ++k) {
          depth(x, std::uint32_t(k)) = di + (dj - di) * float(k - i) / float(j - i);
        }
      }
      last[x] = j;
    }
  }
}

void FillRowGaps(DepthImage& depth, int limit) {
  const std::uint32_t w = depth.width, h = depth.height;
  for (std::uint32_t y = 0; y < h; ++y) {
    float* row = depth.Row(y);
    std::int64_t i = -1;
    for (std::int64_t j = 0; j < std::int64_t(w); ++j) {
      if (!(row[j] > 0.0f)) continue;
      if (i >= 0 && j - i > 1 && j - i <= limit) {
        const float di = row[i], dj = row[j];
        for (std::int64_t k = i + 1; k < j; ++k) row[k] = di + (dj - di) * float(k - i) / float(j - i);
      }
      i = j;
    }
  }
}

std::uint32_t FindRoot(std::vector<std::uint32_t>& parent, std::uint32_t a) {
  while (parent[a] != a) {
    parent[a] = parent[parent[a]];
    a = parent[a];
  }
  return a;
}

void Unite(std::vector<std::uint32_t>& parent, std::uint32_t a, std::uint32_t b) {
  a = FindRoot(parent, a);
  b = FindRoot(parent, b);
  if (a < b) {
    parent[b] = a;
  } else if (b < a) {
    parent[a] = b;
  }
}

void RemoveFragments(DepthImage& depth, QualityImage& quality, double minRatio, float maxJump) {
  const std::uint32_t w = depth.width, h = depth.height;
  const float* d = depth.data;
  std::vector<std::uint32_t> label(std::size_t(w) * h, 0);
  std::vector<std::uint32_t> parent{0};  // label 0: no region
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::size_t i = std::size_t(y) * w + x;
      if (!(d[i] > 0.0f)) continue;
      const bool left = x > 0 && label[i - 1] && std::abs(d[i] - d[i - 1]) < maxJump;
      const bool up = y > 0 && label[i - w] && std::abs(d[i] - d[i - w]) < maxJump;
      if (left) {
        label[i] = label[i - 1];
        if (up) Unite(parent, label[i - 1], label[i - w]);
      } else if (up) {
        label[i] = label[i - w];
      } else {
        label[i] = std::uint32_t(parent.size());
        parent.push_back(label[i]);
      }
    }
  }
  std::vector<std::uint64_t> size(parent.size(), 0);
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i]) ++size[label[i] = FindRoot(parent, label[i])];
  }
  const std::uint64_t largest = *std::max_element(size.begin(), size.end());
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] && double(size[label[i]]) / double(largest) < minRatio) Invalidate(depth, quality, i);
  }
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (d[i] == 0.0f) quality.data[i] = 0;
  }
}

// One pass of the local-plane smoothing from in to out (same size).
void SmoothPass(const DepthImage& in, DepthImage& out, float maxJump) {
  const std::int64_t w = in.width, h = in.height;
#pragma omp parallel for schedule(static)
  for (std::int64_t y = 0; y < h; ++y) {
    for (std::int64_t x = 0; x < w; ++x) {
      const float dc = in.data[y * w + x];
      out.data[y * w + x] = dc;
      if (!(dc > 0.0f)) continue;
      float zq[9];
      int xq[9], yq[9], n = 0;
      for (int j = 0; j < 3; ++j) {
        const std::int64_t yy = y + j - 1;
        if (yy < 0 || yy >= h) continue;
        for (int i = 0; i < 3; ++i) {
          const std::int64_t xx = x + i - 1;
          if (xx < 0 || xx >= w) continue;
          const float dq = in.data[yy * w + xx];
          if (dq > 0.0f && std::abs(dq - dc) < maxJump) {
            zq[n] = dq;
            xq[n] = i;
            yq[n] = j;
            ++n;
          }
        }
      }
      double zm = 0.0, xm = 0.0, ym = 0.0;
      for (int k = 0; k < n; ++k) {
        zm += zq[k];
        xm += xq[k];
        ym += yq[k];
      }
      zm /= n;
      xm /= n;
      ym /= n;
      double sx = 0.0, sy = 0.0;
      int nx = 0, ny = 0;
      for (int k = 0; k < n; ++k) {
        if (std::abs(xq[k] - xm) > 0.5) {
          sx += (zq[k] - zm) / (xq[k] - xm);
          ++nx;
        }
        if (std::abs(yq[k] - ym) > 0.5) {
          sy += (zq[k] - zm) / (yq[k] - ym);
          ++ny;
        }
      }
      if (nx == 0 || ny == 0) continue;
      out.data[y * w + x] = float(zm + (1.0 - xm) * sx / nx + (1.0 - ym) * sy / ny);
    }
  }
}

float ToFloatLimit(double value) {
  if (value < double(std::numeric_limits<float>::lowest())) return -std::numeric_limits<float>::infinity();
  if (value > double(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
  return float(value);
}

void RemoveOutsideRange(DepthImage& depth, QualityImage& quality, double minDepth, double maxDepth) {
  if (minDepth == std::numeric_limits<double>::lowest() && maxDepth == std::numeric_limits<double>::max()) return;
  const float lo = ToFloatLimit(minDepth), hi = ToFloatLimit(maxDepth);
  for (std::int32_t i = 0; i < depth.size; ++i) {
    if (depth.data[i] < lo || depth.data[i] > hi) Invalidate(depth, quality, i);
  }
}

}  // namespace

std::unique_ptr<DepthMap> CreateFilteredDepthMap(std::unique_ptr<DepthMap> sourceDepthMap,
                                                 const DepthMap* backgroundDepthMap, int holeSize,
                                                 int smoothIterations, std::uint8_t qualityThreshold,
                                                 double backgroundEpsilon, double minFragmentRatio,
                                                 float maxDepthJump, double minDepth, double maxDepth) {
  if (!sourceDepthMap) throw std::invalid_argument("sourceDepthMap must not be nullptr");
  DepthImage& depth = sourceDepthMap->GetDepthImage();
  QualityImage& quality = sourceDepthMap->GetQualityImage();
  if (backgroundDepthMap && !backgroundDepthMap->GetDepthImage().SameSize(depth)) {
    throw std::invalid_argument(
        "CreateFilteredDepthMap - backgroundDepthMap must have the size of sourceDepthMap");
  }

  RemoveLowQuality(depth, quality, qualityThreshold);
  if (backgroundDepthMap) RemoveBackground(depth, quality, backgroundDepthMap->GetDepthImage(), backgroundEpsilon);
  if (holeSize > 0) {
    const int limit = holeSize + 1;
    FillColumnGaps(depth, limit);
    FillRowGaps(depth, limit);
  }
  if (minFragmentRatio > 0.0 && depth.size > 0) RemoveFragments(depth, quality, minFragmentRatio, maxDepthJump);
  if (smoothIterations > 0 && depth.size > 0) {
    DepthImage buffer(depth.width, depth.height);
    for (int pass = 0; pass < 2 * smoothIterations - 1; ++pass) {
      SmoothPass(depth, buffer, maxDepthJump);
      std::swap(depth, buffer);
    }
  }
  RemoveOutsideRange(depth, quality, minDepth, maxDepth);

  sourceDepthMap->ResetMeanDepth();
  return std::unique_ptr<DepthMap>(new DepthMap(std::move(*sourceDepthMap)));
}

}  // namespace surf
