#include "hook_gil.hpp"

#include <fmt/format.h>

#include <atomic>
#include <memory>

#include "orbrix/cqg/trace.hpp"
#include "thread_state.hpp"

namespace orbrix::python {

bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return !Py_IsInitialized() || Py_IsFinalizing();
#else
  return !Py_IsInitialized() || _Py_IsFinalizing();
#endif
}

HookGil::HookGil(std::string_view what) {
  if (interpreter_finalizing()) {
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
      cqg::Trace(fmt::format(
          "{}: the Python interpreter is finalizing; calls into the engine are dropped", what));
    }
    return;
  }
  std::construct_at(&gil_);
  held_ = true;
  keep_thread_state(gil_);
}

HookGil::~HookGil() {
  if (!held_) {
    return;
  }
  // The thread state holding the GIL is the interpreter's one "current"
  // state, whichever thread it belongs to: it is this thread's only if this
  // thread holds the GIL.
  PyThreadState* const mine = PyGILState_GetThisThreadState();
  if (mine != nullptr && pybind11::detail::get_thread_state_unchecked() == mine) {
    std::destroy_at(&gil_);
  }
}

}  // namespace orbrix::python
