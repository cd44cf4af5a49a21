#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "foundation/utils/Guid.h"

namespace surf {

// One scan's depth data: per pixel the depth as the z coordinate in the
// camera's own coordinate system (millimetres, not the distance along the
// ray; 0 = no measurement), a quality 0…255 (0 = invalid) and the model of
// the camera that took it (pose wTc = camera-to-world).
//
// Invariants: both images and the model are never null, and the images have
// the same size. Every constructor (the copy constructor too) generates a new
// guid. Not to be used from two threads while the mean-depth cache is filled.
class DepthMap {
 public:
  using DepthImage = img::UniImage<float>;
  using QualityImage = img::UniImage<std::uint8_t>;

  // Takes ownership of all three. Throws std::invalid_argument for a null
  // argument or images of different sizes.
  DepthMap(std::unique_ptr<DepthImage> depthImage, std::unique_ptr<QualityImage> qualityImage,
           std::unique_ptr<cam::CameraModel> cameraModel);
  // Deep copy: images copied, model cloned, new guid, mean-depth cache kept.
  DepthMap(const DepthMap& other);
  DepthMap& operator=(const DepthMap&) = delete;

  std::uint32_t GetWidth() const { return m_depth->width; }
  std::uint32_t GetHeight() const { return m_depth->height; }
  DepthImage& GetDepthImage() { return *m_depth; }
  const DepthImage& GetDepthImage() const { return *m_depth; }
  QualityImage& GetQualityImage() { return *m_quality; }
  const QualityImage& GetQualityImage() const { return *m_quality; }
  const cam::CameraModel& GetCameraModel() const { return *m_camera; }
  const utils::Guid& GetGuid() const { return m_guid; }

  // Appends, after clearing the three arrays, a triangle mesh of the valid
  // pixels (depth > 0): world positions (x, y, z per vertex), three indices
  // per triangle, texture coordinates ((x + 0.5)/w, (y + 0.5)/h). Two
  // triangles per 2 × 2 cell, each made only when its depth differences to
  // the cell's corner vertex are strictly below maxDepthJump. With
  // keepAllValidPixels every valid pixel becomes a vertex (row by row) first;
  // otherwise vertices are created in the order triangles first use them.
  bool ComputeTriangleMesh(std::vector<float>& vertices, std::vector<std::uint32_t>& indices,
                           std::vector<float>& textureCoordinates, bool keepAllValidPixels,
                           float maxDepthJump) const;

  // Mean of all depths > 0 (0 when there is none), computed once and cached.
  float GetMeanDepth() const;
  // Forgets the cached mean depth (after the depth image was changed).
  void ResetMeanDepth() { m_meanDepth = -1.0f; }
  // Footprint (dx, dy) in millimetres of the central pixel at the given depth.
  math::Vec2d GetPixelSizeAtDepth(float depth) const;

 private:
  friend std::unique_ptr<DepthMap> CreateFilteredDepthMap(std::unique_ptr<DepthMap>, const DepthMap*, int, int,
                                                          std::uint8_t, double, double, float, double, double);
  // Steals the parts of other, which may then only be destroyed; new guid.
  DepthMap(DepthMap&& other) noexcept;

  std::unique_ptr<DepthImage> m_depth;
  std::unique_ptr<QualityImage> m_quality;
  std::unique_ptr<cam::CameraModel> m_camera;
  utils::Guid m_guid;
  mutable float m_meanDepth = -1.0f;
};

// Twice the diagonal of one pixel's footprint at the map's mean depth: the
// background distance a scan's own noise never reaches.
double ComputeAutoBackgroundEpsilon(const DepthMap& depthMap);

}  // namespace surf
