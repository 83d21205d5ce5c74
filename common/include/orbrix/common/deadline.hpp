#pragma once

// Deadlines that cannot overflow: a time-out of centuries (or
// duration::max(), as callers write "no limit") ends at the clock's last
// instant instead of wrapping around into the past.

#include <chrono>

namespace orbrix {

template <class Rep, class Period>
std::chrono::steady_clock::time_point deadline_after(
    std::chrono::duration<Rep, Period> timeout,
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
  using Clock = std::chrono::steady_clock;
  if (timeout <= timeout.zero()) {
    return now;
  }
  // Compared in floating seconds, which hold any duration's range; a day of
  // margin keeps the rounding of ceil below from reaching the end.
  const std::chrono::duration<double> room = Clock::time_point::max() - now;
  if (std::chrono::duration<double>(timeout) >= room - std::chrono::hours(24)) {
    return Clock::time_point::max();
  }
  return now + std::chrono::ceil<Clock::duration>(timeout);
}

}  // namespace orbrix
