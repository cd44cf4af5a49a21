#include "foundation/utils/Timer.h"

#include <iostream>

namespace utils {

Timer::Timer(bool verbose) : Timer(verbose, std::cout) {}

Timer::Timer(bool verbose, std::ostream& out)
    : m_verbose(verbose), m_out(&out), m_start(Clock::now()) {}

void Timer::Restart() { m_start = Clock::now(); }

double Timer::ElapsedSeconds() const {
  return std::chrono::duration<double>(Clock::now() - m_start).count();
}

double Timer::Stop() {
  const double seconds = ElapsedSeconds();
  if (m_verbose) *m_out << "Elapsed time " << seconds << " seconds\n";
  return seconds;
}

}  // namespace utils
