#pragma once

#include <atomic>
#include <chrono>
#include <concepts>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <thread>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/event.hpp"
#include "orbrix/automation/marshal.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/automation/wait.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/cqg/cel_sink_base.hpp"

namespace orbrix::cqg {

// Makes a new, connected-to-nothing sink; the worker calls it to build the
// caller's sink.
using SinkClass = std::function<std::shared_ptr<CELSinkBase>()>;

template <class Sink>
requires std::derived_from<Sink, CELSinkBase> && std::default_initializable<Sink> SinkClass
sink_class() {
  return [] { return std::make_shared<Sink>(); };
}

// Applies extra vendor configuration to the APIConfiguration object.
using CustomConfiguration = std::function<void(const automation::Object& apiConfiguration)>;

// Whether the embedded simulator stands in for the vendor's server: the
// environment variable ORBRIX_CQG_SIMULATOR "off" (or "0") says no, "on" (or
// "1") says yes; unset, the build decides: yes in the portable build, no on
// Windows, where "CQG.CQGCEL.4" is the vendor's installed COM server.
bool simulator_enabled_by_environment();

// The apartment in which the vendor object CQGCEL lives: a worker thread
// "cel_threadfunc" that initialises the apartment, creates "CQG.CQGCEL.4",
// connects the internal sink and the caller's sink, marshals the object to
// the caller and pumps messages until Shutdown. Every vendor event, and so
// every sink handler, runs on that worker. One host runs one vendor object
// and one worker; it is not restarted after Shutdown.
class ApiHost {
 public:
  // How a host starts: its time-outs, whether the simulator stands in for
  // the vendor, and what runs on the worker.
  struct Options {
    // How long Init waits for the vendor to report its start (or a data
    // error) before it gives up with an error. Both time-outs: 1 ms or more
    // (the constructor raises std::invalid_argument naming the option
    // otherwise); one too long for the clock to reach means no limit.
    std::chrono::milliseconds startup_timeout{std::chrono::seconds(60)};
    // How long a call from another thread waits for the worker to take it
    // up before it fails with automation::CallTimeoutError naming the
    // member (the worker is blocked, e.g. a handler waits on a lock the
    // caller holds).
    std::chrono::milliseconds call_timeout{std::chrono::seconds(60)};
    // Whether the embedded simulator stands in for "CQG.CQGCEL.4" when no
    // other class is registered under it (see
    // simulator_enabled_by_environment); off, a missing vendor server fails
    // Init with "no class is registered". The Windows build has no
    // simulator: asking for it there makes the constructor raise
    // std::logic_error.
    bool use_simulator = simulator_enabled_by_environment();
    // Called on the worker once its apartment is initialised, before the
    // vendor object is created; what it returns is released on the worker
    // just before the apartment is uninitialised. For a server that must be
    // registered inside the worker's apartment (a test's COM class object).
    std::function<std::shared_ptr<void>()> worker_scope;
    // Replaces the pump's message wait (diagnostics and tests); empty means
    // msg_wait_for_multiple_objects.
    std::function<std::uint32_t(std::span<automation::WaitHandle* const>)> message_wait;
  };

  // Creates the events; starts nothing. Registers the simulator as the
  // stand-in vendor server when Options::use_simulator says so.
  ApiHost();
  explicit ApiHost(Options options);
  // Shuts down (as Shutdown, errors swallowed) if the worker still runs.
  ~ApiHost();
  ApiHost(const ApiHost&) = delete;
  ApiHost& operator=(const ApiHost&) = delete;

