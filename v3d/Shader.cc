#include "v3d/Shader.h"

#include <stdexcept>

#include "v3d/Scene.h"

namespace v3d {

Shader::~Shader() {
  if (m_scene) m_scene->ForgetShader(this);
}

void Shader::OnAdd(Display& display) {
  ProgramBuild build = display.BuildProgram(m_vertexSource, m_fragmentSource);
  if (!build.supported) return;
  if (build.vertexShader == 0 || build.fragmentShader == 0) {
    display.DeleteProgram(build);
    throw std::runtime_error("v3d::Shader::OnAdd - glCreateShader failed.");
  }
  if (build.program == 0) {
    display.DeleteProgram(build);
    if (!build.log.empty()) throw std::runtime_error("v3d::Shader::OnAdd - " + build.log);
    throw std::runtime_error("v3d::Shader::OnAdd - glCreateProgram failed.");
  }
  m_build = std::move(build);
}

void Shader::OnRemove(Display& display) {
  if (m_build.supported) display.DeleteProgram(m_build);
  m_build = ProgramBuild();
}

}  // namespace v3d
