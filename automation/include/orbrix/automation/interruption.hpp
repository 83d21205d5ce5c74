#pragma once

// A check that the long waits of a thread run between their slices, so a
// binding can end a wait early: Python's installs one that runs the
// interpreter's signal handlers, so Ctrl-C ends a wait for the vendor at
// once instead of after its time-out. The check throws to end the wait; the
// waiting operation then ends with that exception, leaving its state as a
// time-out would.

#include <chrono>

namespace orbrix::automation {

using InterruptionCheck = void (*)();

// How often a wait runs the check, at most.
inline constexpr std::chrono::milliseconds kInterruptionInterval{50};

// Installs `check` for the calling thread until destroyed (the previous one
// comes back then). Not movable: it lives in the frame of the call it covers.
class ScopedInterruptionCheck {
 public:
  explicit ScopedInterruptionCheck(InterruptionCheck check) noexcept;
  ~ScopedInterruptionCheck();
  ScopedInterruptionCheck(const ScopedInterruptionCheck&) = delete;
  ScopedInterruptionCheck& operator=(const ScopedInterruptionCheck&) = delete;

 private:
  InterruptionCheck previous_;
};

// Runs the calling thread's check, if one is installed; throws what it
// throws.
void check_interruption();

// A wait's pacing of the check: poll() runs it at most once per
// kInterruptionInterval, and not at all when the thread has none.
class InterruptionPacer {
 public:
  InterruptionPacer();
  // Runs the check when it is due. Throws what the check throws.
  void poll();

 private:
  bool armed_;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace orbrix::automation
