#include "orbrix/cqg/api_host.hpp"

#include <fmt/format.h>
#include <pthread.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "embedded_server.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/common/durations.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/cqg/sink_internal.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/cel_views/views.hpp"
#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kSimulatorInUse =
    "CQG.CQGCEL.4 is the orbrix CQGCEL simulator, not the vendor's server: market data is "
    "simulated and orders are paper-traded (ORBRIX_CQG_SIMULATOR=off turns it off)";

// Creates a sink and connects it to the source's events; returns the cookie.
automation::Cookie connect_sink(const automation::DispatchPtr& source,
                                const std::shared_ptr<CELSinkBase>& sink) {
  if (!sink) {
    throw std::invalid_argument("the sink class made no sink");
  }
  return source->advise(sink);
}

std::string describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

// A line of the worker's that nobody can receive a failure of (after the
// object was handed over): if standard output cannot take it, the failure
// goes to the error reporter instead of ending the thread.
void trace_on_worker(std::string_view message) noexcept {
  try {
    Trace(message);
  } catch (const std::exception& e) {
    automation::report_error(
        fmt::format("cel_threadfunc: {} (while writing \"{}\")", e.what(), std::string(message)));
  } catch (...) {
    automation::report_error("cel_threadfunc: a line could not be written");
  }
}

}  // namespace

bool simulator_enabled_by_environment() {
  const char* v = std::getenv("ORBRIX_CQG_SIMULATOR");
  if (!v) {
    return detail::embedded_server_by_default();
  }
  const std::string_view value(v);
  if (value == "off" || value == "0" || value == "OFF" || value == "false") {
    return false;
  }
  if (value == "on" || value == "1" || value == "ON" || value == "true") {
    return true;
  }
  return detail::embedded_server_by_default();
}

ApiHost::ApiHost() : ApiHost(Options{}) {}

ApiHost::ApiHost(Options options) : options_(std::move(options)) {
  // A time-out past any clock is no limit (its deadline saturates); one at
  // or below 0 would give up before the vendor could answer.
  const auto no_limit = std::chrono::milliseconds::max();
  check_duration("ApiHost::Options::startup_timeout", options_.startup_timeout,
                 std::chrono::milliseconds(1), no_limit);
  check_duration("ApiHost::Options::call_timeout", options_.call_timeout,
                 std::chrono::milliseconds(1), no_limit);
  if (options_.use_simulator) {
    detail::register_embedded_server();
  }
  // The vendor's type library must be there before any sink can map events.
  (void)vendor_type_library();
}

ApiHost::~ApiHost() {
  if (thread.joinable()) {
    try {
      Shutdown();
    } catch (...) {
      // Destructors do not throw; Shutdown has joined the worker.
    }
  }
  if (thread.joinable()) {
    // Only if Shutdown could not even start: never destroy a running thread.
    shutdownEvent.set();
    thread.join();
  }
}

std::shared_ptr<CELSinkBase> ApiHost::Init(const SinkClass& sinkType,
                                           const CustomConfiguration& customAPIConfiguration) {
  if (init_started_.exchange(true)) {
    throw std::logic_error(
        "ApiHost::Init runs once per host: this host was already started (a failed start is not "
        "retried; use a new ApiHost)");
  }
  thread = std::thread([this, sinkType] {
    pthread_setname_np(pthread_self(), "cel_threadfunc");
    threadedFunction(sinkType);
  });
  Trace("Waiting for CQGCEL creation..");
  handoff_.wait_forever();
  if (worker_error_) {
    // The worker failed before the object was ready; it has ended (or is
    // ending) on its own.
    thread.join();
    std::rethrow_exception(worker_error_);
  }
  Trace("CQGCEL is created!");
  Trace("Marshaled CQGCEL from stream");
  cqgCEL = automation::Object(automation::get_interface_and_release_stream(*cqgCELStream));
  cqgCELStream.reset();
  Trace("CQGCEL is marshaled from stream!");
  apiConfigurationSet(customAPIConfiguration);
  startupCel();
  if (errorHappened) {
    Trace("Error happened during CQGCEL start up!");
  }
  return sink;
}

