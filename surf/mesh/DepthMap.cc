#include "surf/mesh/DepthMap.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace surf {

DepthMap::DepthMap(std::unique_ptr<DepthImage> depthImage, std::unique_ptr<QualityImage> qualityImage,
                   std::unique_ptr<cam::CameraModel> cameraModel)
    : m_guid(utils::Guid::NewGuid()) {
  if (!depthImage) throw std::invalid_argument("depthImage must not be nullptr");
  if (!qualityImage) throw std::invalid_argument("qualityImage must not be nullptr");
  if (!cameraModel) throw std::invalid_argument("cameraModel must not be nullptr");
  if (!depthImage->SameSize(*qualityImage)) {
    throw std::invalid_argument("depthImage and qualityImage must have the same dimensions");
  }
  m_depth = std::move(depthImage);
  m_quality = std::move(qualityImage);
  m_camera = std::move(cameraModel);
}

DepthMap::DepthMap(const DepthMap& other)
    : m_depth(std::make_unique<DepthImage>(*other.m_depth)),
      m_quality(std::make_unique<QualityImage>(*other.m_quality)),
      m_camera(other.m_camera->CloneModel()),
      m_guid(utils::Guid::NewGuid()),
      m_meanDepth(other.m_meanDepth) {}

DepthMap::DepthMap(DepthMap&& other) noexcept
    : m_depth(std::move(other.m_depth)),
      m_quality(std::move(other.m_quality)),
      m_camera(std::move(other.m_camera)),
      m_guid(utils::Guid::NewGuid()),
      m_meanDepth(other.m_meanDepth) {}

namespace {

constexpr std::uint32_t kNoVertex = std::numeric_limits<std::uint32_t>::max();
// Marks a pixel that is valid but has no vertex yet.
constexpr std::uint32_t kPending = kNoVertex - 1;

}  // namespace

bool DepthMap::ComputeTriangleMesh(std::vector<float>& vertices, std::vector<std::uint32_t>& indices,
                                   std::vector<float>& textureCoordinates, bool keepAllValidPixels,
                                   float maxDepthJump) const {
  vertices.clear();
  indices.clear();
  textureCoordinates.clear();
  const std::uint32_t w = m_depth->width, h = m_depth->height;
  const std::size_t n = std::size_t(w) * h;
  const float* depth = m_depth->data;
  const math::Frame<double>& wTc = m_camera->GetFrame_wTc();

  // World points of all valid pixels first (rows in parallel); a pixel is
  // valid when its depth is finite and positive and its ray can be formed.
  std::unique_ptr<math::Vec3f[]> world(new math::Vec3f[n]);
  std::unique_ptr<std::uint32_t[]> indexMap(new std::uint32_t[n]);
  std::size_t validCount = 0;
#pragma omp parallel for schedule(static) reduction(+ : validCount)
  for (std::int64_t y = 0; y < std::int64_t(h); ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::size_t i = std::size_t(y) * w + x;
      const float d = depth[i];
      math::Vec3d ray;
      if (!(d > 0.0f && std::isfinite(d)) || !m_camera->PixelToCameraRay(ray, {double(x), double(y)}) ||
          ray[2] == 0.0) {
        indexMap[i] = kNoVertex;
        continue;
      }
      world[i] = math::Vec3f(wTc.MultP(ray * (double(d) / ray[2])));
      indexMap[i] = std::isfinite(world[i][0] + world[i][1] + world[i][2]) ? kPending : kNoVertex;
      validCount += indexMap[i] == kPending;
    }
  }
  vertices.reserve(3 * validCount);
  textureCoordinates.reserve(2 * validCount);
  indices.reserve(6 * validCount);

  std::uint32_t count = 0;
  const float invW = 1.0f / float(w), invH = 1.0f / float(h);
  auto add = [&](std::uint32_t x, std::uint32_t y) {
    const std::size_t i = std::size_t(y) * w + x;
    if (indexMap[i] != kPending) return;
    vertices.insert(vertices.end(), world[i].v, world[i].v + 3);
    textureCoordinates.push_back((float(x) + 0.5f) * invW);
    textureCoordinates.push_back((float(y) + 0.5f) * invH);
    indexMap[i] = count++;
  };

  if (keepAllValidPixels) {
    for (std::uint32_t y = 0; y < h; ++y) {
      for (std::uint32_t x = 0; x < w; ++x) add(x, y);
    }
  }
  auto valid = [&](std::size_t i) { return indexMap[i] != kNoVertex; };
  for (std::uint32_t y = 0; y + 1 < h; ++y) {
    for (std::uint32_t x = 0; x + 1 < w; ++x) {
      const std::size_t a = std::size_t(y) * w + x, b = a + w, c = a + 1, dd = b + 1;
      if (valid(a) && valid(b) && valid(c) && std::abs(depth[a] - depth[b]) < maxDepthJump &&
          std::abs(depth[a] - depth[c]) < maxDepthJump) {
        add(x, y);
        add(x, y + 1);
        add(x + 1, y);
        indices.insert(indices.end(), {indexMap[a], indexMap[b], indexMap[c]});
      }
      if (valid(dd) && valid(b) && valid(c) && std::abs(depth[dd] - depth[b]) < maxDepthJump &&
          std::abs(depth[dd] - depth[c]) < maxDepthJump) {
        add(x + 1, y + 1);
        add(x, y + 1);
        add(x + 1, y);
        indices.insert(indices.end(), {indexMap[dd], indexMap[c], indexMap[b]});
      }
    }
  }
  return true;
}

float DepthMap::GetMeanDepth() const {
  if (m_meanDepth < 0.0f) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::int32_t i = 0; i < m_depth->size; ++i) {
      const float d = m_depth->data[i];
      if (d > 0.0f && std::isfinite(d)) {
        sum += d;
        ++count;
      }
    }
    m_meanDepth = count ? float(sum / double(count)) : 0.0f;
  }
  return m_meanDepth;
}

math::Vec2d DepthMap::GetPixelSizeAtDepth(float depth) const {
  const double cx = m_depth->width / 2.0, cy = m_depth->height / 2.0;
  math::Vec3d r1, r2;
  if (!m_camera->PixelToCameraRay(r1, {cx - 0.5, cy - 0.5}) || !m_camera->PixelToCameraRay(r2, {cx + 0.5, cy + 0.5}) ||
      r1[2] == 0.0 || r2[2] == 0.0) {
    return {0.0, 0.0};
  }
  r1 *= depth / r1[2];
  r2 *= depth / r2[2];
  return {std::abs(r2[0] - r1[0]), std::abs(r2[1] - r1[1])};
}

double ComputeAutoBackgroundEpsilon(const DepthMap& depthMap) {
  const math::Vec2d size = depthMap.GetPixelSizeAtDepth(depthMap.GetMeanDepth());
  return 2.0 * std::sqrt(size[0] * size[0] + size[1] * size[1]);
}

}  // namespace surf
