#pragma once

// The parts of the extension module orbrix_cqg, each bound by one file.

#include <pybind11/pybind11.h>

namespace orbrix::python {

namespace py = pybind11;

void bind_errors(py::module_& m);         // errors.cpp
void bind_records(py::module_& m);        // records.cpp
void bind_securities(py::module_& m);     // securities.cpp
void bind_safe_call(py::module_& m);      // safe_call.cpp
void bind_gateway(py::module_& m);        // gateway.cpp
void bind_vendor_object(py::module_& m);  // vendor_object.cpp
void bind_host(py::module_& m);           // host.cpp
void bind_broker_link(py::module_& m);    // broker_link.cpp
void bind_simulator(py::module_& m);      // simulator.cpp
void bind_bot(py::module_& m);            // bot.cpp
void bind_live_counts(py::module_& m);    // live_counts.cpp
void bind_bench_support(py::module_& m);  // bench_support.cpp
void bind_backtest(py::module_& m);       // backtest.cpp
void bind_trace_sink(py::module_& m);     // trace_sink.cpp

}  // namespace orbrix::python
