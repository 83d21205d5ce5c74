#include "orbrix/automation/wait.hpp"

#include <algorithm>

#include "orbrix/automation/apartment.hpp"

namespace orbrix::automation {

WaitHandle::WaitHandle(bool manual_reset, bool initial_state) noexcept
    : signalled_(initial_state), manual_reset_(manual_reset) {}

WaitHandle::~WaitHandle() = default;

void WaitHandle::reset() noexcept {
  signalled_.store(false, std::memory_order_release);
}

void Apartment::notify() {
  // Taking the mutex orders this wake-up after the waiter's last check.
  { MutexLock lock(mutex_); }
  wake_.notify_all();
}

void Apartment::wake_owner() {
  wake_.notify_all();
}

int Apartment::wait(std::span<WaitHandle* const> handles, std::chrono::milliseconds timeout,
                    bool infinite, bool wake_on_messages) {
  for (auto* h : handles) {
    h->add_waiter(this);
  }
  const auto deadline = infinite ? Clock::time_point::max() : Clock::now() + timeout;
  int result = -1;
  {
    MutexLock lock(mutex_);
    for (;;) {
      // Handles first, as the Win32 wait reports them ahead of messages.
      for (std::size_t i = 0; i < handles.size() && result < 0; ++i) {
        if (handles[i]->is_signalled() && handles[i]->acquire()) {
          result = static_cast<int>(i);
        }
      }
      if (result >= 0) {
        break;
      }
      if (wake_on_messages && has_work()) {
        result = static_cast<int>(handles.size());
        break;
      }
      if (!infinite && Clock::now() >= deadline) {
        break;
      }
      // Recomputed on every pass: a timer posted meanwhile may be due
      // before the deadline slept for last time.
      auto until = deadline;
      if (wake_on_messages && !timers_.empty() && timers_.top().due < until) {
        until = timers_.top().due;
      }
      if (until == Clock::time_point::max()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, until);
      }
    }
  }
  for (auto* h : handles) {
    h->remove_waiter(this);
  }
  return result;
}

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
