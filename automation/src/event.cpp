#include "orbrix/automation/event.hpp"

#include <cmath>

namespace orbrix::automation {

void Event::set() {
  MutexLock lock(mutex_);
  if (!set_) {
    set_ = true;
    cv_.notify_all();
  }
}

void Event::clear() {
  MutexLock lock(mutex_);
  set_ = false;
}

bool Event::is_set() const {
  MutexLock lock(mutex_);
  return set_;
}

bool Event::wait(double seconds) const {
  if (!(seconds > 0)) {  // also NaN
    return is_set();
  }
  return wait_for(std::chrono::duration<double>(seconds));
}

bool Event::wait_until(std::chrono::steady_clock::time_point deadline) const {
  MutexLock lock(mutex_);
  return cv_.wait_until(lock, deadline, [this]() NO_THREAD_SAFETY_ANALYSIS { return set_; });
}

void Event::wait_forever() const {
  MutexLock lock(mutex_);
  cv_.wait(lock, [this]() NO_THREAD_SAFETY_ANALYSIS { return set_; });
}

}  // namespace orbrix::automation
