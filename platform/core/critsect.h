#pragma once
// The recursive lock the libraries guard shared device, timer and drawing state with. A thread
// may enter it again while it holds it, as the devices do from their own callbacks.
#include <mutex>

namespace vant {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  // A real try: false at once when another thread holds it.
  bool TryEnter() { return mutex_.try_lock(); }

  // Lets std::lock_guard and std::unique_lock hold it too.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a CriticalSection for a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~CriticalSectionLock() { cs_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace vant
