#include "orbrix/cqg/api_host.hpp"

#include <fmt/format.h>
#include <pthread.h>

#include <stdexcept>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/registry.hpp"
#include "orbrix/cqg/sink_internal.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "orbrix/cqg/vendor_ids.hpp"

namespace orbrix::cqg {
namespace {

using namespace std::chrono_literals;

// Creates a sink and connects it to the source's events.
std::shared_ptr<CELSinkBase> connect_sink(const automation::DispatchPtr& source,
                                          const SinkClass& sinkType) {
  auto sink = sinkType();
  if (!sink) {
    throw std::invalid_argument("the sink class made no sink");
  }
  source->advise(sink);
  return sink;
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

}  // namespace

ApiHost::ApiHost() : ApiHost(Options{}) {}

ApiHost::ApiHost(Options options) : options_(std::move(options)) {
  // The vendor's type library must be there before any sink can map events.
  (void)vendor_type_library();
}

ApiHost::~ApiHost() {
  if (thread.joinable()) {
    try {
      Shutdown();
    } catch (...) {
      // Destructors do not throw; the worker has been joined by Shutdown.
    }
  }
}

std::shared_ptr<CELSinkBase> ApiHost::Init(const SinkClass& sinkType,
                                           const CustomConfiguration& customAPIConfiguration) {
  if (thread.joinable() || shut_down_) {
    throw std::logic_error("ApiHost::Init runs once per host");
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
  bool prepared = false;
  auto fail = [&](std::exception_ptr error) {
    if (prepared) {
      Trace(fmt::format("cel_threadfunc stopped by an error: {}", describe(error)));
    } else {
      worker_error_ = std::move(error);
      handoff_.set();
    }
  };
  try {
    Trace("COM framework is initializing...");
    automation::co_initialize();
    Trace("COM framework is initialized!");
    {
      // The worker's own references; they live until it leaves its pump.
      automation::DispatchPtr cqgCELLocal;
      std::shared_ptr<SinkInternal> sinkInternal;
      try {
        Trace("CQG.CQGCEL.4 creation...");
        cqgCELLocal = automation::create_object(kCqgProgId);
        Trace("CQG.CQGCEL.4 created!");
        Trace("Marshal CQGCEL in stream");
        cqgCELStream = automation::marshal_inter_thread_interface_in_stream(cqgCELLocal);
        Trace("CQGCEL is marshaled in stream");
        Trace("Internal sink subscription to events");
        sinkInternal = std::static_pointer_cast<SinkInternal>(
            connect_sink(cqgCELLocal, sink_class<SinkInternal>()));
        Trace("Internal sink subscribed");
        Trace("Sink subscription to events");
        sink = connect_sink(cqgCELLocal, sinkType);
        Trace("Sink subscribed");
        sinkInternal->Init(eventCELStarted, *this);
        Trace("Internal sink is initialized");
        eventAllPrepared.set();
        prepared = true;
        handoff_.set();
        Trace("Starting message pumping..");
        pumpMessages();
      } catch (...) {
        fail(std::current_exception());
      }
    }
    // Uninitialised on every path, also after a failed pump, so queued
    // calls are failed and later ones refused instead of hanging.
    Trace("COM framework is uninitializing...");
    automation::co_uninitialize();
    Trace("COM framework is uninitialized!");
  } catch (...) {
    fail(std::current_exception());
  }
  worker_ended_.set();
}

void ApiHost::pumpMessages() {
  automation::WaitHandle* handles[] = {&shutdownEvent};
  for (;;) {
    const std::uint32_t res = options_.message_wait ? options_.message_wait(handles)
                                                    : automation::msg_wait_for_multiple_objects(
                                                          handles, false, automation::kInfinite,
                                                          automation::kQsAllEvents);
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
  const auto configuration = [this] { return cqgCEL.object("APIConfiguration"); };
  configuration().put("CollectionsThrowException", false);
  configuration().put("NewInstrumentChangeMode", true);
  configuration().put("ReadyStatusCheck", 0);
  configuration().put("TimeZoneCode", vendor_constant("tzChina"));
  configuration().put("IncludeOrderTransactions", true);
  configuration().put("UseOrderSide", true);
  if (customAPIConfiguration) {
    Trace("CQGCEL custom configuring...");
    customAPIConfiguration(configuration());
  }
}

void ApiHost::startupCel() {
  Trace("Startup CQGCEL..");
  cqgCEL.call("Startup");
  Trace("Waiting for CQGCEL start..");
  // Bounded, and cut short if the worker dies: the vendor may answer neither
  // with its start nor with a data error.
  const auto deadline = std::chrono::steady_clock::now() + options_.startup_timeout;
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
  if (shut_down_.exchange(true)) {
    return;
  }
  Trace("CQGCEL is being shut down..");
  std::exception_ptr vendor_error;
  if (cqgCEL) {
    try {
      cqgCEL.call("Shutdown");
    } catch (...) {
      vendor_error = std::current_exception();
    }
  }
  shutdownEvent.set();
  if (thread.joinable()) {
    thread.join();
  }
  if (vendor_error) {
    std::rethrow_exception(vendor_error);
  }
  Trace("CQGCEL is shut down.");
}

void ApiHost::SetError() {
  errorHappened = true;
}

}  // namespace orbrix::cqg
