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

std::shared_ptr<cqg::BrokerLink> init(
    const py::object& self, const py::type& sink_class,
    const std::optional<std::function<void(const automation::Object&)>>& custom) {
  const auto host = self.cast<HostHandle>();
  if (!sink_class.is(py::type::of<cqg::BrokerLink>())) {
    throw py::type_error("the API host's sink class is BrokerLink");
  }
  cqg::CustomConfiguration configure;
  if (custom) {
    // Called on this thread, inside Init, with the GIL released: pybind11's
    // wrapper of the Python callable takes it for the call (and hands it a
    // copy of the configuration object).
    configure = *custom;
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
  py::object link_object = py::cast(held);
  py::setattr(self, "_link", link_object);
  // Returned as the same Python object (pybind11 finds the registered
  // instance of the pointer).
  return held;
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
  py::class_<cqg::ApiHost, HostHandle>(
      m, "ApiHost", py::dynamic_attr(), py::custom_type_setup([](PyHeapTypeObject* heap_type) {
        heap_type->ht_type.tp_clear = &clear_host;
      }),
      R"doc(The apartment of the vendor object CQGCEL: one worker thread and one vendor session.

Init starts the worker thread, which creates "CQG.CQGCEL.4" (the vendor's
library, or the simulator this package embeds), and returns the connected
BrokerLink; Shutdown stops it. Every vendor event, and so every hook of
the engine's gateway, runs on that worker. A host starts once: it is not
restarted after Shutdown.

Lifetime: the host keeps its link, and the link its gateway, until
Shutdown, through references the garbage collector sees; a host still
running when the interpreter exits is shut down then (before
finalization). Call Shutdown when done: it is what releases the vendor
session.

Durations are in seconds; math.inf means no limit; NaN or a negative one
raises ValueError.)doc")
      .def(py::init(&make_host), py::kw_only(), py::arg("use_simulator") = py::none(),
           py::arg("startup_timeout") = 60.0, py::arg("call_timeout") = 60.0,
           R"doc(Makes a host; starts nothing (Init does).

use_simulator: True registers the embedded simulated CQGCEL as
"CQG.CQGCEL.4" when no other class is (a Simulator's, if one is open, is
used either way); False leaves the registration as it is; None follows the
environment variable ORBRIX_CQG_SIMULATOR ("on"/"1" or "off"/"0"; unset:
on in this build).
startup_timeout: seconds Init waits for the vendor to report its start.
call_timeout: seconds a call from another thread waits for the worker to
take it up before it fails with RuntimeError (the worker is blocked, e.g.
a hook waits on a lock the caller holds).
Raises ValueError for a time-out that is NaN or negative. Never blocks.)doc")
      .def("Init", &init, py::arg("sink_class"), py::arg("custom_config") = py::none(),
           R"doc(Starts the worker and the vendor library; returns the connected BrokerLink.

sink_class must be BrokerLink. custom_config, when given, is called once
on this thread, inside Init, with the vendor's APIConfiguration object (a
VendorObject) after the gateway's fixed settings, to set more of them.

Blocks (with the GIL released) until the vendor reports its start or a
data error, up to the host's startup_timeout; on a data error
errorHappened is True and the link is still returned. Ctrl-C is acted on
only after it returns. Call it on an engine thread, not from a hook.
Next, bind the engine's gateway with BrokerLink.Init.

Raises TypeError for another sink class; RuntimeError when the worker
fails before the vendor object is ready (no class registered as
"CQG.CQGCEL.4"), when the vendor reports nothing within startup_timeout,
and on a second call (a host starts once, also after a failed start);
whatever custom_config raises.)doc")
      .def(
          "Shutdown", &shutdown,
          R"doc(Stops the vendor library and the worker thread, then lets go of the link and its gateway.

Blocks (with the GIL released) until the worker has ended; hooks still
running finish first. From the moment it begins, operations of the link
waiting for the vendor on other threads end with DisconnectedError, and
new ones raise it. The worker is joined whatever fails on the way; the
first such error is raised after (RuntimeError). A later or concurrent
call returns once the worker has ended, without doing it again. Call it
from an engine thread: from a hook (the worker itself) it raises
RuntimeError.)doc")
      .def_property_readonly(
          "errorHappened", [](const cqg::ApiHost& h) { return h.errorHappened.load(); },
          "True once the vendor reported a data error (at start: Init still returned the link).")
      .def_property_readonly("shutting_down", &cqg::ApiHost::shutting_down,
                             "True from the moment Shutdown begins. Any thread.")
      .def_property_readonly(
          "cqgCEL", [](const cqg::ApiHost& h) { return h.cqgCEL; },
          "The vendor object CQGCEL, reached from the calling thread (each call is a round trip "
          "into the worker); a null (falsy) VendorObject before Init.");

  m.def("Trace", &cqg::Trace, py::arg("message"), py::call_guard<py::gil_scoped_release>(),
        "Writes '<OS thread id>: <message>' and a line end to standard output and flushes, as "
        "one locked write, so the lines of different threads never interleave (the gateway "
        "writes its own lines the same way). Any thread; releases the GIL. Raises RuntimeError "
        "when the write fails.");
  m.attr("TIMEOUT") = py::int_(std::chrono::seconds(cqg::TIMEOUT).count());
  m.def(
      "QuoteType2String", [](std::int64_t t) { return std::string(cqg::QuoteType2String(t)); },
      py::arg("quote_type"),
      "The English name of a vendor quote type value (qtAsk's gives 'Best ask'). Raises "
      "KeyError for a value that is not one of the vendor's quote types.");
  m.def(
      "TickType2String", [](std::int64_t t) { return std::string(cqg::TickType2String(t)); },
      py::arg("tick_type"),
      "The English name of a vendor tick price type value (tptAsk's gives 'Ask price'). "
      "Raises KeyError for a value that is not one of them.");
  m.def("convert_orderstatus_cqg2eng", &cqg::convert_orderstatus_cqg2eng, py::arg("status"),
        "The engine's OrderStatus of a vendor order status value (osInOrderBook's gives "
        "SUBMITTED). Raises ValueError for a value outside the table.");

  m.def(
      "_set_shutdown_at_exit", [](bool on) { shutdown_at_exit.store(on); }, py::arg("on"),
      "Whether the hosts still running are shut down at exit (tests turn it off to check "
      "what a hook meets when the interpreter finalizes under it).");
  // Before the interpreter finalizes, while hooks may still take the GIL.
  py::module_::import("atexit").attr("register")(py::cpp_function(&shut_down_live_hosts));
}

}  // namespace orbrix::python