void ApiHost::threadedFunction(const SinkClass& sinkType) {
  // Also when the thread is being ended under it (a binding's interpreter
  // finalizing while a hook runs): Shutdown and Init wait for this.
  struct Ended {
    automation::Event& ended;
    ~Ended() { ended.set(); }
  } ended{worker_ended_};
  try {
    run_worker(sinkType);
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    // run_worker hands every error over or reports it; this is the last
    // guard, so that nothing leaves the thread function.
    if (!handoff_.is_set()) {
      worker_error_ = std::current_exception();
      handoff_.set();
    }
  }
}

void ApiHost::run_worker(const SinkClass& sinkType) {
  bool prepared = false;
  // Before the hand-over an error (a line that cannot be written included)
  // is Init's to raise; after it, it is written and the pump ends.
  auto fail = [&](const std::exception_ptr& error) {
    if (prepared) {
      trace_on_worker(fmt::format("cel_threadfunc stopped by an error: {}", describe(error)));
    } else {
      worker_error_ = error;
      handoff_.set();
    }
  };
  try {
    Trace("COM framework is initializing...");
  } catch (...) {
    fail(std::current_exception());
    return;
  }
  automation::co_initialize();
  // Uninitialised on every path, also after a failed pump or while the
  // thread is being ended, so queued calls are failed and later ones
  // refused instead of hanging; the objects the apartment still holds for
  // proxies go with it. `worker_scope` is released on the worker just before.
  struct Uninitialise {
    std::shared_ptr<void> worker_scope;
    ~Uninitialise() {
      trace_on_worker("COM framework is uninitializing...");
      worker_scope.reset();
      automation::co_uninitialize();
      trace_on_worker("COM framework is uninitialized!");
    }
  } uninitialise;
  std::shared_ptr<void>& worker_scope = uninitialise.worker_scope;
  worker_apartment_hold_ = automation::Apartment::current();
  worker_apartment_hold_->set_call_timeout(options_.call_timeout);
  worker_apartment_.store(worker_apartment_hold_.get(), std::memory_order_release);
  {
    // The worker's own references; they live until it leaves its pump.
    // Disconnected while the apartment still runs, so no sink that keeps a
    // reference to the vendor object closes a cycle through it, and nothing
    // of the object or the sinks outlives the worker.
    struct Connections {
      automation::DispatchPtr cqgCELLocal;
      automation::Cookie internal_cookie = 0, sink_cookie = 0;
      ~Connections() {
        for (const auto cookie : {sink_cookie, internal_cookie}) {
          if (cookie != 0) {
            try {
              cqgCELLocal->unadvise(cookie);
            } catch (...) {
            }
          }
        }
      }
    } connections;
    automation::DispatchPtr& cqgCELLocal = connections.cqgCELLocal;
    automation::Cookie& internal_cookie = connections.internal_cookie;
    automation::Cookie& sink_cookie = connections.sink_cookie;
    std::shared_ptr<SinkInternal> sinkInternal;
    try {
      Trace("COM framework is initialized!");
      if (options_.worker_scope) {
        worker_scope = options_.worker_scope();
      }
      Trace("CQG.CQGCEL.4 creation...");
      cqgCELLocal = automation::create_object(kCqgProgId);
      Trace("CQG.CQGCEL.4 created!");
      if (detail::is_embedded_server(*cqgCELLocal)) {
        Trace(kSimulatorInUse);
      }
      Trace("Marshal CQGCEL in stream");
      cqgCELStream = automation::marshal_inter_thread_interface_in_stream(cqgCELLocal);
      Trace("CQGCEL is marshaled in stream");
      Trace("Internal sink subscription to events");
      sinkInternal = std::make_shared<SinkInternal>();
      internal_cookie = connect_sink(cqgCELLocal, sinkInternal);
      Trace("Internal sink subscribed");
      Trace("Sink subscription to events");
      auto connected = sinkType();
      sink_cookie = connect_sink(cqgCELLocal, connected);
      sink = std::move(connected);
      Trace("Sink subscribed");
      sinkInternal->Init(eventCELStarted, *this);
      Trace("Internal sink is initialized");
      eventAllPrepared.set();
      prepared = true;
      handoff_.set();
      Trace("Starting message pumping..");
      pumpMessages();
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      fail(std::current_exception());
    }
  }
}

