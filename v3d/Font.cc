#include "v3d/Font.h"

#include "v3d/Scene.h"

namespace v3d {

Font::~Font() {
  if (m_scene) m_scene->ForgetFont(this);
}

}  // namespace v3d
