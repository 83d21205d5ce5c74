#include "thread_state.hpp"

#include "hook_gil.hpp"

namespace orbrix::python {

namespace {

// Frees the kept thread state when the thread ends. A thread that ends while
// the interpreter is finalizing leaves it: taking the GIL then would end the
// thread on the spot.
struct KeptState {
  bool decided = false;
  bool kept = false;
  ~KeptState() {
    if (!kept || interpreter_finalizing()) {
      return;
    }
    pybind11::gil_scoped_acquire gil;
    gil.dec_ref();
  }
};

}  // namespace

void keep_thread_state(pybind11::gil_scoped_acquire& gil) {
  thread_local KeptState state;
  if (state.decided) {
    return;
  }
  state.decided = true;
  // Only a state pybind11 made for this thread: a Python thread has its own,
  // which Python frees when the thread ends.
  if (PYBIND11_TLS_GET_VALUE(pybind11::detail::get_internals().tstate) != nullptr) {
    gil.inc_ref();
    state.kept = true;
  }
}

}  // namespace orbrix::python
