#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <vector>

#include "foundation/math/Vec.h"

namespace math {

// The median of values (the mean of the two middle ones for an even count);
// 0 for no values.
template <typename T>
T median(std::vector<T> values) {
  if (values.empty()) return T(0);
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  const T upper = values[mid];
  if (values.size() % 2 == 1) return upper;
  const T lower = *std::max_element(values.begin(), values.begin() + mid);
  return (lower + upper) / T(2);
}

// The point minimising the sum of Euclidean distances to points
// (Weiszfeld's iteration from the centroid, stopping when a step is below
// tolerance). A point coinciding with the estimate is skipped for that step.
template <typename T, std::size_t N>
Vec<N, T> GeometricMedian(const std::vector<Vec<N, T>>& points, T tolerance = T(1e-9),
                          int maxIterations = 200) {
  Vec<N, T> estimate;
  if (points.empty()) return estimate;
  for (const auto& p : points) estimate += p;
  estimate /= static_cast<T>(points.size());
  for (int it = 0; it < maxIterations; ++it) {
    Vec<N, T> numerator;
    T denominator = 0;
    for (const auto& p : points) {
      const T d = (p - estimate).Length();
      if (d <= std::numeric_limits<T>::epsilon()) continue;
      numerator += p / d;
      denominator += T(1) / d;
    }
    if (denominator == T(0)) break;
    const Vec<N, T> next = numerator / denominator;
    const T step = (next - estimate).Length();
    estimate = next;
    if (step < tolerance) break;
  }
  return estimate;
}

// value rounded to n significant decimal digits (n ≥ 1); 0 stays 0.
template <typename T>
T roundToSignificantFigures(T value, int n) {
  if (value == T(0) || !std::isfinite(value) || n < 1) return value;
  const double magnitude = std::ceil(std::log10(std::abs(static_cast<double>(value))));
  const double scale = std::pow(10.0, n - magnitude);
  return static_cast<T>(std::round(static_cast<double>(value) * scale) / scale);
}

// Collects values and reports count, mean, standard deviation (population),
// RMS, minimum, maximum and median.
template <typename T>
class Statistics {
 public:
  void AddValue(T value) { m_values.push_back(value); }
  void Clear() { m_values.clear(); }

  std::size_t GetCount() const { return m_values.size(); }
  T GetMean() const {
    if (m_values.empty()) return T(0);
    return static_cast<T>(Sum(1) / static_cast<double>(m_values.size()));
  }
  T GetStdDev() const {
    if (m_values.empty()) return T(0);
    const double mean = Sum(1) / static_cast<double>(m_values.size());
    double sq = 0;
    for (T v : m_values) sq += (v - mean) * (v - mean);
    return static_cast<T>(std::sqrt(sq / static_cast<double>(m_values.size())));
  }
  T GetRms() const {
    if (m_values.empty()) return T(0);
    return static_cast<T>(std::sqrt(Sum(2) / static_cast<double>(m_values.size())));
  }
  T GetMin() const { return m_values.empty() ? T(0) : *std::min_element(m_values.begin(), m_values.end()); }
  T GetMax() const { return m_values.empty() ? T(0) : *std::max_element(m_values.begin(), m_values.end()); }
  T GetMedian() const { return median(m_values); }
  const std::vector<T>& GetValues() const { return m_values; }

 private:
  double Sum(int power) const {
    double sum = 0;
    for (T v : m_values) sum += power == 1 ? double(v) : double(v) * double(v);
    return sum;
  }
  std::vector<T> m_values;
};

}  // namespace math
