#pragma once

#include <chrono>

#include "orbrix/common/deadline.hpp"
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
  // clock's range waits without limit.
  bool wait(double seconds) const;
  template <class Rep, class Period>
  bool wait_for(std::chrono::duration<Rep, Period> timeout) const {
    return wait_until(deadline_after(timeout));
  }
  bool wait_until(std::chrono::steady_clock::time_point deadline) const;
  // Blocks until the event is set, without limit.
  void wait_forever() const;

 private:
  mutable Mutex mutex_;
  mutable CondVar cv_;
  bool set_ GUARDED_BY(mutex_) = false;
};

}  // namespace orbrix::automation
