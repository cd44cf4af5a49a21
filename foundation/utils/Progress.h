#pragma once

#include <functional>

namespace utils {

// The progress callback of all long work: receives the completed fraction
// (0…1) and returns true when the work is to be cancelled.
using ProgressCallback = std::function<bool(double fraction)>;

// Maps the sub-range [from, to] of an outer progress callback onto 0…1, so
// that one step of a longer job can report its own progress. An empty outer
// callback never cancels.
class SubProgress {
 public:
  SubProgress(ProgressCallback outer, double from, double to)
      : m_outer(std::move(outer)), m_from(from), m_to(to) {}

  // Reports fraction of this sub-range; true when the work is to be cancelled.
  bool operator()(double fraction) const {
    if (!m_outer) return false;
    if (fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    return m_outer(m_from + (m_to - m_from) * fraction);
  }

  // A callback object that can be handed to functions taking a ProgressCallback.
  ProgressCallback AsCallback() const {
    return [self = *this](double fraction) { return self(fraction); };
  }

 private:
  ProgressCallback m_outer;
  double m_from;
  double m_to;
};

}  // namespace utils
