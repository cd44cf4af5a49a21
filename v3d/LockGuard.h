#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

namespace v3d {

// A recursive lock built from a mutex, a condition variable, an owner thread
// and a 32-bit count. The owner may lock again (the count grows; at the
// maximum count Lock throws std::system_error instead of wrapping); other
// threads wait until the count returns to 0. Unlocking by a thread that does
// not own the lock throws std::system_error.
class RecursiveLock {
 public:
  explicit RecursiveLock(std::uint32_t maxCount = std::numeric_limits<std::uint32_t>::max())
      : m_maxCount(maxCount) {}
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Lock();
  // Waits at most timeout; false when the lock could not be taken in time.
  bool TryLockFor(std::chrono::milliseconds timeout);
  void Unlock();

  // The calling thread's count (0 when another thread or nobody owns it).
  std::uint32_t GetCountOfThisThread() const;

 private:
  // With m_mutex held: takes the lock if the caller owns it or it is free.
  bool TryAcquire();

  mutable std::mutex m_mutex;
  std::condition_variable m_released;
  std::thread::id m_owner;
  std::uint32_t m_count = 0;
  const std::uint32_t m_maxCount;
};

// The one process-wide lock around all viewer data: the scene, its nodes,
// meshes and textures. The shell thread takes it around scene edits, the
// render thread around drawing and event handling.
RecursiveLock& GetViewerLock();

// Scope guard on the viewer lock. The timed form may fail to take the lock;
// OwnsLock tells, and the destructor releases only a lock it took.
class LockGuard {
 public:
  LockGuard() : m_owns(true) { GetViewerLock().Lock(); }
  explicit LockGuard(std::chrono::milliseconds timeout)
      : m_owns(GetViewerLock().TryLockFor(timeout)) {}
  ~LockGuard() {
    if (m_owns) GetViewerLock().Unlock();
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

  bool OwnsLock() const { return m_owns; }

 private:
  bool m_owns;
};

}  // namespace v3d
