#include "apps/tarvelin-studio/ProjectorWindow.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>

#include "scan/SLRenderImage.h"

namespace studio {

namespace {

GLFWmonitor* FindMonitor(const utils::DisplayInfo& display) {
  int count = 0;
  GLFWmonitor** monitors = glfwGetMonitors(&count);
  for (int i = 0; i < count; ++i) {
    int x = 0, y = 0;
    glfwGetMonitorPos(monitors[i], &x, &y);
    if (x == display.left && y == display.top) return monitors[i];
  }
  return nullptr;
}

}  // namespace

ProjectorWindow::~ProjectorWindow() { Destroy(); }

bool ProjectorWindow::Create(const Options& options, std::string& error) {
  Destroy();
  m_options = options;
  glfwDefaultWindowHints();
  glfwWindowHint(GLFW_DECORATED, options.fullScreen ? GLFW_FALSE : GLFW_TRUE);
  glfwWindowHint(GLFW_FOCUS_ON_SHOW, GLFW_FALSE);
  glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_FALSE);
  m_window = glfwCreateWindow(std::max(options.windowWidth, 16), std::max(options.windowHeight, 16),
                              options.title.c_str(), nullptr, nullptr);
  glfwDefaultWindowHints();
  if (!m_window) {
    const char* description = nullptr;
    glfwGetError(&description);
    error = std::string("the pattern window could not be created: ") +
            (description ? description : "unknown reason");
    return false;
  }
  if (options.windowX >= 0 && options.windowY >= 0)
    glfwSetWindowPos(m_window, options.windowX, options.windowY);
  glfwSetWindowUserPointer(m_window, this);
  glfwSetWindowRefreshCallback(m_window, [](GLFWwindow* w) {
    static_cast<ProjectorWindow*>(glfwGetWindowUserPointer(w))->m_redraw = true;
  });
  glfwMakeContextCurrent(m_window);
  glfwSwapInterval(options.fullScreen ? 1 : 0);
  glGenTextures(1, &m_texture);
  glfwMakeContextCurrent(nullptr);
  m_redraw = true;
  return true;
}

void ProjectorWindow::Destroy() {
  {
    std::lock_guard lock(m_mutex);
    m_closing = true;
  }
  m_shownChanged.notify_all();
  if (!m_window) return;
  GLFWwindow* previous = glfwGetCurrentContext();
  glfwMakeContextCurrent(m_window);
  if (m_texture) glDeleteTextures(1, &m_texture);
  m_texture = 0;
  glfwMakeContextCurrent(previous == m_window ? nullptr : previous);
  glfwDestroyWindow(m_window);
  m_window = nullptr;
  std::lock_guard lock(m_mutex);
  m_closing = false;
}

void ProjectorWindow::SetPatternSize(std::uint32_t width, std::uint32_t height) {
  std::lock_guard lock(m_mutex);
  m_width = std::max<std::uint32_t>(width, 1);
  m_height = std::max<std::uint32_t>(height, 1);
  m_setupPending = !m_pending;
}

void ProjectorWindow::Place(const utils::DisplayInfo* monitor) {
  if (!m_window) return;
  GLFWmonitor* target = monitor && m_options.fullScreen ? FindMonitor(*monitor) : nullptr;
  if (target) {
    const GLFWvidmode* mode = glfwGetVideoMode(target);
    glfwSetWindowMonitor(m_window, target, 0, 0, mode ? mode->width : monitor->width,
                         mode ? mode->height : monitor->height,
                         mode ? mode->refreshRate : GLFW_DONT_CARE);
  } else {
    int x = m_options.windowX, y = m_options.windowY;
    if (x < 0 || y < 0) glfwGetWindowPos(m_window, &x, &y);
    glfwSetWindowMonitor(m_window, nullptr, x, y, m_options.windowWidth, m_options.windowHeight,
                         GLFW_DONT_CARE);
  }
  m_redraw = true;
}

