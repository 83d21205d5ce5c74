#pragma once

// Hooks run on a thread of C++'s own (the API host's worker), which has no
// Python thread state. Taking the GIL there makes one and frees it again on
// every call; keep_thread_state keeps the one the first hook made until the
// thread ends, so later hooks only take the GIL.

#include <pybind11/pybind11.h>

namespace orbrix::python {

// Call with `gil` held (the hook's own acquisition). Any thread; on a
// thread of C++'s own the first call keeps the state until the thread ends.
void keep_thread_state(pybind11::gil_scoped_acquire& gil);

}  // namespace orbrix::python
