#pragma once

// Blocking calls that Ctrl-C ends. A call made under Interruptible releases
// the GIL and installs, for its thread, a check the gateway's waits run
// every 50 ms: it takes the GIL and runs Python's signal handlers, and an
// exception they raise (KeyboardInterrupt for Ctrl-C) ends the wait and
// comes back to the caller as itself.

#include <pybind11/pybind11.h>

#include <chrono>

#include "orbrix/automation/event.hpp"
#include "orbrix/automation/interruption.hpp"

namespace orbrix::python {

// Takes the GIL and runs the pending signal handlers; throws
// pybind11::error_already_set with what they raised.
void check_python_signals();

// A call guard: the GIL released and Python's signals checked while the call
// waits. Use as py::call_guard<Interruptible>().
struct Interruptible {
  pybind11::gil_scoped_release released;
  automation::ScopedInterruptionCheck check{&check_python_signals};
};

// Waits up to `deadline` for `event` with the GIL released, running the
// signal handlers between slices; the GIL must be held on entry. Returns
// whether the event was set.
bool wait_interruptibly(const automation::Event& event,
                        std::chrono::steady_clock::time_point deadline);

}  // namespace orbrix::python
