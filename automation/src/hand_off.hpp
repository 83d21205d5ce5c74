#pragma once

// What a hand-off between two threads is made of: a bounded spin with the
// CPU's pause instruction, then a sleep on the address of a 32-bit word until
// it changes (with a deadline, which std::atomic::wait lacks; the same futex
// or WaitOnAddress the standard library's atomic wait sleeps on). The spin's
// bound is detail::AdaptiveSpin. Private to the automation layer.

#include <atomic>
#include <chrono>
#include <cstdint>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <thread>
#endif

namespace orbrix::automation::detail {

using HandOffClock = std::chrono::steady_clock;

// Tells the CPU this thread is spinning: it yields the core's shared
// resources to its sibling hyper-thread and saves power.
inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield" ::: "memory");
#endif
}

// Spins until ready() or until `budget` has passed since `start`; returns
// ready(). The clock is read once every 32 checks.
template <class Ready>
bool spin_until(Ready&& ready, std::chrono::nanoseconds budget, HandOffClock::time_point start) {
  if (budget.count() <= 0) {
    return ready();
  }
  const auto end = start + budget;
  for (;;) {
    for (int i = 0; i < 32; ++i) {
      if (ready()) {
        return true;
      }
      cpu_relax();
    }
    if (HandOffClock::now() >= end) {
      return ready();
    }
  }
}

// Sleeps while `word` holds `expected`, until woken by wake_one_on(word),
// or until `deadline` (none when null). Returns false only when the deadline
// passed; it may also return early (a spurious wake-up): the caller checks
// its word again.
inline bool wait_on_address(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                            const HandOffClock::time_point* deadline) {
#if defined(__linux__)
  // steady_clock is CLOCK_MONOTONIC, which FUTEX_WAIT_BITSET takes as an
  // absolute time.
  timespec ts{};
  if (deadline) {
    const auto since_epoch = deadline->time_since_epoch();
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    ts.tv_sec = static_cast<time_t>(s.count());
    ts.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - s).count());
  }
  const long r = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word),
                         FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected,
                         deadline ? &ts : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
  return !(r == -1 && errno == ETIMEDOUT);
#elif defined(_WIN32)
  DWORD ms = INFINITE;
  if (deadline) {
    const auto now = HandOffClock::now();
    if (now >= *deadline) {
      return false;
    }
    ms = static_cast<DWORD>(
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count());
  }
  if (!WaitOnAddress(&word, &expected, sizeof expected, ms)) {
    return GetLastError() != ERROR_TIMEOUT;
  }
  return true;
#else
  if (deadline && HandOffClock::now() >= *deadline) {
    return false;
  }
  if (word.load(std::memory_order_acquire) == expected) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
#endif
}

// Wakes one thread sleeping in wait_on_address(word). Waking an address
// whose object has since gone is harmless: the kernel only looks the
// address up among its sleepers, and a sleeper found there checks its own
// word again (a spurious wake-up).
inline void wake_one_on(std::atomic<std::uint32_t>& word) noexcept {
#if defined(__linux__)
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, 1,
          nullptr, nullptr, 0);
#elif defined(_WIN32)
  WakeByAddressSingle(&word);
#else
  (void)word;
#endif
}

}  // namespace orbrix::automation::detail
