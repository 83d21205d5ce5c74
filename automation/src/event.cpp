#include "orbrix/automation/event.hpp"

#include <algorithm>
#include <cmath>

#include "hand_off.hpp"

namespace orbrix::automation {

namespace {

// The longest a waiter spins before it sleeps.
constexpr std::chrono::nanoseconds kSpinLimit = std::chrono::microseconds(20);

}  // namespace

void Event::set() {
  MutexLock lock(mutex_);
  if (!set_) {
    set_ = true;
    flag_.store(true, std::memory_order_release);
    cv_.notify_all();
  }
}

void Event::clear() {
  MutexLock lock(mutex_);
  set_ = false;
  flag_.store(false, std::memory_order_release);
}

bool Event::is_set() const {
  return flag_.load(std::memory_order_acquire);
}

bool Event::wait(double seconds) const {
  if (!(seconds > 0)) {  // also NaN
    return is_set();
  }
  return wait_for(std::chrono::duration<double>(seconds));
}

bool Event::wait_until(std::chrono::steady_clock::time_point deadline) const {
  if (flag_.load(std::memory_order_acquire)) {
    return true;
  }
  const auto start = detail::HandOffClock::now();
  const auto budget =
      std::min<std::chrono::nanoseconds>(spin_.budget(kSpinLimit), deadline - start);
  const bool caught =
      detail::spin_until([this] { return flag_.load(std::memory_order_acquire); }, budget, start);
  spin_.learn(budget, caught, detail::HandOffClock::now() - start, kSpinLimit);
  if (caught) {
    return true;
  }
  MutexLock lock(mutex_);
  return cv_.wait_until(lock, deadline, [this]() NO_THREAD_SAFETY_ANALYSIS { return set_; });
}

void Event::wait_forever() const {
  MutexLock lock(mutex_);
  cv_.wait(lock, [this]() NO_THREAD_SAFETY_ANALYSIS { return set_; });
}

}  // namespace orbrix::automation
