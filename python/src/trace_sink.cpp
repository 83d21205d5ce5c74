// Where the gateway's traced lines go, from Python: set_trace_sink(fn) hands
// each traced message to fn instead of standard output (the package's
// trace_to_logging builds on it to feed the logging module).

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string_view>

#include "bindings.hpp"
#include "hook_gil.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::python {

namespace {

// A Python callable the C++ side may drop on any thread: it is released
// with the GIL, or left to the process while the interpreter finalizes.
struct HeldCallable {
  py::object fn;
  explicit HeldCallable(py::object f) : fn(std::move(f)) {}
  HeldCallable(const HeldCallable&) = delete;
  HeldCallable& operator=(const HeldCallable&) = delete;
  ~HeldCallable() {
    if (interpreter_finalizing()) {
      fn.release();
      return;
    }
    py::gil_scoped_acquire gil;
    fn = py::object();
  }
};

void set_sink(const std::optional<py::function>& fn) {
  if (!fn) {
    cqg::set_trace_sink(nullptr);
    return;
  }
  auto held = std::make_shared<HeldCallable>(*fn);
  cqg::set_trace_sink([held](std::string_view line) {
    const HookGil gil("the trace sink");
    if (!gil) {
      return;
    }
    try {
      held->fn(py::str(line.data(), line.size()));
    } catch (const py::error_already_set&) {
      // A sink that fails loses its line, never the gateway's work.
    }
  });
}

}  // namespace

void bind_trace_sink(py::module_& m) {
  m.def("set_trace_sink", &set_sink, py::arg("sink"),
        "Sends every line the gateway traces (Trace, and the few lines it writes without the "
        "thread prefix) to sink(line: str) instead of standard output; None restores standard "
        "output. The line is '<OS thread id>: <message>' without its line end (a message may "
        "span lines). sink is called on the thread that traced (often the API host's worker), "
        "with the GIL taken, possibly from several threads at once; what it raises is dropped "
        "with the line. trace_to_logging() builds on it.");
  // A Python sink must not outlive the interpreter.
  py::module_::import("atexit").attr("register")(
      py::cpp_function([] { cqg::set_trace_sink(nullptr); }));
}

}  // namespace orbrix::python
