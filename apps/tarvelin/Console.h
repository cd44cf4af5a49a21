#pragma once

#include <chrono>
#include <string>

namespace tarvelin {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// Ctrl-C (SIGINT) sets a flag instead of ending the process; long work polls
// it through its progress callback and stops cleanly.
void InstallInterruptHandler();
bool InterruptRequested();

// A one-line progress bar on standard error (drawn only on a terminal). As a
// progress callback it returns true (cancel) once Ctrl-C was pressed.
class ProgressBar {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar();
  bool operator()(double fraction);
  // Ends the line (also done by the destructor).
  void Finish();

 private:
  std::string m_label;
  bool m_draw;
  bool m_open = false;
  int m_lastPercent = -1;
};

}  // namespace tarvelin
