#include "scan/WorkerRanges.h"

#include <exception>
#include <mutex>
#include <thread>

namespace scan {

unsigned HardwareWorkerCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

std::vector<std::pair<std::size_t, std::size_t>> SplitRange(std::size_t count, unsigned parts) {
  if (parts == 0) parts = 1;
  const std::size_t q = count / parts;
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  ranges.reserve(parts);
  for (unsigned k = 0; k + 1 < parts; ++k) ranges.emplace_back(k * q, (k + 1) * q);
  ranges.emplace_back((parts - 1) * q, count);
  return ranges;
}

void RunOnWorkers(std::size_t count, unsigned parts, const std::function<void(std::size_t, std::size_t)>& body) {
  std::exception_ptr failure;
  std::mutex failureMutex;
  std::vector<std::thread> workers;
  for (const auto& [begin, end] : SplitRange(count, parts)) {
    workers.emplace_back([&, begin = begin, end = end] {
      try {
        body(begin, end);
      } catch (...) {
        std::lock_guard lock(failureMutex);
        if (!failure) failure = std::current_exception();
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace scan
