#pragma once

#include <chrono>
#include <span>

#include "com.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/wait.hpp"

namespace orbrix::automation {

// The Windows side of an apartment: its thread is a COM single-threaded
// apartment, work posted to its queue is announced by a message to a
// message-only window the thread owns (so the Win32 pump runs it, also
// inside a modal loop), and its waits are MsgWaitForMultipleObjectsEx.
struct Win32Apartment {
  // The window's message: "the apartment's queue has work".
  static constexpr UINT kWakeMessage = WM_APP + 0x3A7;

  // Waits on the calling thread (the owner) for a handle, input matching
  // `wake_mask` (0: none) or work in the apartment's queue (a due timer
  // included), for up to `timeout_ms` (INFINITE: without limit). Returns the
  // index of the signalled handle, handles.size() for "messages waiting", -1
  // on time-out and -2 when the wait failed (more than 63 handles, a bad
  // handle).
  static int wait(Apartment& apartment, std::span<WaitHandle* const> handles, DWORD timeout_ms,
                  DWORD wake_mask);

  // CoInitialize and the window; throws ApartmentError. Owning thread.
  static void attach(Apartment& apartment);
  // The window goes, then CoUninitialize. Owning thread.
  static void detach(Apartment& apartment) noexcept;

  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // True when the queue has work now; the time until the next timer (or
  // INFINITE) otherwise.
  static bool has_work(Apartment& apartment, DWORD& next_timer_ms);
};

}  // namespace orbrix::automation
