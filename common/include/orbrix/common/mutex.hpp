#pragma once

#include <condition_variable>
#include <mutex>

#include "orbrix/common/thread_annotations.hpp"

namespace orbrix {

// std::mutex with clang thread-safety annotations, so members can be
// declared GUARDED_BY it and the clang build checks every access.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Scoped lock over Mutex. Also usable with CondVar, which needs a
// std::unique_lock underneath.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& m) ACQUIRE(m) : lock_(m.native()) {}
  ~MutexLock() RELEASE() = default;
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  std::unique_lock<std::mutex>& native() { return lock_; }

 private:
  std::unique_lock<std::mutex> lock_;
};

// Condition variable that waits with a MutexLock held. The predicate runs
// with the mutex held; the analysis cannot see through the lambda, so
// predicates that read guarded members are marked NO_THREAD_SAFETY_ANALYSIS
// by callers where needed.
class CondVar {
 public:
  void notify_one() noexcept { cv_.notify_one(); }
  void notify_all() noexcept { cv_.notify_all(); }
  // Without a predicate: the caller re-checks its condition after every
  // return, spurious wake-ups included.
  void wait(MutexLock& lock) { cv_.wait(lock.native()); }
  template <class Clock, class Duration>
  std::cv_status wait_until(MutexLock& lock,
                            const std::chrono::time_point<Clock, Duration>& deadline) {
    return cv_.wait_until(lock.native(), deadline);
  }
  template <class Pred>
  void wait(MutexLock& lock, Pred pred) {
    cv_.wait(lock.native(), pred);
  }
  template <class Clock, class Duration, class Pred>
  bool wait_until(MutexLock& lock, const std::chrono::time_point<Clock, Duration>& deadline,
                  Pred pred) {
    return cv_.wait_until(lock.native(), deadline, pred);
  }
  template <class Rep, class Period, class Pred>
  bool wait_for(MutexLock& lock, const std::chrono::duration<Rep, Period>& timeout, Pred pred) {
    return cv_.wait_for(lock.native(), timeout, pred);
  }

 private:
  std::condition_variable cv_;
};

}  // namespace orbrix
