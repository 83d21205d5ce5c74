#pragma once

// Pins a thread to one CPU for the benchmarks that measure a hand-off
// between two cores: where the scheduler happens to put two threads (one
// CPU or two) decides such a figure more than the code does.

#include <pthread.h>
#include <sched.h>

#include <thread>

// Pins the calling thread to `cpu` (nothing on a one-CPU machine).
inline void pin_to_cpu(int cpu) {
  if (std::thread::hardware_concurrency() < 2) {
    return;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Pins the calling thread to `cpu` while it lives, then gives it back the
// CPUs it had.
class ScopedPin {
 public:
  explicit ScopedPin(int cpu) {
    pthread_getaffinity_np(pthread_self(), sizeof saved_, &saved_);
    pin_to_cpu(cpu);
  }
  ~ScopedPin() { pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_); }
  ScopedPin(const ScopedPin&) = delete;
  ScopedPin& operator=(const ScopedPin&) = delete;

 private:
  cpu_set_t saved_{};
};
