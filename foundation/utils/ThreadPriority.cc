#include "foundation/utils/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace utils {

namespace {

// On Linux the nice value belongs to the thread: PRIO_PROCESS with a thread
// id addresses that thread alone.
id_t ThisThreadId() { return static_cast<id_t>(::syscall(SYS_gettid)); }

}  // namespace

int GetThisThreadNice() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, ThisThreadId());
  return errno == 0 ? nice : 0;
}

int LowerThisThreadPriority(int increment) {
  const int before = GetThisThreadNice();
  const int wanted = std::clamp(before + std::max(increment, 0), -20, 19);
  if (::setpriority(PRIO_PROCESS, ThisThreadId(), wanted) != 0) return before;
  return GetThisThreadNice();
}

}  // namespace utils
