#pragma once

#include <atomic>
#include <chrono>
#include <vector>

#include "orbrix/common/mutex.hpp"

namespace orbrix::telegram {

// Lets one thread abandon the HTTP transfers another thread has in flight.
// Transfers attach to it while they run; cancel() wakes them at once and makes
// every later attach fail until reset(). All methods are thread-safe and do not
// block beyond a short internal lock.
class CancelSource {
 public:
  CancelSource() = default;
  CancelSource(const CancelSource&) = delete;
  CancelSource& operator=(const CancelSource&) = delete;

  void cancel();
  void reset();
  bool cancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }

  // Waits `delay`, or less when cancel() comes first; returns whether it
  // was cancelled. Blocks the calling thread only.
  bool wait_for(std::chrono::milliseconds delay);

  // Used by the transfer code: a waker is called to interrupt one transfer's
  // wait. attach() returns false when the source is already cancelled.
  using Waker = void (*)(void* transfer);
  bool attach(void* transfer, Waker waker);
  void detach(void* transfer);

 private:
  struct Entry {
    void* transfer;
    Waker waker;
  };
  std::atomic<bool> cancelled_{false};
  Mutex mutex_;
  CondVar cv_;
  std::vector<Entry> attached_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram
