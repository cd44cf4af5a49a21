#pragma once

#include "foundation/math/Vec.h"
#include "v3d/Color.h"
#include "v3d/Geo.h"

namespace v3d {

// A light of the view, drawn as a 10 mm cube. The position is homogeneous:
// w = 1 a point light at (x, y, z), w = 0 a directional light shining along
// −(x, y, z); in world coordinates (mm).
class Light : public Geo {
 public:
  Light();

  const Color4f& GetAmbient() const { return m_ambient; }
  const Color4f& GetDiffuse() const { return m_diffuse; }
  const Color4f& GetSpecular() const { return m_specular; }
  void SetAmbient(const Color4f& color) { m_ambient = color; }
  void SetDiffuse(const Color4f& color) { m_diffuse = color; }
  void SetSpecular(const Color4f& color) { m_specular = color; }

  const math::Vec4f& GetPosition() const { return m_position; }
  void SetPosition(const math::Vec4f& position) { m_position = position; }

  bool IsEnabled() const { return m_enabled; }
  void Enable(bool enabled) { m_enabled = enabled; }

 private:
  Color4f m_ambient{0.2f, 0.2f, 0.2f, 1.f};
  Color4f m_diffuse{0.8f, 0.8f, 0.8f, 1.f};
  Color4f m_specular{1.f, 1.f, 1.f, 1.f};
  math::Vec4f m_position{0.f, 0.f, 1.f, 0.f};
  bool m_enabled = true;
};

}  // namespace v3d
