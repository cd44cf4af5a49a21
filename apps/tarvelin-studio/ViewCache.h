#pragma once

#include <cstdint>

namespace studio {

// The 3D view's last picture, kept in a framebuffer of its own so that a
// frame of the user interface only copies it under the panels instead of
// drawing the scene again: the scene is drawn when it or the camera
// changed, and while a worker holds the scene the last picture stays.
//
// Thread rules: the main window's OpenGL context must be current for every
// call; Release before the context goes.
class ViewCache {
 public:
  ViewCache() = default;
  ViewCache(const ViewCache&) = delete;
  ViewCache& operator=(const ViewCache&) = delete;

  // Makes the cache (width × height, the window's framebuffer size) the
  // target of drawing; its content is lost when the size changed.
  // False when the driver refused the framebuffer (the view is then drawn
  // to the window directly).
  bool BeginDrawing(int width, int height);
  // Back to the window's framebuffer; the cache now holds a picture.
  void EndDrawing();
  // Copies the rectangle (pixels, bottom-left origin) of the picture to the
  // window's framebuffer at the same place.
  void Present(int x, int y, int width, int height) const;
  bool HasPicture() const { return m_hasPicture; }
  void Invalidate() { m_hasPicture = false; }
  void Release();

 private:
  std::uint32_t m_framebuffer = 0, m_colour = 0, m_depth = 0;
  int m_width = 0, m_height = 0;
  bool m_hasPicture = false;
};

}  // namespace studio
