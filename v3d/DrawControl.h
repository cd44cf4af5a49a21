#pragma once

#include "v3d/Canvas.h"
#include "v3d/Color.h"
#include "v3d/Geo.h"
#include "v3d/ViewState.h"

namespace v3d {

class Scene;

// The scene's default helpers: the foreground canvas
// "DefaultForegroundCanvas" that tools draw their labels on, and the marker
// geometry "DefaultGeo" (layer 3) with the box around the scene and the
// orbit centre of the active camera. Both are nodes of the scene, owned by
// it; the draw control only keeps their pointers.
class DrawControl {
 public:
  // Adds both nodes to the scene.
  explicit DrawControl(Scene& scene);

  Canvas* GetDefaultCanvas() const { return m_canvas; }
  Geo* GetDefaultGeo() const { return m_geo; }

  void SetColorBoundingBox(const Color4ub& color) { m_boxColor = color; }
  void SetColorOrbit(const Color4ub& color) { m_orbitColor = color; }
  const Color4ub& GetColorBoundingBox() const { return m_boxColor; }
  const Color4ub& GetColorOrbit() const { return m_orbitColor; }
  void SetShowBoundingBox(bool show) { m_showBox = show; }
  void SetShowOrbit(bool show) { m_showOrbit = show; }
  bool GetShowBoundingBox() const { return m_showBox; }
  bool GetShowOrbit() const { return m_showOrbit; }

  // Rebuilds the markers for the view (the renderer calls it before each
  // frame): the scene layer's box and a 3D cross of 40 pixels at the active
  // camera's orbit centre.
  void UpdateMarkers(const ViewState& view);

 private:
  Scene& m_scene;
  Canvas* m_canvas = nullptr;
  Geo* m_geo = nullptr;
  Color4ub m_boxColor{255, 200, 0, 255};
  Color4ub m_orbitColor{255, 60, 60, 255};
  bool m_showBox = false, m_showOrbit = false;
};

}  // namespace v3d
