#pragma once

#include <chrono>
#include <iosfwd>

namespace utils {

// A stopwatch that starts on construction. When verbose, Stop() prints
// "Elapsed time <seconds> seconds\n" to the given stream (standard output by
// default).
class Timer {
 public:
  explicit Timer(bool verbose = false);
  Timer(bool verbose, std::ostream& out);

  void Restart();
  // Seconds since the start; prints them when verbose.
  double Stop();
  double ElapsedSeconds() const;

 private:
  using Clock = std::chrono::steady_clock;
  bool m_verbose;
  std::ostream* m_out;
  Clock::time_point m_start;
};

}  // namespace utils
