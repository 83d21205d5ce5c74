#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace orbrix::automation::detail {

// How long to spin before sleeping, learned from the waits so far: while the
// other side answers within the limit, the spin grows to twice the answer
// time (a spin that long would have caught it); while it answers later than
// the limit (it sleeps itself, or the machine is loaded and the spin would
// only take a core the other thread needs), the spin halves towards nothing.
class AdaptiveSpin {
 public:
  std::chrono::nanoseconds budget(std::chrono::nanoseconds limit) const noexcept {
    return std::min(std::chrono::nanoseconds(budget_ns_.load(std::memory_order_relaxed)), limit);
  }
  // The other side answered `waited` after the wait began.
  void learn(std::chrono::nanoseconds waited, std::chrono::nanoseconds limit) noexcept {
    const std::int64_t b = budget_ns_.load(std::memory_order_relaxed);
    const std::int64_t w = waited.count(), l = limit.count();
    std::int64_t next = b;
    if (w > l) {
      next = b / 2;
    } else if (w > b) {
      next = std::min(l, std::max<std::int64_t>(2 * w, 1000));
    }
    if (next != b) {
      budget_ns_.store(next, std::memory_order_relaxed);
    }
  }

 private:
  // Shared by the threads that wait on one apartment; a lost update only
  // delays the learning by one wait.
  std::atomic<std::int64_t> budget_ns_{0};
};

}  // namespace orbrix::automation::detail
