#pragma once

#include <string>

#include "v3d/Display.h"
#include "v3d/Object.h"

namespace v3d {

// A GLSL program of the scene. Adding it to a scene with a display (or
// attaching a display) compiles and links it with the context current;
// removing it deletes it. Without OpenGL 2.0 nothing happens and the shader
// stays unusable (IsReady false).
class Shader : public Object {
 public:
  Shader(std::string vertexSource, std::string fragmentSource)
      : m_vertexSource(std::move(vertexSource)), m_fragmentSource(std::move(fragmentSource)) {}
  ~Shader() override;

  // Throws std::runtime_error "v3d::Shader::OnAdd - glCreateShader failed."
  // or "v3d::Shader::OnAdd - glCreateProgram failed.", and for sources that
  // do not compile or link "v3d::Shader::OnAdd - " followed by the log.
  void OnAdd(Display& display);
  void OnRemove(Display& display);

  bool IsReady() const { return m_build.program != 0; }
  std::uint32_t GetProgram() const { return m_build.program; }
  const std::string& GetLog() const { return m_build.log; }

 private:
  friend class Scene;
  std::string m_vertexSource, m_fragmentSource;
  ProgramBuild m_build;
  Scene* m_scene = nullptr;
};

}  // namespace v3d
