// safe_call(fn, *args, **kwargs): fn's result, or None after its failure was
// handed to the reporter (the same reporter the C++ safe_call uses, so the
// gateway's own guarded calls report through it too). Only ordinary errors
// are caught: KeyboardInterrupt and SystemExit pass.

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <string>

#include "bindings.hpp"
#include "orbrix/core/safe_call.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

void bind_safe_call(py::module_& m) {
  m.def(
      "safe_call",
      [](const AnyCallable& fn, const py::args& args, const py::kwargs& kwargs) -> py::object {
        try {
          return fn(*args, **kwargs);
        } catch (const py::error_already_set& e) {
          if (!e.matches(PyExc_Exception)) {
            throw;
          }
          report_safe_call_failure(py::str(e.value()).cast<std::string>());
          return py::none();
        }
      },
      "Calls fn(*args, **kwargs) on this thread and returns its result; when it raises an "
      "Exception, hands the error's text to the reporter (one line on standard output unless "
      "set_safe_call_reporter replaced it) and returns None. KeyboardInterrupt and SystemExit "
      "pass through. Raises TypeError when fn is not callable.");

  // The reporter may be called from any thread; the wrapper pybind11 makes
  // of a Python callable takes the GIL for each call.
  m.def(
      "set_safe_call_reporter",
      [](std::optional<std::function<void(std::string)>> reporter) {
        if (!reporter) {
          set_safe_call_reporter(nullptr);
          return;
        }
        set_safe_call_reporter(
            [fn = std::move(*reporter)](std::string_view what) { fn(std::string(what)); });
      },
      py::arg("reporter"),
      "Replaces the reporter of every safe_call, the gateway's own guarded calls included "
      "(unsubscribe_bar): reporter(text) gets each failure's text. None restores the default, "
      "one line on standard output. The reporter may be called from any thread, several at "
      "once (it takes the GIL); what it raises is dropped and that one report goes to the "
      "default.");

  // A Python reporter must not outlive the interpreter.
  py::module_::import("atexit").attr("register")(
      py::cpp_function([] { set_safe_call_reporter(nullptr); }));
}

}  // namespace orbrix::python
