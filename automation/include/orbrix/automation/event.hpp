#pragma once

#include <atomic>
#include <chrono>

#include "orbrix/automation/detail/adaptive_spin.hpp"
#include "orbrix/common/durations.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {

// A flag shared between threads: set, clear, is_set and a bounded wait.
// Setting a set event changes nothing; waiters are released while it is set.
class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Any thread; never blocks for long.
  void set();
  void clear();
  bool is_set() const;

  // Blocks until the event is set or `seconds` pass; returns whether it was
  // set when the wait ended. A set event returns true at once; a time-out
  // that is not above 0 (or NaN) tests without waiting, one beyond the
  // clock's range waits without limit. A waiter spins a little first
  // (learned, as the apartment's hand-off does): an event set on another
  // core within microseconds costs no sleep and wake.
  bool wait(double seconds) const;
  template <class Rep, class Period>
  bool wait_for(std::chrono::duration<Rep, Period> timeout) const {
    return wait_until(
        deadline_after<std::chrono::steady_clock>(std::chrono::steady_clock::now(), timeout));
  }
  bool wait_until(std::chrono::steady_clock::time_point deadline) const;
  // Blocks until the event is set, without limit.
  void wait_forever() const;

 private:
  mutable Mutex mutex_;
  mutable CondVar cv_;
  bool set_ GUARDED_BY(mutex_) = false;
  // set_ for readers that take no lock: written with it, under the mutex.
  std::atomic<bool> flag_{false};
  mutable detail::AdaptiveSpin spin_;
};

}  // namespace orbrix::automation
