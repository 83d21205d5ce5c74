#pragma once

// The GIL for a call into Python from a thread of C++'s own (the API host's
// worker, a backtest's run), unless the interpreter is finalizing: taking it
// then ends the thread on the spot, in the middle of whatever C++ was doing.
// Such a call is dropped instead (traced once per process).

#include <pybind11/pybind11.h>

#include <string_view>

namespace orbrix::python {

// Whether the interpreter has begun to finalize (or is gone). Any thread.
bool interpreter_finalizing() noexcept;

class HookGil {
 public:
  // Takes the GIL, and keeps the thread's Python state for the next call,
  // unless the interpreter is finalizing; `what` names the call dropped.
  explicit HookGil(std::string_view what);
  // Gives the GIL back, unless the thread lost it: a thread that Python ends
  // while it takes the GIL back (inside the hook) is unwound without it, and
  // giving back what it does not hold would corrupt the interpreter.
  ~HookGil();
  HookGil(const HookGil&) = delete;
  HookGil& operator=(const HookGil&) = delete;

  // Whether the GIL is held (the call may go on).
  explicit operator bool() const noexcept { return held_; }

 private:
  union {
    pybind11::gil_scoped_acquire gil_;
  };
  bool held_ = false;
};

}  // namespace orbrix::python