std::vector<double> ProjectorWindow::DisplayPatterns(
    const utils::ProgressCallback&, const std::vector<scan::SLPatternPtr>& patterns) {
  if (patterns.empty() || !patterns.front()) return {};
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(m_mutex);
  m_pending = patterns.front();
  m_setupPending = false;
  const std::uint64_t ticket = ++m_requested;
  ++m_patterns;
  if (m_options.waitUntilShown && m_window) {
    m_shownChanged.wait_for(lock, std::chrono::seconds(1),
                            [&] { return m_shownTicket >= ticket || m_closing; });
  }
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

bool ProjectorWindow::DisplaySetupPattern() {
  std::lock_guard lock(m_mutex);
  m_pending.reset();
  m_setupPending = true;
  ++m_requested;
  return m_window != nullptr;
}

std::uint64_t ProjectorWindow::GetRequestedCount() const {
  std::lock_guard lock(m_mutex);
  return m_patterns;
}

std::uint64_t ProjectorWindow::GetShownCount() const {
  std::lock_guard lock(m_mutex);
  return m_shownPatterns;
}

std::vector<std::uint8_t> ProjectorWindow::GetShownImage(std::uint32_t& width,
                                                         std::uint32_t& height) const {
  std::lock_guard lock(m_mutex);
  width = m_width;
  height = m_height;
  return m_image;
}

void ProjectorWindow::RenderSetupPattern(std::vector<std::uint8_t>& bgra) const {
  // Dark grey with a white border and a white cross through the centre.
  const std::uint32_t w = m_width, h = m_height;
  bgra.assign(std::size_t(w) * h * 4, 0);
  const std::uint32_t line = std::max<std::uint32_t>(1, std::min(w, h) / 200);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const bool border = x < line || y < line || x >= w - line || y >= h - line;
      const bool cross = (x >= w / 2 - line / 2 && x <= w / 2 + line / 2) ||
                         (y >= h / 2 - line / 2 && y <= h / 2 + line / 2);
      const std::uint8_t value = border || cross ? 255 : 48;
      std::uint8_t* p = &bgra[(std::size_t(y) * w + x) * 4];
      p[0] = p[1] = p[2] = value;
      p[3] = 255;
    }
  }
}

void ProjectorWindow::Present() {
  if (!m_window) return;
  scan::SLPatternPtr pattern;
  bool setup = false;
  std::uint64_t ticket = 0;
  std::uint32_t w = 0, h = 0;
  {
    std::lock_guard lock(m_mutex);
    pattern = std::move(m_pending);
    m_pending.reset();
    setup = m_setupPending;
    m_setupPending = false;
    ticket = m_requested;
    w = m_width;
    h = m_height;
  }
  const bool newImage = pattern || setup;
  if (!newImage && !m_redraw) return;
  std::vector<std::uint8_t> image;
  if (pattern) {
    scan::SLRenderImage render(w, h);
    pattern->Render(render);
    image.assign(render.data, render.data + std::size_t(w) * h * 4);
  } else if (setup) {
    RenderSetupPattern(image);
  }
  GLFWwindow* previous = glfwGetCurrentContext();
  glfwMakeContextCurrent(m_window);
  if (newImage) {
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(w), GLsizei(h), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 image.data());
  }
  Draw(newImage);
  glfwSwapBuffers(m_window);
  glfwMakeContextCurrent(previous);
  m_redraw = false;
  if (newImage) {
    std::lock_guard lock(m_mutex);
    m_image = std::move(image);
    if (pattern) ++m_shownPatterns;
    m_shownTicket = ticket;
  }
  m_shownChanged.notify_all();
}

void ProjectorWindow::Draw(bool) {
  int width = 0, height = 0;
  glfwGetFramebufferSize(m_window, &width, &height);
  glViewport(0, 0, width, height);
  glClearColor(0.f, 0.f, 0.f, 1.f);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, 1.0, 1.0, 0.0, -1.0, 1.0);  // y down: the image's top row at the top
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, m_texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glColor4f(1.f, 1.f, 1.f, 1.f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.f, 0.f);
  glVertex2f(0.f, 0.f);
  glTexCoord2f(1.f, 0.f);
  glVertex2f(1.f, 0.f);
  glTexCoord2f(1.f, 1.f);
  glVertex2f(1.f, 1.f);
  glTexCoord2f(0.f, 1.f);
  glVertex2f(0.f, 1.f);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

}  // namespace studio
