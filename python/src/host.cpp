// ApiHost and the module's free names: Trace, TIMEOUT, QuoteType2String,
// TickType2String, convert_orderstatus_cqg2eng.
//
// Init(BrokerLink, custom_config) starts the worker and returns the link.
// Init and Shutdown release the GIL while they wait: the worker's hooks take
// it. See host.hpp for who keeps whom alive.

#include "host.hpp"

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bindings.hpp"
#include "live_counts.hpp"
#include "orbrix/common/mutex.hpp"
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

// Every host Python made, for the shutdown at exit.
struct Registry {
  Mutex mutex;
  std::vector<std::weak_ptr<cqg::ApiHost>> hosts GUARDED_BY(mutex);
};

Registry& registry() {
  static Registry r;
  return r;
}

void remember(const HostHandle& host) {
  Registry& r = registry();
  MutexLock lock(r.mutex);
  std::erase_if(r.hosts, [](const auto& h) { return h.expired(); });
  r.hosts.push_back(host);
}

// Whether the host runs a worker that a shutdown would stop.
bool running(const cqg::ApiHost& host) {
  return !host.cqgCEL.is_null() && !host.shutting_down();
}

// Shuts a running host down with the GIL released; an error is traced (it
// is being let go, nobody could take it). GIL held.
void shut_down_quietly(cqg::ApiHost& host) {
  py::gil_scoped_release released;
  try {
    host.Shutdown();
  } catch (const std::exception& e) {
    cqg::Trace(std::string("ApiHost.Shutdown while releasing the host: ") + e.what());
  }
}

HostHandle make_host(std::optional<bool> use_simulator, double startup_timeout,
                     double call_timeout) {
  cqg::ApiHost::Options options;
  if (use_simulator) {
    options.use_simulator = *use_simulator;
  }
  options.startup_timeout = timeout_millis(startup_timeout, "startup_timeout");
  options.call_timeout = timeout_millis(call_timeout, "call_timeout");
  auto owner = std::make_shared<CountedHost>(std::move(options));
  auto host = released_without_gil(HostHandle(owner, &owner->host));
  remember(host);
  return host;
}

py::object init(const py::object& self, const py::object& sink_class,
                const std::optional<py::function>& custom) {
  const auto host = self.cast<HostHandle>();
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
  auto held = released_without_gil(std::move(link),
                                   LinkKeeps{host, std::make_shared<Counted>(live_counts().links)});
  py::object link_object = py::cast(std::move(held));
  py::setattr(self, "_link", link_object);
  return link_object;
}

// Drops the host's reference to its link and the link's to its gateway.
void release_session(const py::object& host) {
  const py::dict attributes = host.attr("__dict__");
  if (!attributes.contains("_link")) {
    return;
  }
  const py::object link = attributes["_link"];
  PyDict_DelItemString(attributes.ptr(), "_link");
  const py::dict link_attributes = link.attr("__dict__");
  if (link_attributes.contains("_gateway")) {
    PyDict_DelItemString(link_attributes.ptr(), "_gateway");
  }
}

void shutdown(const py::object& self) {
  const auto host = self.cast<HostHandle>();
  std::exception_ptr error;
  {
    py::gil_scoped_release released;
    try {
      host->Shutdown();
    } catch (...) {
      error = std::current_exception();
    }
  }
  release_session(self);
  if (error) {
    std::rethrow_exception(error);
  }
}

// The collector clears a host only after shutting it down, so the gateway
// its link keeps outlives the worker that calls it. On the host's own worker
// (a collection that a hook's allocation started) it cannot: the host is
// left for a later collection.
int clear_host(PyObject* self) {
  try {
    const auto host = py::reinterpret_borrow<py::object>(self).cast<HostHandle>();
    if (host && running(*host)) {
      if (host->on_worker_thread()) {
        return 0;
      }
      shut_down_quietly(*host);
    }
  } catch (const std::exception& e) {
    cqg::Trace(std::string("ApiHost: while the collector released a host: ") + e.what());
  }
  return py::detail::pybind11_clear(self);
}

}  // namespace

bool shut_down_before_release(const HostHandle& host) {
  if (!host || !running(*host)) {
    return true;
  }
  if (host->on_worker_thread()) {
    return false;
  }
  shut_down_quietly(*host);
  return true;
}

HostHandle host_kept_by_link(const std::shared_ptr<cqg::BrokerLink>& link) {
  const auto* keeps = std::get_deleter<ReleaseWithoutGil<cqg::BrokerLink, LinkKeeps>>(link);
  return keeps ? keeps->also.host : nullptr;
}

namespace {
std::atomic<bool> shutdown_at_exit{true};
}  // namespace

void shut_down_live_hosts() {
  if (!shutdown_at_exit.load()) {
    return;
  }
  std::vector<HostHandle> live;
  {
    Registry& r = registry();
    MutexLock lock(r.mutex);
    for (const auto& weak : r.hosts) {
      if (auto host = weak.lock(); host && running(*host)) {
        live.push_back(std::move(host));
      }
    }
  }
  for (const auto& host : live) {
    if (!host->on_worker_thread()) {
      shut_down_quietly(*host);
    }
  }
  // Released with the GIL released: the last reference destroys the host.
  py::gil_scoped_release released;
  live.clear();
}

void bind_host(py::module_& m) {
  py::class_<cqg::ApiHost, HostHandle>(m, "ApiHost", py::dynamic_attr(),
                                       py::custom_type_setup([](PyHeapTypeObject* heap_type) {
                                         heap_type->ht_type.tp_clear = &clear_host;
                                       }))
      .def(py::init(&make_host), py::kw_only(), py::arg("use_simulator") = py::none(),
           py::arg("startup_timeout") = 60.0, py::arg("call_timeout") = 60.0,
           "A host for one vendor object; use_simulator None follows ORBRIX_CQG_SIMULATOR.")
      .def("Init", &init, py::arg("sink_class"), py::arg("custom_config") = py::none(),
           "Starts the worker and the vendor library and returns the connected BrokerLink. "
           "custom_config(configuration) may set more vendor configuration.")
      .def("Shutdown", &shutdown)
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

  m.def(
      "_set_shutdown_at_exit", [](bool on) { shutdown_at_exit.store(on); }, py::arg("on"),
      "Whether the hosts still running are shut down at exit (tests turn it off to check "
      "what a hook meets when the interpreter finalizes under it).");
  // Before the interpreter finalizes, while hooks may still take the GIL.
  py::module_::import("atexit").attr("register")(py::cpp_function(&shut_down_live_hosts));
}

}  // namespace orbrix::python
