#include "shell/ProgressReporter.h"

#include <algorithm>

namespace shell {

void ProgressReporter::StartSession(int numBlocks) {
  std::lock_guard lock(m_mutex);
  m_numBlocks = std::max(numBlocks, 1);
  m_block = 0;
  m_fraction = 0.0;
  m_cancel = false;
  m_result = 0;
}

void ProgressReporter::NextBlock() {
  std::lock_guard lock(m_mutex);
  if (m_block + 1 < m_numBlocks) ++m_block;
  m_fraction = 0.0;
}

void ProgressReporter::StopSession() {
  std::lock_guard lock(m_mutex);
  m_numBlocks = 0;
  m_block = 0;
  m_fraction = 0.0;
  m_busy = false;
}

bool ProgressReporter::IsSessionActive() const {
  std::lock_guard lock(m_mutex);
  return m_numBlocks > 0;
}

bool ProgressReporter::Report(double fraction) {
  {
    std::lock_guard lock(m_mutex);
    m_fraction = std::clamp(fraction, 0.0, 1.0);
  }
  return m_cancel;
}

double ProgressReporter::GetOverallProgress() const {
  std::lock_guard lock(m_mutex);
  if (m_numBlocks == 0) return 0.0;
  return (m_block + m_fraction) / m_numBlocks;
}

void ProgressReporter::SetStatusPrefix(const std::string& prefix) {
  std::lock_guard lock(m_mutex);
  m_prefix = prefix;
}

void ProgressReporter::SetStatusText(const std::string& text) {
  std::lock_guard lock(m_mutex);
  m_text = text;
}

std::string ProgressReporter::GetStatusLine() const {
  std::lock_guard lock(m_mutex);
  return m_prefix + m_text;
}

}  // namespace shell
