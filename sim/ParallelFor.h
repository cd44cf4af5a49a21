#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace sim {

// Calls body(i) for every i in [0, count), spread over the hardware threads:
// the caller and up to hardware − 1 threads started for this call take
// indices from a shared counter, so a thread that the system delays holds
// up at most one index. Waiting threads block instead of spinning, which
// matters on machines shared with other work. body must be thread-safe and
// must not throw.
template <typename Body>
void ParallelFor(std::ptrdiff_t count, const Body& body) {
  const std::ptrdiff_t hardware = std::max(1u, std::thread::hardware_concurrency());
  const std::ptrdiff_t threads = std::min(hardware, count);
  if (threads <= 1) {
    for (std::ptrdiff_t i = 0; i < count; ++i) body(i);
    return;
  }
  std::atomic<std::ptrdiff_t> next{0};
  auto work = [&]() {
    for (std::ptrdiff_t i = next++; i < count; i = next++) body(i);
  };
  std::vector<std::jthread> helpers;
  helpers.reserve(static_cast<std::size_t>(threads - 1));
  for (std::ptrdiff_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
}

}  // namespace sim
