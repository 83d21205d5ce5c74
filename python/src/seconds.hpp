#pragma once

// Python gives durations as seconds (a float); the modules take them as
// milliseconds.

#include <chrono>
#include <cstdint>

namespace orbrix::python {

inline std::chrono::milliseconds millis(double seconds) {
  return std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
}

}  // namespace orbrix::python
