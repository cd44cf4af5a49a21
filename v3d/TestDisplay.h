#pragma once

// A display double for tests: records every call as a line of text, checks
// that OpenGL-side calls happen with the context current, and fails the
// calls named in its switches.

#include <string>
#include <vector>

#include "v3d/Display.h"
#include "v3d/Texture.h"

namespace v3d::testing {

class TestDisplay : public Display {
 public:
  void MakeCurrent(bool on) override {
    log.push_back(on ? "current" : "release");
    m_current = on;
  }
  bool IsCurrent() const override { return m_current; }

  std::uint32_t GenTexture() override {
    Record("gen");
    return failGen ? 0 : nextName++;
  }
  void DeleteTexture(std::uint32_t name) override { Record("delete " + std::to_string(name)); }
  bool BindTexture(std::uint32_t name) override {
    Record("bind " + std::to_string(name));
    return !failBind;
  }
  bool SetupTextureParameters(const Texture&) override {
    Record("params");
    return !failParams;
  }
  bool InitTexture(const Texture& t) override {
    Record("init " + std::to_string(t.GetTexWidth()) + "x" + std::to_string(t.GetTexHeight()));
    return !failInit;
  }
  bool TexSubImage(const Texture&, const TextureRegion& r) override {
    Record("sub " + std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) +
           "x" + std::to_string(r.height));
    return !failSubImage;
  }

  // Lines logged by nodes (their OnAdd/OnRemove) go through here too.
  void Record(const std::string& line) {
    log.push_back(m_current ? line : line + " (not current)");
  }

  std::vector<std::string> log;
  std::uint32_t nextName = 1;
  bool failGen = false, failBind = false, failParams = false, failInit = false, failSubImage = false;

 private:
  bool m_current = false;
};

}  // namespace v3d::testing
