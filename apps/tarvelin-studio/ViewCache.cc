#include "apps/tarvelin-studio/ViewCache.h"

#include <GL/glew.h>

namespace studio {

bool ViewCache::BeginDrawing(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (width != m_width || height != m_height) Release();
  if (!m_framebuffer) {
    glGenFramebuffers(1, &m_framebuffer);
    glGenRenderbuffers(1, &m_colour);
    glGenRenderbuffers(1, &m_depth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, m_depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              m_depth);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) {
      Release();
      return false;
    }
    m_width = width;
    m_height = height;
  }
  glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
  return true;
}

void ViewCache::EndDrawing() {
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  m_hasPicture = true;
}

void ViewCache::Present(int x, int y, int width, int height) const {
  if (!m_hasPicture) return;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glBlitFramebuffer(x, y, x + width, y + height, x, y, x + width, y + height, GL_COLOR_BUFFER_BIT,
                    GL_NEAREST);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void ViewCache::Release() {
  if (m_framebuffer) glDeleteFramebuffers(1, &m_framebuffer);
  if (m_colour) glDeleteRenderbuffers(1, &m_colour);
  if (m_depth) glDeleteRenderbuffers(1, &m_depth);
  m_framebuffer = m_colour = m_depth = 0;
  m_width = m_height = 0;
  m_hasPicture = false;
}

}  // namespace studio
