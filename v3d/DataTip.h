#pragma once

#include <cstdint>

#include "foundation/math/Vec.h"
#include "v3d/Geo.h"

namespace v3d {

// Where on its parent's surface a data tip sits.
struct PositionMetaData {
  std::int32_t meshIndex = -1;
  std::int64_t primIndex = -1;
  math::Vec3f normal;  // the face normal in the parent's coordinates
};

// A marker on a surface: a small diamond (octahedron of radius 1 in its own
// coordinates) at its position, in the parent's coordinates (mm), drawn in
// the marker layer at a constant size on screen: its geometry is scaled by
// depth · 10 / projection factor (pixels per unit at depth 1), so that it
// spans 10 pixels of radius whatever the zoom; by 1 when the view gives no
// projection factor.
class DataTip : public Geo {
 public:
  static constexpr double kRadiusPixels = 10.0;

  DataTip();

  const math::Vec3f& GetPosition() const { return m_position; }
  // Also moves the node's frame there.
  void SetPosition(const math::Vec3f& position);
  const PositionMetaData& GetPositionMetaData() const { return m_metaData; }
  void SetPositionMetaData(const PositionMetaData& metaData) { m_metaData = metaData; }
  // Set while the tip is being placed, cleared when the placement is committed.
  bool IsEdited() const { return m_edited; }
  void SetEdited(bool edited) { m_edited = edited; }

  // The scale for a tip at depth (camera z, mm) in a view; 1 without one.
  static double ScaleForDepth(double depth, double projectionFactor);

  void Render(const RenderPass& pass) override;

 private:
  math::Vec3f m_position;
  PositionMetaData m_metaData;
  bool m_edited = false;
};

}  // namespace v3d
