#pragma once

// Python gives durations as seconds (a float); the modules take them as
// milliseconds. Every duration is checked where it enters: NaN and negative
// values raise ValueError naming the parameter; a time-out of infinity, or
// beyond what milliseconds hold, means "no limit" (milliseconds::max());
// other durations (a delay, a pause) must be finite and in range.

#include <pybind11/pybind11.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace orbrix::python {

namespace detail {
// Seconds at and beyond which milliseconds no longer hold the value.
inline constexpr double kLargestSeconds =
    static_cast<double>(std::numeric_limits<std::int64_t>::max()) / 1000.0;

inline void refuse(std::string_view what, double seconds, std::string_view why) {
  throw pybind11::value_error(std::string(what) + ": " +
                              pybind11::repr(pybind11::float_(seconds)).cast<std::string>() +
                              " seconds " + std::string(why));
}
}  // namespace detail

// A time-out: infinity, or anything milliseconds cannot hold, waits without
// limit.
inline std::chrono::milliseconds timeout_millis(double seconds, std::string_view what) {
  if (std::isnan(seconds) || seconds < 0) {
    detail::refuse(what, seconds, "is not a time-out (0 or more, or math.inf for no limit)");
  }
  if (seconds >= detail::kLargestSeconds) {
    return std::chrono::milliseconds::max();
  }
  return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
}

// A delay or a pause: finite, 0 or more, and within what milliseconds hold.
inline std::chrono::milliseconds millis(double seconds, std::string_view what) {
  if (std::isnan(seconds) || seconds < 0) {
    detail::refuse(what, seconds, "is not a duration (0 or more)");
  }
  if (seconds >= detail::kLargestSeconds) {
    detail::refuse(what, seconds, "is beyond the longest duration this accepts");
  }
  return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
}

// Milliseconds as seconds; "no limit" is infinity.
inline double seconds_of(std::chrono::milliseconds ms) {
  if (ms == std::chrono::milliseconds::max()) {
    return std::numeric_limits<double>::infinity();
  }
  return static_cast<double>(ms.count()) / 1000.0;
}

}  // namespace orbrix::python
