#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "orbrix/common/mutex.hpp"

namespace orbrix::automation {

class Apartment;

// A Win32-style event handle (CreateEvent): manual- or auto-reset. An
// auto-reset handle releases one wait and resets itself. Waited on together
// with the apartment's message queue by msg_wait_for_multiple_objects.
//
// On Windows the handle is a real event object (CreateEvent), which
// MsgWaitForMultipleObjects waits on; the flag mirrors it for is_signalled.
class WaitHandle {
 public:
  // Windows: aborts the process when no event object can be created (the
  // system is out of handles), as it cannot be reported from here.
  WaitHandle(bool manual_reset, bool initial_state) noexcept;
  ~WaitHandle();
  WaitHandle(const WaitHandle&) = delete;
  WaitHandle& operator=(const WaitHandle&) = delete;

  // SetEvent: signals the handle and wakes the threads waiting on it.
  void set();
  // ResetEvent.
  void reset() noexcept;
  bool is_signalled() const noexcept { return signalled_.load(std::memory_order_acquire); }

 private:
  friend class Apartment;
  friend struct Win32Apartment;
  // Takes the signal for a wait that returns on it; an auto-reset handle
  // resets. Returns false when another waiter took it first.
  bool acquire() noexcept;

  std::atomic<bool> signalled_;
  const bool manual_reset_;
#if !defined(_WIN32)
  // Wakes `apartment` whenever the handle is set, from now on: an apartment
  // registers once for a set of handles it waits on again and again, not on
  // every wait. An apartment that has gone is skipped (and forgotten).
  void add_waiter(const std::shared_ptr<Apartment>& apartment);
  std::uint64_t serial() const noexcept { return serial_; }

  const std::uint64_t serial_;  // unique in the process
  Mutex mutex_;
  std::vector<std::weak_ptr<Apartment>> waiters_ GUARDED_BY(mutex_);
#endif
#if defined(_WIN32)
  void* native_;  // the event object's HANDLE
#endif
};

// Results and arguments of msg_wait_for_multiple_objects, after Win32.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr std::uint32_t kQsAllEvents = 0x04BF;
inline constexpr std::uint32_t kQsAllInput = 0x04FF;

// MsgWaitForMultipleObjects on the calling thread's apartment: returns
// kWaitObject0 + i when handle i is signalled (handles win over messages),
// kWaitObject0 + handles.size() when messages are waiting (wake_mask not 0),
// kWaitTimeout when `timeout_ms` passes, and kWaitFailed when the thread has
// no apartment or wait_all is asked for (not supported). Blocks up to
// `timeout_ms` (kInfinite: without limit).
std::uint32_t msg_wait_for_multiple_objects(std::span<WaitHandle* const> handles, bool wait_all,
                                            std::uint32_t timeout_ms, std::uint32_t wake_mask);

// PeekMessage/TranslateMessage/DispatchMessage over the messages waiting on
// the calling thread's apartment (on Windows the thread's window messages,
// then the apartment's own queue). Returns true when it met a quit message.
// An exception escaping a message is reported (report_error) and the pump
// goes on.
bool pump_waiting_messages();

// PostQuitMessage: queues a quit message for the calling thread's apartment.
void post_quit_message();

}  // namespace orbrix::automation