  // Starts the worker, takes the marshalled vendor object into `cqgCEL`,
  // configures and starts the vendor library, and returns the connected
  // sink. Blocks until the vendor reports its start or a data error (then
  // `errorHappened` is true and the sink is still returned). Raises the
  // worker's own error when it fails before the object is ready (e.g. no
  // class registered as "CQG.CQGCEL.4"), and std::runtime_error when the
  // vendor reports nothing within Options::startup_timeout. A host starts
  // once: a second Init, also after a failed one, raises std::logic_error
  // at once. Calling thread (not the worker).
  std::shared_ptr<CELSinkBase> Init(const SinkClass& sinkType,
                                    const CustomConfiguration& customAPIConfiguration);
  template <class Sink>
  std::shared_ptr<Sink> Init(const CustomConfiguration& customAPIConfiguration) {
    return std::static_pointer_cast<Sink>(Init(sink_class<Sink>(), customAPIConfiguration));
  }

  // Body of the worker thread; Init starts it. Never throws: an error before
  // the object is ready is handed to Init, a later one is written with
  // Trace, and the apartment is uninitialised in every case.
  void threadedFunction(const SinkClass& sinkType);
  // The worker's message loop: returns when `shutdownEvent` is signalled or
  // a quit message arrives; raises "unexpected win32wait return value" for
  // any other result of the wait. Worker thread.
  void pumpMessages();
  // Sets the six fixed APIConfiguration properties, then runs the custom
  // step (when given) on the configuration object. Calling thread.
  void apiConfigurationSet(const CustomConfiguration& customAPIConfiguration);
  // Calls CQGCEL.Startup() and waits for `eventCELStarted` (bounded, see
  // Init). Calling thread.
  void startupCel();
  // Stops the vendor library, signals the worker and joins it, then drops
  // the host's references to the vendor object and the sink. The worker is
  // joined whatever fails on the way (the vendor call, a line that cannot be
  // written); the first such error is raised after. A later or concurrent
  // call returns once the worker has ended, without doing it again. Any
  // thread but the worker's (there it raises std::logic_error); blocks
  // until the worker ends.
  void Shutdown();
  // Records a start-up or data error. Any thread.
  void SetError();

  // True on the worker thread (inside a vendor event handler): there an
  // operation that waits for a vendor event would wait in vain. Any thread.
  bool on_worker_thread() const noexcept;
  // True from the moment Shutdown begins (before it stops the vendor
  // library), so a sink can release the operations that wait on the
  // vendor. Any thread.
  bool shutting_down() const noexcept { return shutting_down_.load(std::memory_order_acquire); }

  // Set when the vendor reports its start, and when Init has connected
  // the sinks and marshalled the object. Any thread may wait on them.
  automation::Event eventCELStarted;
  automation::Event eventAllPrepared;
  // Auto-reset, initially not signalled; ends the worker's pump.
  automation::WaitHandle shutdownEvent{/*manual_reset=*/false, /*initial_state=*/false};
  std::atomic<bool> errorHappened{false};  // the vendor reported a data error at start-up
  // The vendor object as the calling thread reaches it (a proxy into the
  // worker's apartment). Set by Init.
  automation::Object cqgCEL;
  // The caller's connected sink. Written by the worker before it releases
  // Init, read after; released by Shutdown.
  std::shared_ptr<CELSinkBase> sink;

 private:
  void run_worker(const SinkClass& sinkType);

  // Constant after construction.
  const Options options_;

  // Written by the worker before it releases `handoff_`, read by Init after.
  std::thread thread;
  std::shared_ptr<automation::MarshalStream> cqgCELStream;
  std::exception_ptr worker_error_;
  automation::Event handoff_;
  automation::Event worker_ended_;
  // The worker's apartment, for on_worker_thread; the shared reference
  // keeps the address from being reused while the host lives.
  std::shared_ptr<automation::Apartment> worker_apartment_hold_;
  std::atomic<const automation::Apartment*> worker_apartment_{nullptr};

  std::atomic<bool> init_started_{false};
  std::atomic<bool> shutting_down_{false};
  // Held for the whole of Shutdown, so a concurrent call waits for it.
  Mutex shutdown_mutex_;
  bool shut_down_ GUARDED_BY(shutdown_mutex_) = false;
};

}  // namespace orbrix::cqg
