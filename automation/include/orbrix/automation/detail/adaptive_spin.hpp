#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace orbrix::automation::detail {

// How long to spin before sleeping, learned from the spins so far; one is
// shared by both sides of a hand-off (an apartment's callers and its
// thread), since a spin catches the other side only while that side is
// awake, spinning too. A spin that caught the answer within its time sets
// the bound to four times the answer's time (at least 2 us), so a late
// answer is still caught next time; a spin that missed halves it, and below
// 1 us spinning stops, as on a loaded machine, where a spin only takes the
// core the other thread needs. Stopped, every so often (16 waits, up to
// 1024) both sides spin to the full limit again (a probe): a catch goes on
// spinning; a probe that decays to nothing doubles the time to the next.
class AdaptiveSpin {
 public:
  // The spin for the wait about to begin.
  std::chrono::nanoseconds budget(std::chrono::nanoseconds limit) noexcept {
    const std::int64_t b = budget_ns_.load(std::memory_order_relaxed);
    if (b > 0) {
      return std::min(std::chrono::nanoseconds(b), limit);
    }
    if (countdown_.fetch_sub(1, std::memory_order_relaxed) > 1) {
      return std::chrono::nanoseconds(0);
    }
    countdown_.store(interval_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    probing_.store(true, std::memory_order_relaxed);
    budget_ns_.store(limit.count(), std::memory_order_relaxed);
    return limit;
  }
  // After a wait that spun for up to `spun`: whether the spin saw the
  // answer, and how long after the wait began it came.
  void learn(std::chrono::nanoseconds spun, bool caught, std::chrono::nanoseconds waited,
             std::chrono::nanoseconds limit) noexcept {
    if (spun.count() <= 0) {
      return;
    }
    const std::int64_t b = budget_ns_.load(std::memory_order_relaxed);
    // An answer seen only after the spin's time was out came while this
    // thread was off its core (preempted mid-spin): the spin did not catch
    // it, it only took the core.
    if (caught && waited <= spun) {
      budget_ns_.store(std::min<std::int64_t>(limit.count(),
                                              std::max<std::int64_t>({b, 4 * waited.count(), 2000})),
                       std::memory_order_relaxed);
      probing_.store(false, std::memory_order_relaxed);
      interval_.store(kFirstInterval, std::memory_order_relaxed);
      return;
    }
    const std::int64_t next = b / 2 >= 1000 ? b / 2 : 0;
    budget_ns_.store(next, std::memory_order_relaxed);
    if (next == 0 && probing_.exchange(false, std::memory_order_relaxed)) {
      interval_.store(std::min(2 * interval_.load(std::memory_order_relaxed), kLastInterval),
                      std::memory_order_relaxed);
    }
  }

 private:
  static constexpr std::int32_t kFirstInterval = 16, kLastInterval = 1024;
  // Updated by several threads; a lost update only delays the learning by
  // one wait. It starts spinning.
  std::atomic<std::int64_t> budget_ns_{2000};
  std::atomic<std::int32_t> countdown_{kFirstInterval};
  std::atomic<std::int32_t> interval_{kFirstInterval};
  std::atomic<bool> probing_{false};
};

}  // namespace orbrix::automation::detail
