#pragma once

#include <chrono>
#include <cstdint>
#include <random>

namespace surf {

// The current time in milliseconds, the seed of generators whose seed is 0.
inline std::uint64_t TimeSeedMilliseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

// seed, or the current time in milliseconds when seed is 0.
inline std::uint64_t ResolveSeed(std::uint64_t seed) { return seed ? seed : TimeSeedMilliseconds(); }

// A uniform integer in 0…n−1 (n ≥ 1) from the generator's 32-bit outputs by
// rejection, so that a seed gives the same draws with every standard library.
inline std::uint32_t UniformIndex(std::mt19937& rng, std::uint32_t n) {
  if (n <= 1) return 0;
  const std::uint32_t limit = 0xFFFFFFFFu - (0xFFFFFFFFu % n + 1) % n;  // largest accepted draw
  std::uint32_t r;
  do {
    r = static_cast<std::uint32_t>(rng());
  } while (r > limit);
  return r % n;
}

}  // namespace surf
