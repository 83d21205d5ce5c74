#include "orbrix/automation/wait.hpp"

#include <algorithm>
#include <atomic>

#include "orbrix/automation/apartment.hpp"
#include "../hand_off.hpp"

namespace orbrix::automation {

namespace {
std::atomic<std::uint64_t> next_handle_serial{1};
}  // namespace

WaitHandle::WaitHandle(bool manual_reset, bool initial_state) noexcept
    : signalled_(initial_state),
      manual_reset_(manual_reset),
      serial_(next_handle_serial.fetch_add(1, std::memory_order_relaxed)) {}

WaitHandle::~WaitHandle() = default;

void WaitHandle::reset() noexcept {
  signalled_.store(false, std::memory_order_release);
}

void Apartment::notify() {
  bool wake;
  {
    // Taking the mutex orders this wake-up after the waiter's last check:
    // an owner not yet asleep sees the handle set when it checks.
    MutexLock lock(mutex_);
    wake = sleeping_;
  }
  if (wake) {
    wake_.notify_all();
  }
}

void Apartment::wake_owner() {
  wake_.notify_all();
}

void Apartment::register_with(std::span<WaitHandle* const> handles) {
  const bool same = handles.size() == registered_.size() &&
                    std::equal(handles.begin(), handles.end(), registered_.begin(),
                               [](WaitHandle* h, const Registered& r) {
                                 return h == r.handle && h->serial() == r.serial;
                               });
  if (same) {
    return;
  }
  // A handle of an earlier set keeps this apartment registered; setting it
  // wakes the wait for nothing (it checks and sleeps again), which is
  // cheaper than unregistering from handles that may have gone.
  registered_.clear();
  for (auto* h : handles) {
    h->add_waiter(current());
    registered_.push_back({h, h->serial()});
  }
}

int Apartment::wait(std::span<WaitHandle* const> handles, std::chrono::milliseconds timeout,
                    bool infinite, bool wake_on_messages) {
  register_with(handles);
  const auto start = Clock::now();
  const auto deadline = infinite ? Clock::time_point::max() : start + timeout;
  const auto limit = spin_limit();
  bool spun = false;
  std::chrono::nanoseconds spin{0};
  bool caught = false;
  int result = -1;
  for (;;) {
    std::uint32_t seen;
    {
      MutexLock lock(mutex_);
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
      seen = posted_.load(std::memory_order_acquire);
      if (spun) {
        // Recomputed on every pass: a timer posted meanwhile may be due
        // before the deadline slept for last time.
        auto until = deadline;
        if (wake_on_messages && !timers_.empty() && timers_.top().due < until) {
          until = timers_.top().due;
        }
        sleeping_ = true;
        if (until == Clock::time_point::max()) {
          wake_.wait(lock);
        } else {
          wake_.wait_until(lock, until);
        }
        sleeping_ = false;
        continue;
      }
    }
    // Once per wait, before the first sleep: a spin for new work or a
    // handle set, without the lock. Whatever it finds is checked above.
    spun = true;
    spin = spin_.budget(limit);
    caught = detail::spin_until(
        [&] {
          if (posted_.load(std::memory_order_relaxed) != seen) {
            return true;
          }
          return std::any_of(handles.begin(), handles.end(),
                             [](WaitHandle* h) { return h->is_signalled(); });
        },
        spin, Clock::now());
  }
  spin_.learn(spin, caught, Clock::now() - start, limit);
  return result;
}

void WaitHandle::set() {
  MutexLock lock(mutex_);
  signalled_.store(true, std::memory_order_release);
  // Under the handle's lock, so the list does not change under the loop.
  for (auto it = waiters_.begin(); it != waiters_.end();) {
    if (auto apartment = it->lock()) {
      apartment->notify();
      ++it;
    } else {
      it = waiters_.erase(it);
    }
  }
}

bool WaitHandle::acquire() noexcept {
  if (manual_reset_) {
    return signalled_.load(std::memory_order_acquire);
  }
  bool expected = true;
  return signalled_.compare_exchange_strong(expected, false, std::memory_order_acq_rel);
}

void WaitHandle::add_waiter(const std::shared_ptr<Apartment>& apartment) {
  MutexLock lock(mutex_);
  std::erase_if(waiters_, [](const std::weak_ptr<Apartment>& w) { return w.expired(); });
  for (const auto& w : waiters_) {
    if (w.lock() == apartment) {
      return;
    }
  }
  waiters_.push_back(apartment);
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
