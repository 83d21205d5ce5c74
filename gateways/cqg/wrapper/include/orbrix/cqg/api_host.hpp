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

// The apartment in which the vendor object CQGCEL lives: a worker thread
// "cel_threadfunc" that initialises the apartment, creates "CQG.CQGCEL.4",
// connects the internal sink and the caller's sink, marshals the object to
// the caller and pumps messages until Shutdown. Every vendor event, and so
// every sink handler, runs on that worker. One host runs one vendor object
// and one worker; it is not restarted after Shutdown.
class ApiHost {
 public:
  struct Options {
    // How long Init waits for the vendor to report its start (or a data
    // error) before it gives up with an error.
    std::chrono::milliseconds startup_timeout{std::chrono::seconds(60)};
    // Replaces the pump's message wait (diagnostics and tests); empty means
    // msg_wait_for_multiple_objects.
    std::function<std::uint32_t(std::span<automation::WaitHandle* const>)> message_wait;
  };

  // Creates the events; starts nothing.
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
  // vendor reports nothing within Options::startup_timeout. Calling thread.
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
  // Stops the vendor library, signals the worker and joins it. The worker is
  // joined even when the vendor call fails; that error is then raised.
  // A second call does nothing. Calling thread; blocks until the worker ends.
  void Shutdown();
  // Records a start-up or data error. Any thread.
  void SetError();

  automation::Event eventCELStarted;
  automation::Event eventAllPrepared;
  // Auto-reset, initially not signalled; ends the worker's pump.
  automation::WaitHandle shutdownEvent{/*manual_reset=*/false, /*initial_state=*/false};
  std::atomic<bool> errorHappened{false};
  // The vendor object as the calling thread reaches it (a proxy into the
  // worker's apartment). Set by Init.
  automation::Object cqgCEL;
  // The caller's connected sink. Written by the worker before it releases
  // Init, read after.
  std::shared_ptr<CELSinkBase> sink;

 private:
  Options options_;
  std::thread thread;
  std::shared_ptr<automation::MarshalStream> cqgCELStream;
  // Released by the worker once the object is ready or the worker failed
  // first; `worker_error_` is written before.
  automation::Event handoff_;
  automation::Event worker_ended_;
  std::exception_ptr worker_error_;
  std::atomic<bool> shut_down_{false};
};

}  // namespace orbrix::cqg