void ApiHost::pumpMessages() {
  automation::WaitHandle* handles[] = {&shutdownEvent};
  for (;;) {
    // QS_ALLINPUT rather than QS_ALLEVENTS: it also wakes for messages sent
    // (not posted) to the worker's windows from other threads, which a COM
    // server may do from its own threads; QS_ALLEVENTS would leave them
    // waiting until something else wakes the pump.
    const std::uint32_t res =
        options_.message_wait ? options_.message_wait(handles)
                              : automation::msg_wait_for_multiple_objects(
                                    handles, false, automation::kInfinite, automation::kQsAllInput);
    if (res == automation::kWaitObject0) {
      break;
    } else if (res == automation::kWaitObject0 + 1) {
      if (automation::pump_waiting_messages()) {
        break;
      }
    } else {
      throw std::runtime_error("unexpected win32wait return value");
    }
  }
}

void ApiHost::apiConfigurationSet(const CustomConfiguration& customAPIConfiguration) {
  Trace("CQGCEL default configuring...");
  // Each setting on the object as read from cqgCEL.APIConfiguration then.
  const auto configuration = [this] { return vendor::Cel(cqgCEL).APIConfiguration(); };
  vendor::ApiConfiguration(configuration()).CollectionsThrowException(false);
  vendor::ApiConfiguration(configuration()).NewInstrumentChangeMode(true);
  vendor::ApiConfiguration(configuration()).ReadyStatusCheck(0);
  vendor::ApiConfiguration(configuration()).TimeZoneCode(vendor_constant("tzChina"));
  vendor::ApiConfiguration(configuration()).IncludeOrderTransactions(true);
  vendor::ApiConfiguration(configuration()).UseOrderSide(true);
  if (customAPIConfiguration) {
    Trace("CQGCEL custom configuring...");
    customAPIConfiguration(configuration());
  }
}

void ApiHost::startupCel() {
  Trace("Startup CQGCEL..");
  vendor::Cel(cqgCEL).Startup();
  Trace("Waiting for CQGCEL start..");
  // Bounded, and cut short if the worker dies: the vendor may answer neither
  // with its start nor with a data error.
  const auto deadline = deadline_after<std::chrono::steady_clock>(std::chrono::steady_clock::now(),
                                                                  options_.startup_timeout);
  while (!eventCELStarted.wait_until(std::min(deadline, std::chrono::steady_clock::now() + 50ms))) {
    if (worker_ended_.is_set()) {
      throw std::runtime_error("CQGCEL start-up failed: the API host's worker thread has ended");
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error(
          fmt::format("CQGCEL start-up timed out: no OnCELStarted or OnDataError within {} ms",
                      options_.startup_timeout.count()));
    }
  }
  Trace("CQGCEL has started.");
}

void ApiHost::Shutdown() {
  if (on_worker_thread()) {
    throw std::logic_error(
        "ApiHost::Shutdown cannot run on the API host's worker thread (inside a vendor event "
        "handler): it waits for that thread to end");
  }
  MutexLock lock(shutdown_mutex_);
  if (shut_down_) {
    return;  // done, by an earlier call or by the one this call waited for
  }
  shut_down_ = true;
  shutting_down_.store(true, std::memory_order_release);
  // Every step is tried and the worker joined whatever fails; the first
  // failure is raised at the end.
  std::exception_ptr failure;
  auto attempt = [&failure](auto&& step) {
    try {
      step();
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      }
    }
  };
  attempt([] { Trace("CQGCEL is being shut down.."); });
  if (cqgCEL) {
    attempt([this] { vendor::Cel(cqgCEL).Shutdown(); });
  }
  shutdownEvent.set();
  if (thread.joinable()) {
    thread.join();
  }
  // A stream Init never took would keep the vendor object alive.
  cqgCELStream.reset();
  if (failure) {
    std::rethrow_exception(failure);
  }
  Trace("CQGCEL is shut down.");
}

void ApiHost::SetError() {
  errorHappened = true;
}

bool ApiHost::on_worker_thread() const noexcept {
  const auto* worker = worker_apartment_.load(std::memory_order_acquire);
  return worker != nullptr && automation::Apartment::current().get() == worker;
}

}  // namespace orbrix::cqg
