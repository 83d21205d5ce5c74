// The Win32 wait and pump: event objects, MsgWaitForMultipleObjectsEx and
// PeekMessage/TranslateMessage/DispatchMessage.

#include "orbrix/automation/wait.hpp"

#include <cstdlib>

#include "win32_apartment.hpp"

namespace orbrix::automation {

WaitHandle::WaitHandle(bool manual_reset, bool initial_state) noexcept
    : signalled_(initial_state),
      manual_reset_(manual_reset),
      native_(CreateEventW(nullptr, manual_reset, initial_state, nullptr)) {
  if (!native_) {
    std::abort();
  }
}

WaitHandle::~WaitHandle() {
  CloseHandle(static_cast<HANDLE>(native_));
}

void WaitHandle::set() {
  signalled_.store(true, std::memory_order_release);
  SetEvent(static_cast<HANDLE>(native_));
}

void WaitHandle::reset() noexcept {
  signalled_.store(false, std::memory_order_release);
  ResetEvent(static_cast<HANDLE>(native_));
}

int Win32Apartment::wait(Apartment& apartment, std::span<WaitHandle* const> handles,
                         DWORD timeout_ms, DWORD wake_mask) {
  HANDLE native[MAXIMUM_WAIT_OBJECTS - 1];
  const DWORD count = static_cast<DWORD>(handles.size());
  if (handles.size() >= MAXIMUM_WAIT_OBJECTS) {
    return -2;
  }
  for (DWORD i = 0; i < count; ++i) {
    native[i] = static_cast<HANDLE>(handles[i]->native_);
  }
  const bool infinite = timeout_ms == INFINITE;
  const auto deadline =
      Apartment::Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeout_ms);
  const auto taken = [&](DWORD index) {
    // The system took an auto-reset event's signal; the flag follows.
    if (!handles[index]->manual_reset_) {
      handles[index]->signalled_.store(false, std::memory_order_release);
    }
    return static_cast<int>(index);
  };
  for (;;) {
    DWORD next_timer = INFINITE;
    if (wake_mask != 0 && has_work(apartment, next_timer)) {
      // Work is queued (its wake-up message may have been taken by a nested
      // pump): handles still come first, as the Win32 wait reports them.
      const DWORD r = count ? WaitForMultipleObjects(count, native, FALSE, 0) : WAIT_TIMEOUT;
      return r < WAIT_OBJECT_0 + count ? taken(r - WAIT_OBJECT_0) : static_cast<int>(count);
    }
    DWORD wait_ms = INFINITE;
    if (!infinite) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Apartment::Clock::now());
      wait_ms = left.count() <= 0 ? 0 : static_cast<DWORD>(left.count());
    }
    if (wake_mask != 0 && next_timer < wait_ms) {
      wait_ms = next_timer;
    }
    // MWMO_INPUTAVAILABLE: also input that was already in the queue, not
    // only what arrived since the thread last looked.
    const DWORD r = MsgWaitForMultipleObjectsEx(count, native, wait_ms, wake_mask,
                                                wake_mask ? MWMO_INPUTAVAILABLE : 0);
    if (r < WAIT_OBJECT_0 + count) {
      return taken(r - WAIT_OBJECT_0);
    }
    if (r == WAIT_OBJECT_0 + count) {
      return static_cast<int>(count);
    }
    if (r == WAIT_TIMEOUT) {
      if (!infinite && Apartment::Clock::now() >= deadline) {
        return -1;
      }
      continue;  // a timer is due: the next pass reports it
    }
    return -2;
  }
}

int Apartment::wait(std::span<WaitHandle* const> handles, std::chrono::milliseconds timeout,
                    bool infinite, bool wake_on_messages) {
  const DWORD ms =
      infinite ? INFINITE : static_cast<DWORD>(std::min<long long>(timeout.count(), 0x7FFFFFFE));
  const int r = Win32Apartment::wait(*this, handles, ms, wake_on_messages ? QS_ALLINPUT : 0);
  return r < -1 ? -1 : r;
}

std::uint32_t msg_wait_for_multiple_objects(std::span<WaitHandle* const> handles, bool wait_all,
                                            std::uint32_t timeout_ms, std::uint32_t wake_mask) {
  const auto& apartment = Apartment::current();
  if (!apartment || wait_all) {
    return kWaitFailed;
  }
  const int r = Win32Apartment::wait(*apartment, handles, timeout_ms, wake_mask);
  if (r == -1) {
    return kWaitTimeout;
  }
  if (r < -1) {
    return kWaitFailed;
  }
  return kWaitObject0 + static_cast<std::uint32_t>(r);
}

bool pump_waiting_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      return true;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // Due timers, and work whose wake-up message a nested pump took.
  const auto& apartment = Apartment::current();
  return apartment ? apartment->pump() : false;
}

void post_quit_message() {
  PostQuitMessage(0);
}

}  // namespace orbrix::automation
