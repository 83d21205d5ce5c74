#include "interruptible.hpp"

#include <algorithm>

namespace orbrix::python {

void check_python_signals() {
  pybind11::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) {
    throw pybind11::error_already_set();
  }
}

bool wait_interruptibly(const automation::Event& event,
                        std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    bool set = false;
    {
      pybind11::gil_scoped_release released;
      set = event.wait_until(
          std::min(deadline, std::chrono::steady_clock::now() + automation::kInterruptionInterval));
    }
    if (set) {
      return true;
    }
    if (PyErr_CheckSignals() != 0) {
      throw pybind11::error_already_set();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
  }
}

}  // namespace orbrix::python
