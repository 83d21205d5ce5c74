#pragma once

// Durations an engine or a test sets (time-outs, delays, pauses) enter
// through these: checked once against the range their option allows, and
// turned into deadlines without overflow. A duration in milliseconds spans
// 292 million years, but in the nanoseconds a steady clock counts, or added
// to a clock's time, a few centuries overflow and wrap into the past.

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orbrix {

// `d` in the largest whole unit it is a multiple of: "250 ms", "30 s",
// "2 hours", "366 days".
inline std::string duration_text(std::chrono::milliseconds d) {
  using namespace std::chrono;
  const auto count = d.count();
  const auto in = [&](std::int64_t unit_ms, const char* unit) {
    return std::to_string(count / unit_ms) + unit;
  };
  if (count != 0 && count % 86'400'000 == 0) {
    return in(86'400'000, " days");
  }
  if (count != 0 && count % 3'600'000 == 0) {
    return in(3'600'000, " hours");
  }
  if (count != 0 && count % 60'000 == 0) {
    return in(60'000, " minutes");
  }
  if (count != 0 && count % 1000 == 0) {
    return in(1000, " s");
  }
  return std::to_string(count) + " ms";
}

// Throws std::invalid_argument naming `option` unless lowest <= d <= highest.
inline void check_duration(std::string_view option, std::chrono::milliseconds d,
                           std::chrono::milliseconds lowest, std::chrono::milliseconds highest) {
  if (d < lowest || d > highest) {
    throw std::invalid_argument(std::string(option) + " must be within " + duration_text(lowest) +
                                " and " + duration_text(highest) + ", got " + duration_text(d));
  }
}

// The time `d` after `from` on `Clock`: `from` for a negative d, and the
// clock's latest time when the sum would pass it (a wait that long has no
// limit). Never overflows.
template <class Clock, class Rep, class Period>
typename Clock::time_point deadline_after(typename Clock::time_point from,
                                          std::chrono::duration<Rep, Period> d) noexcept {
  using Tick = typename Clock::duration;
  if (d <= std::chrono::duration<Rep, Period>::zero()) {
    return from;
  }
  // Compared in floating seconds, which hold either side without overflow.
  const auto room = Clock::time_point::max() - from;
  if (std::chrono::duration<long double>(d) >= std::chrono::duration<long double>(room)) {
    return Clock::time_point::max();
  }
  return from + std::chrono::ceil<Tick>(d);
}

}  // namespace orbrix
