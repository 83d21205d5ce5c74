// Loops for the hook-path benchmark (bench/python_hooks.py): the same quote
// handed N times from a thread of C++'s own (as the API host's worker is)
// to a Python gateway's process_quote through the hook, and to a plain
// Python function by a bare pybind11 call (taking the GIL with the thread
// state kept, as the hooks do). Each returns the seconds taken.

#include <chrono>
#include <thread>

#include "bindings.hpp"
#include "orbrix/core/base_gateway.hpp"
#include "orbrix/core/quote.hpp"
#include "thread_state.hpp"
#include "typed_object.hpp"

namespace orbrix::python {

namespace {

template <class Body>
double timed_on_a_cpp_thread(Body&& body) {
  py::gil_scoped_release released;
  double seconds = 0;
  std::thread worker([&] {
    const auto start = std::chrono::steady_clock::now();
    body();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  });
  worker.join();
  return seconds;
}

}  // namespace

void bind_bench_support(py::module_& m) {
  m.def(
      "_hook_loop",
      [](BaseGateway& gateway, const Quote& quote, long n) {
        return timed_on_a_cpp_thread([&] {
          for (long i = 0; i < n; ++i) {
            gateway.process_quote(quote);
          }
        });
      },
      py::arg("gateway"), py::arg("quote"), py::arg("n"),
      "Benchmark: hands `quote` n times to the gateway's process_quote through the hook, from "
      "a C++ thread; returns the seconds taken.");
  m.def(
      "_bare_loop",
      [](const AnyCallable& fn, const Quote& quote, long n) {
        return timed_on_a_cpp_thread([&] {
          for (long i = 0; i < n; ++i) {
            py::gil_scoped_acquire gil;
            keep_thread_state(gil);
            fn(py::cast(quote, py::return_value_policy::copy));
          }
        });
      },
      py::arg("fn"), py::arg("quote"), py::arg("n"),
      "Benchmark: calls fn(quote) n times by a bare pybind11 call from a C++ thread; returns "
      "the seconds taken.");
}

}  // namespace orbrix::python
