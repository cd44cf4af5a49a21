#include "v3d/LockGuard.h"

#include <system_error>

namespace v3d {

bool RecursiveLock::TryAcquire() {
  const std::thread::id self = std::this_thread::get_id();
  if (m_count > 0 && m_owner == self) {
    if (m_count >= m_maxCount) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                              "v3d::LockGuard - Maximum lock count reached.");
    }
    ++m_count;
    return true;
  }
  if (m_count == 0) {
    m_owner = self;
    m_count = 1;
    return true;
  }
  return false;
}

void RecursiveLock::Lock() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!TryAcquire()) m_released.wait(lock);
}

bool RecursiveLock::TryLockFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!TryAcquire()) {
    if (m_released.wait_until(lock, deadline) == std::cv_status::timeout) return TryAcquire();
  }
  return true;
}

void RecursiveLock::Unlock() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_count == 0 || m_owner != std::this_thread::get_id()) {
    throw std::system_error(std::make_error_code(std::errc::operation_not_permitted),
                            "v3d::LockGuard - The calling thread does not own the lock.");
  }
  if (--m_count > 0) return;
  m_owner = std::thread::id();
  lock.unlock();
  m_released.notify_one();
}

std::uint32_t RecursiveLock::GetCountOfThisThread() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_owner == std::this_thread::get_id() ? m_count : 0;
}

RecursiveLock& GetViewerLock() {
  static RecursiveLock lock;
  return lock;
}

}  // namespace v3d
