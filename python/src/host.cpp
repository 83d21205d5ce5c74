// ApiHost and the module's free names: Trace, TIMEOUT, QuoteType2String,
// TickType2String, convert_orderstatus_cqg2eng.
//
// Init(BrokerLink, custom_config) starts the worker and returns the link; the
// host keeps the link (and the link its gateway) alive, and the link keeps
// the C++ host alive, so a hook never outlives its gateway. Init and
// Shutdown release the GIL while they wait: the worker's hooks take it.

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <chrono>
#include <optional>
#include <string>

#include "bindings.hpp"
#include "host.hpp"
#include "live_counts.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "seconds.hpp"
#include "without_gil.hpp"

namespace orbrix::python {

namespace {

// The host and the count of live hosts, released together.
struct CountedHost {
  explicit CountedHost(cqg::ApiHost::Options options) : host(std::move(options)) {}
  Counted counted{live_counts().hosts};
  cqg::ApiHost host;
};

HostHandle make_host(std::optional<bool> use_simulator, double startup_timeout,
                     double call_timeout) {
  cqg::ApiHost::Options options;
  if (use_simulator) {
    options.use_simulator = *use_simulator;
  }
  options.startup_timeout = millis(startup_timeout);
  options.call_timeout = millis(call_timeout);
  auto owner = std::make_shared<CountedHost>(std::move(options));
  return released_without_gil(HostHandle(owner, &owner->host));
}

py::object init(const HostHandle& host, const py::object& sink_class,
                const std::optional<py::function>& custom) {
  if (!sink_class.is(py::type::of<cqg::BrokerLink>())) {
    throw py::type_error("the API host's sink class is BrokerLink");
  }
  cqg::CustomConfiguration configure;
  if (custom) {
    // Called on this thread, inside Init, with the GIL released.
    configure = [fn = *custom](const automation::Object& configuration) {
      py::gil_scoped_acquire gil;
      fn(py::cast(configuration, py::return_value_policy::copy));
    };
  }
  std::shared_ptr<cqg::BrokerLink> link;
  {
    py::gil_scoped_release released;
    link = std::static_pointer_cast<cqg::BrokerLink>(
        host->Init(cqg::sink_class<cqg::BrokerLink>(), configure));
  }
  {
    // The Python function must be released with the GIL held.
    cqg::CustomConfiguration drop = std::move(configure);
  }
  auto held = released_without_gil(
      std::move(link), std::make_pair(host, std::make_shared<Counted>(live_counts().links)));
  return py::cast(std::move(held));
}

}  // namespace

void bind_host(py::module_& m) {
  py::class_<cqg::ApiHost, HostHandle>(m, "ApiHost")
      .def(py::init(&make_host), py::kw_only(), py::arg("use_simulator") = py::none(),
           py::arg("startup_timeout") = 60.0, py::arg("call_timeout") = 60.0,
           "A host for one vendor object; use_simulator None follows ORBRIX_CQG_SIMULATOR.")
      .def("Init", &init, py::arg("sink_class"), py::arg("custom_config") = py::none(),
           py::keep_alive<1, 0>(),
           "Starts the worker and the vendor library and returns the connected BrokerLink. "
           "custom_config(configuration) may set more vendor configuration.")
      .def("Shutdown", &cqg::ApiHost::Shutdown, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("errorHappened",
                             [](const cqg::ApiHost& h) { return h.errorHappened.load(); })
      .def_property_readonly("shutting_down", &cqg::ApiHost::shutting_down)
      .def_property_readonly("cqgCEL", [](const cqg::ApiHost& h) { return h.cqgCEL; });

  m.def("Trace", &cqg::Trace, py::arg("message"), py::call_guard<py::gil_scoped_release>(),
        "Writes '<thread id>: <message>' as one line to standard output.");
  m.attr("TIMEOUT") = py::int_(std::chrono::seconds(cqg::TIMEOUT).count());
  m.def("QuoteType2String", [](std::int64_t t) { return std::string(cqg::QuoteType2String(t)); });
  m.def("TickType2String", [](std::int64_t t) { return std::string(cqg::TickType2String(t)); });
  m.def("convert_orderstatus_cqg2eng", &cqg::convert_orderstatus_cqg2eng);
}

}  // namespace orbrix::python
