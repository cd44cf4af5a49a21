#include "apps/tarvelin/Console.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace tarvelin {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

void InstallInterruptHandler() { std::signal(SIGINT, OnInterrupt); }

bool InterruptRequested() { return g_interrupted != 0; }

ProgressBar::ProgressBar(std::string label) : m_label(std::move(label)), m_draw(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { Finish(); }

bool ProgressBar::operator()(double fraction) {
  if (m_draw) {
    const int percent = static_cast<int>(fraction * 100.0 + 0.5);
    if (percent != m_lastPercent) {
      constexpr int kWidth = 30;
      const int filled = percent * kWidth / 100;
      std::fprintf(stderr, "\r%-10s [%s%s] %3d%%", m_label.c_str(), std::string(filled, '#').c_str(),
                   std::string(kWidth - filled, '.').c_str(), percent);
      std::fflush(stderr);
      m_lastPercent = percent;
      m_open = true;
    }
  }
  return InterruptRequested();
}

void ProgressBar::Finish() {
  if (m_open) std::fputc('\n', stderr);
  m_open = false;
}

}  // namespace tarvelin
