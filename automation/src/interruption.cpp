#include "orbrix/automation/interruption.hpp"

namespace orbrix::automation {

namespace {
thread_local InterruptionCheck current_check = nullptr;
}  // namespace

ScopedInterruptionCheck::ScopedInterruptionCheck(InterruptionCheck check) noexcept
    : previous_(current_check) {
  current_check = check;
}

ScopedInterruptionCheck::~ScopedInterruptionCheck() {
  current_check = previous_;
}

void check_interruption() {
  if (current_check != nullptr) {
    current_check();
  }
}

InterruptionPacer::InterruptionPacer()
    : armed_(current_check != nullptr),
      next_(std::chrono::steady_clock::now() + kInterruptionInterval) {}

void InterruptionPacer::poll() {
  if (!armed_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) {
    return;
  }
  next_ = now + kInterruptionInterval;
  check_interruption();
}

}  // namespace orbrix::automation
