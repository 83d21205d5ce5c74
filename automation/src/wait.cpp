#include "orbrix/automation/wait.hpp"

#include <algorithm>

#include "orbrix/automation/apartment.hpp"

namespace orbrix::automation {

void WaitHandle::set() {
  MutexLock lock(mutex_);
  signalled_.store(true, std::memory_order_release);
  // Under the handle's lock, so a waiter cannot unregister (and its
  // apartment go away) between the copy and the wake-up.
  for (auto* apartment : waiters_) {
    apartment->notify();
  }
}

bool WaitHandle::acquire() noexcept {
  if (manual_reset_) {
    return signalled_.load(std::memory_order_acquire);
  }
  bool expected = true;
  return signalled_.compare_exchange_strong(expected, false, std::memory_order_acq_rel);
}

void WaitHandle::add_waiter(Apartment* apartment) {
  MutexLock lock(mutex_);
  waiters_.push_back(apartment);
}

void WaitHandle::remove_waiter(Apartment* apartment) {
  MutexLock lock(mutex_);
  auto it = std::find(waiters_.begin(), waiters_.end(), apartment);
  if (it != waiters_.end()) {
    waiters_.erase(it);
  }
}

std::uint32_t msg_wait_for_multiple_objects(std::span<WaitHandle* const> handles, bool wait_all,
                                            std::uint32_t timeout_ms, std::uint32_t wake_mask) {
  const auto& apartment = Apartment::current();
  if (!apartment || wait_all) {
    return kWaitFailed;
  }
  const bool infinite = timeout_ms == kInfinite;
  const int r = apartment->wait(handles, std::chrono::milliseconds(infinite ? 0 : timeout_ms),
                                infinite, wake_mask != 0);
  return r < 0 ? kWaitTimeout : kWaitObject0 + static_cast<std::uint32_t>(r);
}

bool pump_waiting_messages() {
  const auto& apartment = Apartment::current();
  return apartment ? apartment->pump() : false;
}

void post_quit_message() {
  if (const auto& apartment = Apartment::current()) {
    apartment->post_quit();
  }
}

}  // namespace orbrix::automation
