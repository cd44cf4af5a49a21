#pragma once

namespace utils {

// Lowers the scheduling priority of the calling thread (and of the threads
// it starts afterwards, OpenMP's included) by `increment` nice levels, so
// that long background work (fusion, alignment, comparison) leaves the
// cores to the user interface when it needs them and takes them otherwise.
// Returns the thread's nice value afterwards; failures are harmless (the
// thread keeps its priority) and reported by a value equal to before.
int LowerThisThreadPriority(int increment = 10);

// The calling thread's nice value.
int GetThisThreadNice();

}  // namespace utils
