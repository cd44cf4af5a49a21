#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace scan {

// Number of workers the decoders start: the hardware thread count, at least 1.
unsigned HardwareWorkerCount();

// Splits [0, count) into `parts` ranges: range k < parts − 1 is [k·q, (k+1)·q)
// with q = count / parts, the last range takes the rest (so with count < parts
// all but the last range are empty). parts 0 is treated as 1.
std::vector<std::pair<std::size_t, std::size_t>> SplitRange(std::size_t count, unsigned parts);

// Runs body(begin, end) for every range of SplitRange(count, parts), each on
// its own std::thread, and joins them all before returning. The body must
// only write data owned by its range. An exception thrown by a body is
// rethrown here after all threads were joined.
void RunOnWorkers(std::size_t count, unsigned parts, const std::function<void(std::size_t, std::size_t)>& body);

}  // namespace scan
